// The crash hook's hand-over: the crashed thread waits for the dump writer
// a bounded time on the fake clock, and ends the process whatever the
// writer does.
#include "platform/crash_handoff.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <functional>
#include <future>
#include <thread>
#include <vector>

#include "fakes/fake_threads.h"

namespace vt::platform {
namespace {

using ::testing::ElementsAre;

struct Crash {
    uint32_t code;
    uint32_t thread;
    bool operator==(const Crash&) const = default;
};

// What the two function pointers reach; one test at a time.
struct Seen {
    std::vector<Crash> written;
    std::vector<Crash> ended;
    std::function<void()> duringWrite;
} g_seen;

void Write(const Crash& crash) {
    g_seen.written.push_back(crash);
    if (g_seen.duringWrite) {
        g_seen.duringWrite();
    }
}

void End(const Crash& crash) {
    g_seen.ended.push_back(crash);
}

class CrashHandoffTest : public ::testing::Test {
  protected:
    void SetUp() override { g_seen = {}; }
    fakes::FakeClock clock;
    fakes::FakeThreads threads{clock};
    std::unique_ptr<Event> crashed = threads.CreateManualResetEvent();
    std::unique_ptr<Event> written = threads.CreateManualResetEvent();
    CrashHandoff<Crash> handoff{*crashed, *written, Write, End};
};

// The writer hangs (a lock the crash left held): the process still ends,
// after exactly the bound, with the crash's own code.
TEST_F(CrashHandoffTest, AWriterThatNeverReturnsStillEndsTheProcessAfterTheBound) {
    std::promise<void> release;
    std::promise<void> writing;
    g_seen.duringWrite = [&] {
        writing.set_value();
        release.get_future().wait();
    };
    std::thread writer([this] { handoff.Serve(); });
    handoff.Crashed({0xC00000FD, 42});
    EXPECT_EQ(clock.TickCount64(), 10000u);
    EXPECT_THAT(g_seen.ended, ElementsAre(Crash{0xC00000FD, 42}));
    writing.get_future().wait();
    EXPECT_THAT(g_seen.written, ElementsAre(Crash{0xC00000FD, 42}));
    release.set_value();
    writer.join();
}

// An event whose Set runs the writer at once, as a writer thread that wins
// the race would.
class InlineWriterEvent final : public Event {
  public:
    void Set() override {
        set_ = true;
        if (writer) {
            writer();
        }
    }
    uint32_t Wait(uint32_t) override { return set_ ? kWaitObject0 : kWaitTimeout; }
    std::function<void()> writer;

  private:
    bool set_ = false;
};

// A dump written in time ends the process at once; a second crash meanwhile
// is not handed over again, and ends the process as well.
TEST_F(CrashHandoffTest, OneDumpThenTheEndWithoutWaitingOutTheBound) {
    InlineWriterEvent inlineCrashed;
    CrashHandoff<Crash> direct{inlineCrashed, *written, Write, End};
    inlineCrashed.writer = [&] { direct.Serve(); };
    direct.Crashed({5, 1});
    direct.Crashed({6, 2});
    EXPECT_THAT(g_seen.written, ElementsAre(Crash{5, 1}));
    EXPECT_THAT(g_seen.ended, ElementsAre(Crash{5, 1}, Crash{6, 2}));
    EXPECT_EQ(clock.TickCount64(), 0u);
}

}  // namespace
}  // namespace vt::platform
