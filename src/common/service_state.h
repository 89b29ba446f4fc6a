// What the desktop application switches over the pipe and the OLED job
// follows: written by one thread and read by the other, without a lock.
#pragma once

#include <atomic>
#include <cstdint>

namespace vt {

struct ServiceState {
    std::atomic<int32_t> enabled{0};   // the OLED job paints ("enable" / "disable")
    std::atomic<int32_t> disabled{0};  // the application turned the job off
    // When the application last said it is alive, on the service's tick
    // count; 0: not since the job (re)started.
    std::atomic<uint64_t> lastHeartbeat{0};
};

}  // namespace vt
