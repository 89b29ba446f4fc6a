// The device library for unit tests: the simulator's core in process (each
// FakePlatform makes its own current), and helpers that keep the tests
// short. Callbacks are never fired by a library thread: a test calls them.
#pragma once

#include <string>
#include <vector>

#include "core.h"
#include "devices/twlink.h"
#include "fakes/fake_libraries.h"

namespace vt::fakes {

using namespace devices;

// The core the library's exports answer for.
inline twsim::Core& TwLink() {
    return twsim::Core::Current();
}

// The current core's log as lines ("LQ120.SetCycleMode(1)", "lq120(hid#lq120)",
// "devInfo"), from the entry after `since` on.
std::vector<std::string> Calls(uint64_t since = 0);

// The hot-plug record the library would send for a device of `model` at
// `path`: an arrival (code 1, or 2) attaches it first unless it is there
// already, a removal (code 0) detaches it.
DevNotifyRecord Notify(const std::string& model, const std::string& path, uint32_t eventCode);

// The newest object opened for the device at `path`, as its interface.
twsim::SimObject* Newest(const std::string& path);
template <class I>
I* Newest(const std::string& path) {
    return dynamic_cast<I*>(Newest(path));
}

// Opens the device of `model` at `path` through its factory, as the service
// would, attaching it first when it is not; null when the factory refuses.
twsim::SimObject* OpenObject(const std::string& model, const std::string& path);
template <class I>
I* Open(const std::string& model, const std::string& path) {
    return dynamic_cast<I*>(OpenObject(model, path));
}

// The library's system information object, once it has handed it out.
inline SystemInfoSource* SystemInfoObject() {
    return dynamic_cast<SystemInfoSource*>(TwLink().systemInfoSource);
}

// The maker's vendor id, on every device it makes.
constexpr uint16_t kVid = 0x3A7C;

DevNotifyRecord MakeNotify(uint32_t vendorId, uint32_t productId, const std::string& path,
                           uint32_t eventCode);

}  // namespace vt::fakes
