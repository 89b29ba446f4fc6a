// Events and long-running work items.
#pragma once

#include <cstdint>
#include <memory>

namespace vt::platform {

inline constexpr uint32_t kInfinite = 0xFFFFFFFF;
inline constexpr uint32_t kWaitObject0 = 0;
inline constexpr uint32_t kWaitTimeout = 0x102;
inline constexpr uint32_t kWaitFailed = 0xFFFFFFFF;

// An event any thread may set or wait for. A manual-reset event stays set
// once set; an auto-reset event is cleared by the wait it ends, so each Set
// ends one wait (Sets with nobody waiting count as one).
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
    virtual std::unique_ptr<Event> CreateAutoResetEvent() = 0;
    // Waits until `first` or `second` (both made by this object) is set:
    // kWaitObject0 for the first, kWaitObject0 + 1 for the second (the first
    // when both are), kWaitTimeout after `milliseconds`, kWaitFailed. Only
    // the event that ends the wait is cleared, if it resets itself.
    virtual uint32_t WaitForEither(Event& first, Event& second, uint32_t milliseconds) = 0;
    // Runs fn(context) once on a thread that may block for as long as it
    // likes. False when nothing was queued, with LastError() set.
    virtual bool QueueLongRunning(WorkFunction fn, void* context) = 0;
    // Runs fn(context) on a new thread of its own that nobody waits for.
    // False when no thread was started, with LastError() set.
    virtual bool StartThread(WorkFunction fn, void* context) = 0;
    // Names the calling thread for debuggers, crash reports and the
    // system's thread lists (at most 15 characters show on Linux). Where
    // the system has no such name, nothing happens.
    virtual void NameCurrentThread(const char* name) = 0;
    virtual uint32_t LastError() = 0;

  protected:
    ~Threads() = default;
};

}  // namespace vt::platform
