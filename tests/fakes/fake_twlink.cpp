#include "fakes/fake_twlink.h"

#include <cstring>

namespace vt::fakes {

std::vector<std::string> Calls(uint64_t since) {
    std::vector<std::string> out;
    for (const auto& entry : TwLink().LogSince(since)) {
        out.push_back(twsim::CallText(entry));
    }
    return out;
}

DevNotifyRecord Notify(const std::string& model, const std::string& path, uint32_t eventCode) {
    twsim::Core& core = TwLink();
    auto device = eventCode == 0 ? core.Detach(path) : core.FindPath(path);
    if (!device) {
        device = core.Attach({{"model", model}, {"path", path}});
        if (eventCode == 0) {
            core.Detach(path);
        }
    }
    return MakeNotify(device->vendorId, device->productId, path, eventCode);
}

namespace {

template <class R>
void OpenWith(R* (*factory)(const char*), const std::string& path) {
    factory(path.c_str());
}
void OpenWith(RX410FactoryFn factory, const std::string& path) {
    DevInfoRecord record{};
    std::strncpy(record.path, path.c_str(), sizeof record.path - 1);
    factory(&record);
}
template <class F>
void OpenWith(F, const std::string&) {}  // not a factory

}  // namespace

twsim::SimObject* OpenObject(const std::string& model, const std::string& path) {
    auto device = TwLink().FindPath(path);
    if (!device) {
        device = TwLink().Attach({{"model", model}, {"path", path}});
    }
    const size_t before = TwLink().objects.size();
    const TwLinkApi api = twsim::Api();
#define FAKES_OPEN(name)            \
    if (device->factory == #name) { \
        OpenWith(api.name, path);   \
    }
    TWSIM_EXPORT_NAMES(FAKES_OPEN)
#undef FAKES_OPEN
    return TwLink().objects.size() > before ? TwLink().objects.back().get() : nullptr;
}

twsim::SimObject* Newest(const std::string& path) {
    twsim::Core& core = TwLink();
    std::lock_guard<std::mutex> lock(core.mu);
    for (auto it = core.objects.rbegin(); it != core.objects.rend(); ++it) {
        if ((*it)->device && (*it)->device->path == path) {
            return it->get();
        }
    }
    return nullptr;
}

DevNotifyRecord MakeNotify(uint32_t vendorId, uint32_t productId, const std::string& path,
                           uint32_t eventCode) {
    DevNotifyRecord r{};
    std::strncpy(r.path, path.c_str(), sizeof r.path - 1);
    r.vendorId = vendorId;
    r.productId = productId;
    r.eventCode = eventCode;
    return r;
}

}  // namespace vt::fakes
