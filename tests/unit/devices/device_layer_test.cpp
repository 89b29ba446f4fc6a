// Discovery, hot-plug and the creation pattern against the fake library.
#include "devices/device_layer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <condition_variable>
#include <cstring>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <utility>

#include "devices/model_table.h"
#include "fakes/fake_service.h"

namespace vt::devices {
namespace {

using fakes::FakePlatform;
using fakes::TwLink;
using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::IsEmpty;

using fakes::kVid;

// The export that opens a product id, as the model table gives it; empty
// for ids the service does not drive.
std::string FactoryOf(uint16_t productId) {
    if (productId == kRX410ProductId) {
        return std::string(kRX410Factory);
    }
    for (const ModelRow& row : kModelRows) {
        for (uint16_t id : row.facts.productIds) {
            if (id != 0 && id == productId) {
                return std::string(row.factory);
            }
        }
    }
    return {};
}

// Whether a model's slot holds an object, for every row of the table.
#define VT_SLOT_FILLED(slot, ...) \
    {Model::slot, [](const DeviceSlots& s) { return s.slot.load() != nullptr; }},
const std::map<Model, bool (*)(const DeviceSlots&)> kSlotFilled = {
    VT_DRIVEN_MODELS(VT_SLOT_FILLED)};
#undef VT_SLOT_FILLED

class DeviceLayerTest : public fakes::DeviceLayerFixture {
  protected:
    void Enumerate() { layer.EnumerateAttached(); }
    // The library's device at `path` with these ids, replacing one with
    // other ids; it takes the failures pending for its export.
    void Plug(uint32_t vid, uint32_t pid, const std::string& path) {
        twsim::Core& library = TwLink();
        if (auto d = library.FindPath(path)) {
            if (d->vendorId == vid && d->productId == pid) {
                return;
            }
            library.Detach(path);
        }
        // Named after its export, as the log then reads: "HV210.SetKeyNotify(1)".
        twsim::json entry = {{"model", "ID" + std::to_string(pid)},
                             {"vendorId", vid},
                             {"productId", pid},
                             {"path", path}};
        if (const std::string factory = FactoryOf(static_cast<uint16_t>(pid)); !factory.empty()) {
            std::string model = factory;
            std::transform(model.begin(), model.end(), model.begin(), ::toupper);
            entry["model"] = model;
            entry["factory"] = factory;
        }
        const auto d = library.Attach(entry);
        d->state.failFactory = std::exchange(failNext[d->factory], 0);
    }
    // An arrival plugs the device in first, as the library would have.
    void Notify(uint32_t vid, uint32_t pid, const std::string& path, uint32_t code) {
        if (code == 1) {
            Plug(vid, pid, path);
        }
        DeviceLayer::OnDeviceNotify(fakes::MakeNotify(vid, pid, path, code));
    }
    // The next `n` calls of `factory` for the devices attached, or the next
    // one plugged, return null.
    void FailNext(const std::string& factory, int n) {
        for (const auto& d : TwLink().devices) {
            if (d->factory == factory) {
                d->state.failFactory = n;
            }
        }
        failNext[factory] = n;
    }
    std::map<std::string, int> failNext;
};

// Every product id of every model reaches its factory with the path, fills
// the model's slot and reports the model's creation, at start-up and on
// hot-plug alike.
TEST_F(DeviceLayerTest, EveryProductIdReachesItsFactoryAndSlot) {
    for (const ModelRow& row : kModelRows) {
        for (uint16_t pid : row.facts.productIds) {
            if (pid == 0) {
                continue;
            }
            SCOPED_TRACE(std::string(row.facts.name));
            for (bool startUp : {true, false}) {
                twsim::Core library;
                library.MakeCurrent();
                DeviceLayer fresh(fp.eventLog, fp.console, fp.clock);
                DeviceLayer::SetActive(&fresh);
                ASSERT_TRUE(fresh.Load(fp.libraries));
                const std::string path = "\\\\?\\hid#vid_3a7c&pid_x#" + std::to_string(pid);
                Plug(kVid, pid, path);
                if (startUp) {
                    fresh.EnumerateAttached();
                } else {
                    DeviceLayer::OnDeviceNotify(fakes::MakeNotify(kVid, pid, path, 1));
                }
                EXPECT_EQ(fakes::Calls().at(startUp ? 1 : 0),
                          std::string(row.factory) + "(" + path + ")");
                EXPECT_TRUE(kSlotFilled.at(row.model)(fresh.slots));
                const std::wstring created(row.facts.created);
                EXPECT_EQ(fp.eventLog.messages().back().substr(0, created.size()), created);
            }
        }
    }
    DeviceLayer::SetActive(&layer);
}

TEST_F(DeviceLayerTest, DongleFormsShareTheDongleSlot) {
    TwLink().Attach({{"model", "KB709"}, {"path", "hid#kb709"}});
    TwLink().Attach({{"model", "KB709"}, {"path", "hid#kb709&ISDONGLE#1"}});
    Enumerate();
    EXPECT_NE(layer.slots.kb709.load(), nullptr);
    auto* dongle709 = layer.slots.kb709Dongle.load();
    ASSERT_NE(dongle709, nullptr);

    Notify(kVid, 0x016F, "hid#kb711&ISDONGLE#2", 1);
    EXPECT_EQ(layer.slots.kb711.load(), nullptr);  // the KB711 dongle is the KB709 dongle
    EXPECT_NE(layer.slots.kb709Dongle.load(), dongle709);
    Notify(kVid, 0x016F, "hid#kb711#3", 1);
    EXPECT_NE(layer.slots.kb711.load(), nullptr);
    EXPECT_THAT(Events(), ElementsAre(L"CreateKB709", L"CreateKB709Dongle", L"CreateKB709Dongle",
                                      L"CreateKB711"));

    // Case matters, and the removal follows the same rule.
    Notify(kVid, 0x016F, "hid#kb711&isdongle#2", 0);
    EXPECT_EQ(layer.slots.kb711.load(), nullptr);
    EXPECT_NE(layer.slots.kb709Dongle.load(), nullptr);
    Notify(kVid, 0x016D, "hid#kb709&ISDONGLE#1", 0);
    EXPECT_EQ(layer.slots.kb709Dongle.load(), nullptr);
    EXPECT_NE(layer.slots.kb709.load(), nullptr);
}

TEST_F(DeviceLayerTest, RX410PresenceFollowsStartUpAndTheEventCode) {
    TwLink().Attach({{"model", "RX410"}, {"path", "hid#rx410"}});
    Enumerate();
    EXPECT_EQ(layer.rx410Present, 1);
    Notify(kVid, 0x006B, "hid#rx410", 0);
    EXPECT_EQ(layer.rx410Present, 0);
    Notify(kVid, 0x006B, "hid#rx410", 1);
    EXPECT_EQ(layer.rx410Present, 1);
    EXPECT_THAT(fakes::Calls(), ElementsAre("devInfo"));  // the OLED job opens it itself
    EXPECT_THAT(Events(), IsEmpty());
}

TEST_F(DeviceLayerTest, CompanionDevicesAreCountedOnBothPathsAndNeverBelowZero) {
    TwLink().Attach({{"model", "QT500G"}, {"productId", 0x012D}, {"path", "hid#qt500g"}});
    TwLink().Attach({{"model", "QT500G"},
                     {"productId", 0x012D},
                     {"vendorId", 0x1234},
                     {"path", "hid#other-maker"}});
    TwLink().Attach({{"model", "QT500C"}, {"productId", 0x007B}, {"path", "hid#qt500c"}});
    Enumerate();
    EXPECT_EQ(layer.companionDeviceCount, 2);
    Notify(kVid, 0x012D, "hid#qt500g-2", 1);
    EXPECT_EQ(layer.companionDeviceCount, 3);
    Notify(kVid, 0x012D, "hid#qt500g-2", 0);
    Notify(kVid, 0x007B, "hid#qt500c", 7);  // any code but 1 is a removal
    Notify(kVid, 0x012D, "hid#qt500g", 0);
    EXPECT_EQ(layer.companionDeviceCount, 0);
    // One that arrived before hot-plug was registered, then left.
    Notify(kVid, 0x012D, "hid#never-counted", 0);
    EXPECT_EQ(layer.companionDeviceCount, 0);
    Notify(kVid, 0x012D, "hid#qt500g", 1);
    EXPECT_EQ(layer.companionDeviceCount, 1);  // not 0: the floor left no debt
    layer.OnServiceStop();
    EXPECT_EQ(layer.companionDeviceCount, 0);
    EXPECT_THAT(Events(), IsEmpty());
}

TEST_F(DeviceLayerTest, UnknownIdsAndOtherMakersAreIgnored) {
    TwLink().Attach({{"model", "HV230"}, {"vendorId", 0x1234}, {"path", "hid#hv230-clone"}});
    TwLink().Attach({{"model", "UNKNOWN"}, {"productId", 0x0999}, {"path", "hid#unknown"}});
    Enumerate();
    Notify(0x1234, 0x0113, "hid#hv230-clone", 1);
    Notify(kVid, 0x0999, "hid#unknown", 1);
    EXPECT_THAT(fakes::Calls(), ElementsAre("devInfo"));
    EXPECT_EQ(layer.slots.hv230.load(), nullptr);
}

TEST_F(DeviceLayerTest, CountsOfZeroNegativeOrBeyondTheBufferReadAtMostTheBuffer) {
    for (int i = 0; i < kDevInfoCapacity - 1; ++i) {
        // Appended, not `"..." + std::to_string(i)`: inlined, that prepend
        // trips a false -Wrestrict (an error here) in i686 GCC 12 at -O3.
        TwLink().Attach({{"model", "UNKNOWN"},
                         {"productId", 0x0999},
                         {"path", std::string("hid#unknown").append(std::to_string(i))}});
    }
    TwLink().Attach({{"model", "HV230"}, {"path", "hid#hv230"}});  // record 50 of 50
    for (int32_t count : {0, -1, -50}) {
        TwLink().devInfoCount = count;
        Enumerate();
    }
    EXPECT_EQ(layer.slots.hv230.load(), nullptr);
    // A library that claims more than fits: the buffer is read to its last record.
    TwLink().devInfoCount = 5000;
    Enumerate();
    EXPECT_NE(layer.slots.hv230.load(), nullptr);
}

TEST_F(DeviceLayerTest, SecondAttemptAfterExactlyTheModelsPause) {
    TwLink().Attach({{"model", "HV230"}, {"path", "hid#hv230"}});
    TwLink().Attach({{"model", "HV210"}, {"path", "hid#hv210"}});
    TwLink().Attach({{"model", "RX420"}, {"path", "hid#rx420"}});
    FailNext("hv230", 1);
    FailNext("hv210", 1);
    FailNext("rx420", 1);
    Enumerate();
    // Only the HV230 waits; the HV210 and the RX420 retry at once.
    EXPECT_THAT(fp.clock.sleeps(), ElementsAre(3000u));
    EXPECT_NE(layer.slots.hv230.load(), nullptr);
    EXPECT_NE(layer.slots.hv210.load(), nullptr);
    EXPECT_NE(layer.slots.rx420.load(), nullptr);
    EXPECT_THAT(Events(), ElementsAre(L"CreateHV230", L"CreateHV210", L"CreateRX420"));
}

TEST_F(DeviceLayerTest, TwoFailuresGiveOneFailureEventAndAnEmptySlot) {
    Notify(kVid, 0x016D, "hid#kb709", 1);
    ASSERT_NE(layer.slots.kb709.load(), nullptr);
    FailNext("kb709", 2);
    Notify(kVid, 0x016D, "hid#kb709", 1);
    EXPECT_EQ(layer.slots.kb709.load(), nullptr);  // the old object is forgotten too
    EXPECT_THAT(Events(), ElementsAre(L"CreateKB709", L"CreateKB709 : Fail to create the KB709"));
    EXPECT_THAT(fp.clock.sleeps(), ElementsAre(3000u));
    EXPECT_THAT(fakes::Calls(),
                ElementsAre("kb709(hid#kb709)", "KB709.RegisterNotifyCallback(true)",
                            "kb709(hid#kb709)", "kb709(hid#kb709)"));
}

TEST_F(DeviceLayerTest, FailureTextsNameTheModel) {
    const std::pair<uint16_t, const wchar_t*> cases[] = {
        {0x0147, L"CreateKB505 : Fail to create the KB505"},
        {0x0149, L"CreateKB403b : Fail to create the KB403"},
        {0x0111, L"CreateHV210 : Fail to create the HV210"},
        {0x011B, L"CreateRX420 : Fail to create the RX420"},
        {0x0155, L"CreateLQ120 : Fail to create the LQ120"},
        {0x01C1, L"CreateCS900 : Fail to create the CS900"},
    };
    for (const auto& [pid, text] : cases) {
        FailNext(FactoryOf(pid), 2);
        Notify(kVid, pid, "hid#x", 1);
        EXPECT_EQ(Events().back(), text);
    }
    Notify(kVid, 0x016D, "hid#x&ISDONGLE", 1);
    FailNext("kb709", 2);
    Notify(kVid, 0x016D, "hid#x&ISDONGLE", 1);
    EXPECT_EQ(Events().back(), L"CreateKB709Dongle : Fail to create the KB709 DONGLE");
}

TEST_F(DeviceLayerTest, KeyboardCallbacksPrintTheirModelsTexts) {
    Notify(kVid, 0x016D, "hid#kb709", 1);
    Notify(kVid, 0x016D, "hid#kb709&ISDONGLE", 1);
    Notify(kVid, 0x0149, "hid#kb403b", 1);
    auto fire = [](const char* path, int32_t code) {
        fakes::Newest(path)->keyboardCallback(&code);
    };
    for (int32_t code : {0, 1, 2}) {
        fire("hid#kb403b", code);
    }
    EXPECT_EQ(fp.console.text(),
              L"getKB403b is call !!\nkb403b profile change\n"
              L"getKB403b is call !!\nkb403b effect change\n"
              L"getKB403b is call !!\n");
    const std::wstring before = fp.console.text();
    for (int32_t code : {0, 1, 2}) {
        fire("hid#kb709&ISDONGLE", code);  // the dongle's object
    }
    EXPECT_EQ(fp.console.text().substr(before.size()),
              L"getKB709 dongle is call !!\nkb709 profile change\n"
              L"getKB709 dongle is call !!\nkb709 effect change\n"
              L"getKB709 dongle is call !!\nwrong message ?\n");
}

TEST_F(DeviceLayerTest, KB505AndKB507HaveNoSetUpStep) {
    Notify(kVid, 0x0147, "hid#kb505", 1);
    Notify(kVid, 0x0145, "hid#kb507", 1);
    EXPECT_THAT(fakes::Calls(), ElementsAre("kb505(hid#kb505)", "kb507(hid#kb507)"));
}

TEST_F(DeviceLayerTest, HeadsetsReportOnlyThe71AndMuteKeys) {
    Notify(kVid, 0x0111, "hid#hv210", 1);
    EXPECT_THAT(fakes::Calls(), ElementsAre("hv210(hid#hv210)", "HV210.RegisterKeyCallback(true)",
                                            "HV210.SetKeyNotify(1)"));
    const HeadsetKeyCallback hv210 = fakes::Newest("hid#hv210")->headsetCallback;
    for (int32_t code : {0, 1, 2, 3, 4, 5, 6, 100, -1}) {
        hv210(code, 0);
    }
    EXPECT_THAT(Events(), ElementsAre(L"CreateHV210", L"HV210 7.1 press", L"HN210 mute press"));

    Notify(kVid, 0x01C7, "hid#hv150", 1);
    fakes::Newest("hid#hv150")->headsetCallback(5, 9);
    EXPECT_EQ(Events().back(), L"HV150 mute press");
}

TEST_F(DeviceLayerTest, RX420InMusicPulseModeGetsThePulseBeforeTheSuccessEvent) {
    twsim::DeviceState& mouse =
        TwLink().Attach({{"model", "RX420"}, {"path", "hid#rx420"}, {"effectMode", 216}})->state;
    Enumerate();
    EXPECT_THAT(fakes::Calls(),
                ElementsAre("devInfo", "rx420(hid#rx420)", "RX420.RegisterEffectModeCallback(true)",
                            "RX420.GetEffectMode", "RX420.SetMusicPulse(1)"));
    EXPECT_THAT(Events(), ElementsAre(L"CreateRX420"));

    mouse.effectMode = 215;
    Notify(kVid, 0x011B, "hid#rx420", 1);
    EXPECT_EQ(fakes::Calls().back(), "RX420.GetEffectMode");

    EffectModeCallback callback = fakes::Newest("hid#rx420")->effectModeCallback;
    callback(1);
    callback(3);
    callback(2);
    EXPECT_THAT(Events(), ElementsAre(L"CreateRX420", L"CreateRX420", L"RX420 effect mode notify"));
}

TEST_F(DeviceLayerTest, HV230HotPlugWritesItsOwnEvents) {
    Notify(kVid, 0x0113, "hid#hv230", 1);
    EXPECT_NE(layer.slots.hv230.load(), nullptr);
    Notify(kVid, 0x0113, "hid#hv230", 0);
    EXPECT_EQ(layer.slots.hv230.load(), nullptr);
    Notify(kVid, 0x0113, "hid#hv230", 0);  // a removal of nothing still says so
    Notify(kVid, 0x0111, "hid#hv210", 0);  // others say nothing
    EXPECT_THAT(Events(), ElementsAre(L"CreateHV230", L"CreateHV230 ", L"del HV230", L"del HV230"));
}

TEST_F(DeviceLayerTest, StartUpClearsOnlyItsEightSlots) {
    Notify(kVid, 0x0113, "a", 1);
    Notify(kVid, 0x016D, "b", 1);
    Notify(kVid, 0x0155, "c", 1);
    Notify(kVid, 0x0149, "d", 1);
    layer.ClearStartSlots();
    EXPECT_EQ(layer.slots.hv230.load(), nullptr);
    EXPECT_EQ(layer.slots.lq120.load(), nullptr);
    EXPECT_NE(layer.slots.kb709.load(), nullptr);
    EXPECT_NE(layer.slots.kb403b.load(), nullptr);
}

TEST_F(DeviceLayerTest, NotifyPathWithoutTerminatorStaysInsideItsField) {
    DevNotifyRecord r = fakes::MakeNotify(kVid, 0x0113, "", 1);
    std::memset(r.path, 'A', sizeof r.path);
    DeviceLayer::OnDeviceNotify(r);
    EXPECT_EQ(fakes::Calls().back(), "hv230(" + std::string(sizeof r.path, 'A') + ")");
}

TEST_F(DeviceLayerTest, TheServicesStopEndsACreationsPauseAtOnce) {
    auto stop = fp.threads.CreateManualResetEvent();
    ASSERT_TRUE(layer.WatchStop(fp.threads, *stop));
    FailNext("hv230", 1);
    Notify(kVid, 0x0113, "hid#hv230", 1);
    EXPECT_EQ(fp.clock.TickCount64(), 3000u);  // the pause as before
    stop->Set();
    FailNext("hv230", 1);
    Notify(kVid, 0x0113, "hid#hv230", 1);
    EXPECT_EQ(fp.clock.TickCount64(), 3000u);      // no pause once stopping
    EXPECT_NE(layer.slots.hv230.load(), nullptr);  // the second attempt is still made
}

// A hot-plug creation held inside its pause when the layer goes: the
// destruction waits for it, and it finishes on a live layer.
TEST(DeviceLayerCallbacks, DestructionWaitsForACallbackStillInside) {
    FakePlatform fp;
    auto layer = std::make_unique<DeviceLayer>(fp.eventLog, fp.console, fp.clock);
    DeviceLayer::SetActive(layer.get());
    ASSERT_TRUE(layer->Load(fp.libraries));
    std::mutex m;
    std::condition_variable cv;
    bool inside = false, release = false;
    std::thread library;
    fp.clock.onSleep = [&](uint32_t ms) {
        std::unique_lock<std::mutex> lock(m);
        if (ms == 3000) {  // the creation's pause: held
            inside = true;
            cv.notify_all();
            cv.wait(lock, [&] { return release; });
        } else if (!release) {  // the destruction waits: let the creation finish
            release = true;
            cv.notify_all();
            lock.unlock();
            library.join();
        }
    };
    TwLink().Attach({{"model", "HV230"}, {"path", "hid#hv230"}, {"failFactory", 1}});
    library =
        std::thread([] { DeviceLayer::OnDeviceNotify(fakes::Notify("HV230", "hid#hv230", 1)); });
    {
        std::unique_lock<std::mutex> lock(m);
        cv.wait(lock, [&] { return inside; });
    }
    layer.reset();
    {
        std::lock_guard<std::mutex> lock(m);
        release = true;  // should the destruction not have waited
    }
    cv.notify_all();
    if (library.joinable()) {
        library.join();
    }
    EXPECT_THAT(fp.clock.sleeps(), Contains(10u));
    EXPECT_THAT(fp.eventLog.messages(), ElementsAre(L"CreateHV230", L"CreateHV230 "));
    // Gone: a later callback finds no layer and does nothing.
    TwLink().ClearLog();
    DeviceLayer::OnDeviceNotify(fakes::Notify("HV230", "hid#hv230", 1));
    EXPECT_THAT(fakes::Calls(), IsEmpty());
}

TEST(DeviceLayerLoad, MissingLibraryIsOneErrorEntryAndNoCalls) {
    FakePlatform fp;
    fp.libraries.loadError = 126;
    DeviceLayer layer(fp.eventLog, fp.console, fp.clock);
    EXPECT_FALSE(layer.Load(fp.libraries));
    layer.StartLibrary();
    layer.EnumerateAttached();
    layer.RegisterHotPlug();
    EXPECT_THAT(fakes::Calls(), IsEmpty());
    ASSERT_EQ(fp.eventLog.records().size(), 1u);
    EXPECT_EQ(fp.eventLog.records()[0].type, platform::EventType::Error);
    EXPECT_EQ(fp.eventLog.messages()[0], L"Load TWLINK.dll failed w/err 0x0000007e");
    EXPECT_THAT(fp.libraries.loads, ElementsAre(L"TWLINK.dll"));
}

TEST(DeviceLayerLoad, IncompleteLibraryNamesTheMissingExport) {
    FakePlatform fp;
    fp.libraries.symbols.erase("sysInfo");
    DeviceLayer layer(fp.eventLog, fp.console, fp.clock);
    EXPECT_FALSE(layer.Load(fp.libraries));
    EXPECT_FALSE(layer.loaded());
    EXPECT_THAT(fp.eventLog.messages(), ElementsAre(L"TWLINK.dll lacks the export sysInfo"));
}

}  // namespace
}  // namespace vt::devices
