// Events and long-running work items.
#pragma once

#include <cstdint>
#include <memory>

namespace vt::platform {

inline constexpr uint32_t kInfinite = 0xFFFFFFFF;
inline constexpr uint32_t kWaitObject0 = 0;
inline constexpr uint32_t kWaitTimeout = 0x102;
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFF;

// A manual-reset event: once set it stays set. Any thread may set or wait.
class Event {
  public:
    virtual ~Event() = default;
    virtual void Set() = 0;
    // kWaitObject0 when set, kWaitTimeout after `milliseconds`, kWaitFailed.
    virtual uint32_t Wait(uint32_t milliseconds) = 0;
};

using WorkFunction = void (*)(void* context);

class Threads {
  public:
    // Not signalled, unnamed. Null on failure, with LastError() set.
    virtual std::unique_ptr<Event> CreateManualResetEvent() = 0;
    // Runs fn(context) once on a thread that may block for as long as it
    // likes. False when nothing was queued, with LastError() set.
    virtual bool QueueLongRunning(WorkFunction fn, void* context) = 0;
    // Runs fn(context) on a new thread of its own that nobody waits for.
    // False when no thread was started, with LastError() set.
    virtual bool StartThread(WorkFunction fn, void* context) = 0;
    virtual uint32_t LastError() = 0;

  protected:
    ~Threads() = default;
};

}  // namespace vt::platform
