// Time as the service sees it: millisecond tick counts and plain sleeps.
// Every timing rule of the core goes through this so tests can run it on a
// virtual clock. Any thread may call any operation.
#pragma once

#include <cstdint>

namespace vt::platform {

class Clock {
  public:
    // Milliseconds since an arbitrary start; the 32-bit count wraps.
    virtual uint32_t TickCount() = 0;
    virtual uint64_t TickCount64() = 0;
    virtual void Sleep(uint32_t milliseconds) = 0;
    // The local wall-clock time in milliseconds since an epoch of the
    // system's choosing; it may jump when the clock is set.
    virtual uint64_t LocalTimeMs() = 0;

  protected:
    ~Clock() = default;
};

}  // namespace vt::platform
