// A screen saver the test starts and stops by hand.
#pragma once

#include "platform/screen_saver.h"

namespace vt::fakes {

class FakeScreenSaver final : public platform::ScreenSaverEvents {
  public:
    bool Subscribe(platform::ScreenSaverSink& s) override {
        ++subscribes;
        if (available) {
            sink = &s;
        }
        return available;
    }
    void Unsubscribe() override {
        ++unsubscribes;
        sink = nullptr;
    }
    // What the system would deliver; nothing when nobody is subscribed.
    void Start() {
        if (sink != nullptr) {
            sink->ScreenSaverStarted();
        }
    }
    void Stop() {
        if (sink != nullptr) {
            sink->ScreenSaverStopped();
        }
    }

    bool available = true;
    platform::ScreenSaverSink* sink = nullptr;
    int subscribes = 0;
    int unsubscribes = 0;
};

}  // namespace vt::fakes
