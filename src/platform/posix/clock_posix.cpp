#include <cerrno>
#include <ctime>

#include "platform/posix/system_posix.h"

namespace vt::platform::posix {

uint64_t MonotonicMs() {
    timespec ts{};
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return static_cast<uint64_t>(ts.tv_sec) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

uint32_t PosixClock::TickCount() {
    return static_cast<uint32_t>(MonotonicMs());
}

uint64_t PosixClock::TickCount64() {
    return MonotonicMs();
}

void PosixClock::Sleep(uint32_t milliseconds) {
    timespec request{static_cast<time_t>(milliseconds / 1000),
                     static_cast<long>(milliseconds % 1000) * 1000000L};
    timespec remaining{};
    while (nanosleep(&request, &remaining) != 0 && errno == EINTR) {
        request = remaining;
    }
}

}  // namespace vt::platform::posix

namespace vt::platform::posix {

uint64_t PosixClock::LocalTimeMs() {
    timespec ts{};
    clock_gettime(CLOCK_REALTIME, &ts);
    tm local{};
    localtime_r(&ts.tv_sec, &local);
    const int64_t seconds = static_cast<int64_t>(ts.tv_sec) + local.tm_gmtoff;
    return static_cast<uint64_t>(seconds) * 1000u + static_cast<uint64_t>(ts.tv_nsec) / 1000000u;
}

}  // namespace vt::platform::posix
