// The layers above the platform over one fake platform, wired as the
// service wires them: the device layer, then the service state and the
// pipe's commands. Fixtures derive from these instead of building them by
// hand.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "devices/device_layer.h"
#include "fakes/fake_platform.h"
#include "pipe/pipe_commands.h"

namespace vt::fakes {

// The device layer. With `load`, as at the service's start: the library
// loaded from the fake program folder and the layer the one its callbacks
// reach; without, a layer with no library (a test may Attach one).
class DeviceLayerFixture : public ::testing::Test {
  protected:
    explicit DeviceLayerFixture(bool load = true) {
        if (load) {
            devices::DeviceLayer::SetActive(&layer);
            EXPECT_TRUE(layer.Load(fp.libraries));
        }
    }
    ~DeviceLayerFixture() override {
        if (devices::DeviceLayer::Active() == &layer) {
            devices::DeviceLayer::SetActive(nullptr);
        }
    }
    std::vector<std::wstring> Events() { return fp.eventLog.messages(); }

    FakePlatform fp;
    std::unique_ptr<platform::Event> stop = fp.threads.CreateManualResetEvent();
    devices::DeviceLayer layer{fp.eventLog, fp.console, fp.clock};
};

// The pipe's commands over the layer; `json` answers the JSON requests
// (none: they are unrecognised).
class PipeCommandsFixture : public DeviceLayerFixture {
  protected:
    explicit PipeCommandsFixture(pipe::JsonCommands* json = nullptr, bool load = true)
        : DeviceLayerFixture(load), commands{state, layer, fp.clock, fp.eventLog, json} {}

    ServiceState state;
    pipe::PipeCommands commands;
};

}  // namespace vt::fakes
