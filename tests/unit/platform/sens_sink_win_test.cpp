// The screen-saver sink as the COM event system sees it.
#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "platform/win32/sens_sink_win.h"

namespace vt::platform::win32 {
namespace {

class RecordingSink final : public ScreenSaverSink {
  public:
    void ScreenSaverStarted() override {
        seen.push_back("started");
        if (fail) {
            throw std::runtime_error("cooler gone");
        }
    }
    void ScreenSaverStopped() override { seen.push_back("stopped"); }
    std::vector<std::string> seen;
    bool fail = false;
};

// The owner's one reference, dropped at the end of the test.
struct Owned {
    explicit Owned(ScreenSaverSink& sink) : sens(*new TWISensLogon(sink)) {}
    ~Owned() { sens.Release(); }
    TWISensLogon& sens;
};

TEST(TWISensLogon, AnswersForItsThreeInterfacesOnly) {
    RecordingSink sink;
    Owned owned(sink);
    TWISensLogon& sens = owned.sens;
    EXPECT_EQ(sens.references(), 1);
    for (const IID* iid : {&IID_IUnknown, &IID_IDispatch, &kIIDISensLogon}) {
        void* object = nullptr;
        EXPECT_EQ(sens.QueryInterface(*iid, &object), S_OK);
        EXPECT_EQ(object, static_cast<ISensLogon*>(&sens));
    }
    EXPECT_EQ(sens.references(), 4);

    void* object = &sens;
    EXPECT_EQ(sens.QueryInterface(IID_IClassFactory, &object), E_NOINTERFACE);
    EXPECT_EQ(object, nullptr);
    EXPECT_EQ(sens.references(), 4);
    for (int i = 0; i < 3; ++i) {
        sens.Release();
    }
}

// COM's own reference outlives the owner's: its call after the close is
// cut off, and its late Release is the one that frees the sink.
TEST(TWISensLogon, TheLastReleaseFreesItEvenAfterTheOwnerLetGo) {
    RecordingSink sink;
    const long before = TWISensLogon::Objects();
    auto* sens = new TWISensLogon(sink);
    EXPECT_EQ(sens->AddRef(), 2u);  // COM's, for a call it dispatched
    EXPECT_TRUE(sens->Close(0));
    EXPECT_EQ(sens->Release(), 1u);  // the owner's
    EXPECT_EQ(TWISensLogon::Objects(), before + 1);
    EXPECT_EQ(sens->StopScreenSaver(nullptr), S_OK);
    EXPECT_TRUE(sink.seen.empty());
    EXPECT_EQ(sens->Release(), 0u);  // COM's, late
    EXPECT_EQ(TWISensLogon::Objects(), before);
}

TEST(TWISensLogon, OnlyTheScreenSaverEventsReachTheService) {
    RecordingSink sink;
    Owned owned(sink);
    TWISensLogon& sens = owned.sens;
    BSTR user = SysAllocString(L"someone");
    EXPECT_EQ(sens.Logon(user), S_OK);
    EXPECT_EQ(sens.Logoff(user), S_OK);
    EXPECT_EQ(sens.StartShell(user), S_OK);
    EXPECT_EQ(sens.DisplayLock(user), S_OK);
    EXPECT_EQ(sens.DisplayUnlock(user), S_OK);
    EXPECT_TRUE(sink.seen.empty());
    EXPECT_EQ(sens.StartScreenSaver(user), S_OK);
    EXPECT_EQ(sens.StopScreenSaver(user), S_OK);
    EXPECT_EQ(sink.seen, (std::vector<std::string>{"started", "stopped"}));
    SysFreeString(user);

    // Nothing of a failure reaches the event system's thread.
    sink.fail = true;
    EXPECT_EQ(sens.StartScreenSaver(nullptr), S_OK);

    UINT count = 7;
    EXPECT_EQ(sens.GetTypeInfoCount(&count), E_NOTIMPL);
    EXPECT_EQ(sens.GetTypeInfo(0, 0, nullptr), E_NOTIMPL);
    EXPECT_EQ(sens.GetIDsOfNames(IID_NULL, nullptr, 0, 0, nullptr), E_NOTIMPL);
    EXPECT_EQ(sens.Invoke(0, IID_NULL, 0, 0, nullptr, nullptr, nullptr, nullptr), E_NOTIMPL);
}

// Closed before its owner lets go: the close waits for a call inside, and
// no event reaches the service's sink after it.
TEST(TWISensLogon, CloseCountsTheCallsInsideAndShutsOutTheNextOnes) {
    class HeldSink final : public ScreenSaverSink {
      public:
        void ScreenSaverStarted() override {
            entered = true;
            while (!release) {
                ::Sleep(1);
            }
        }
        void ScreenSaverStopped() override { ++stopped; }
        std::atomic<bool> entered{false}, release{false};
        std::atomic<int> stopped{0};
    } sink;
    Owned owned(sink);
    TWISensLogon& sens = owned.sens;
    std::thread eventSystem([&] { sens.StartScreenSaver(nullptr); });
    while (!sink.entered) {
        ::Sleep(1);
    }
    EXPECT_FALSE(sens.Close(0));  // one call is still inside
    sink.release = true;
    eventSystem.join();
    EXPECT_TRUE(sens.Close(0));
    EXPECT_EQ(sens.StopScreenSaver(nullptr), S_OK);
    EXPECT_EQ(sink.stopped, 0);
}

}  // namespace
}  // namespace vt::platform::win32
