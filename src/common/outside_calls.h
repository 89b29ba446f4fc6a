// Which calls into outside libraries (the device library, the sensor SDK,
// the temperature library, the converter) are in progress, on which thread,
// since when: what the hang watch looks at.
//
// Cheap enough for every call: each thread that makes one gets a slot of
// its own the first time (a few atomics, never given back: the service's
// threads are few and live as long as it does), and a call stores its name
// and start on entry and clears the name on return. A call made from inside
// another (a library calling back into the service, which calls the library
// again) is part of the outer one. Threads beyond kSlots go unwatched.
#pragma once

#include <atomic>
#include <cstdint>

#include "platform/clock.h"

namespace vt {

class OutsideCalls {
  public:
    static constexpr int kSlots = 32;

    struct Slot {
        std::atomic<const char*> call{nullptr};  // null: none in progress
        std::atomic<uint64_t> since{0};          // the clock's tick count at entry
        std::atomic<const char*> thread{nullptr};
    };

    // The one registry of the process. Calls are timed by `clock` once it
    // is set (before, they are not recorded).
    static OutsideCalls& Process();
    void SetClock(platform::Clock* clock) { clock_ = clock; }
    platform::Clock* clock() const { return clock_; }

    // The name the calling thread's calls are reported under (static text).
    static void NameThisThread(const char* name);

    // The slot of the call in progress for the longest time, or null.
    const Slot* Oldest() const;

    Slot* SlotOfThisThread();

  private:
    std::atomic<platform::Clock*> clock_{nullptr};
    std::atomic<int> used_{0};
    Slot slots_[kSlots];
};

// One call into an outside library, from construction to destruction.
// `name` is static text naming the call ("devInfo", "sdkStart", ...).
class OutsideCall {
  public:
    explicit OutsideCall(const char* name);
    ~OutsideCall();
    OutsideCall(const OutsideCall&) = delete;
    // Whether the calling thread is inside one (for the tests' fakes).
    static bool OnThisThread();
    OutsideCall& operator=(const OutsideCall&) = delete;

  private:
    OutsideCalls::Slot* slot_ = nullptr;  // null: an inner or unwatched call
};

// Calls `fn(args...)` as the outside call `name`.
template <class Fn, class... Args>
auto Guarded(const char* name, Fn fn, Args... args) {
    OutsideCall call(name);
    return fn(args...);
}

}  // namespace vt
