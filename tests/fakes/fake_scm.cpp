#include "fakes/fake_scm.h"

#include "platform/system_error.h"

namespace vt::fakes {

using namespace platform;

namespace {
constexpr uint32_t kErrorInvalidHandle = 6;
}

bool FakeScm::Fail(uint32_t error) {
    lastError_ = error;
    return false;
}

ScHandle FakeScm::NewHandle(bool manager, uint32_t access, const std::wstring& name) {
    const uintptr_t id = nextHandle_++;
    handles_[id] = Handle{manager, access, name};
    ++openHandles;
    return reinterpret_cast<ScHandle>(id);
}

FakeScm::Handle* FakeScm::Find(ScHandle handle, bool manager) {
    auto it = handles_.find(reinterpret_cast<uintptr_t>(handle));
    if (it == handles_.end() || it->second.manager != manager) {
        lastError_ = kErrorInvalidHandle;
        return nullptr;
    }
    return &it->second;
}

ScHandle FakeScm::OpenManager(uint32_t access) {
    managerAccess.push_back(access);
    if (openManagerError != 0) {
        Fail(openManagerError);
        return nullptr;
    }
    return NewHandle(true, access, L"");
}

ScHandle FakeScm::CreateService(ScHandle manager, const ServiceConfig& config, uint32_t access) {
    createAccess.push_back(access);
    Handle* m = Find(manager, true);
    if (m == nullptr) {
        return nullptr;
    }
    if ((m->access & kScManagerCreateService) == 0) {
        Fail(kErrorAccessDenied);
        return nullptr;
    }
    if (services.count(config.name) != 0) {
        Fail(kErrorServiceExists);
        return nullptr;
    }
    services[config.name].config = config;
    return NewHandle(false, access, config.name);
}

ScHandle FakeScm::OpenService(ScHandle manager, const std::wstring& name, uint32_t access) {
    serviceAccess.push_back(access);
    if (Find(manager, true) == nullptr) {
        return nullptr;
    }
    if (services.count(name) == 0) {
        Fail(kErrorServiceDoesNotExist);
        return nullptr;
    }
    return NewHandle(false, access, name);
}

bool FakeScm::StartService(ScHandle service) {
    Handle* h = Find(service, false);
    if (h == nullptr) {
        return false;
    }
    if ((h->access & kServiceStart) == 0) {
        return Fail(kErrorAccessDenied);
    }
    Service& s = services.at(h->name);
    if (s.state != kServiceStopped) {
        return Fail(kErrorServiceAlreadyRunning);
    }
    s.state = kServiceRunning;
    ++s.starts;
    return true;
}

bool FakeScm::SetDescription(ScHandle service, const std::wstring& description) {
    Handle* h = Find(service, false);
    if (h == nullptr) {
        return false;
    }
    if ((h->access & kServiceChangeConfig) == 0) {
        return Fail(kErrorAccessDenied);
    }
    Service& s = services.at(h->name);
    s.description = description;
    ++s.descriptionWrites;
    return true;
}

bool FakeScm::SetFailureActions(ScHandle service, const FailureActions& actions) {
    Handle* h = Find(service, false);
    if (h == nullptr) {
        return false;
    }
    if ((h->access & kServiceChangeConfig) == 0) {
        return Fail(kErrorAccessDenied);
    }
    services.at(h->name).failureActions = actions;
    return true;
}

bool FakeScm::ControlService(ScHandle service, uint32_t control, ServiceStatus& status) {
    Handle* h = Find(service, false);
    if (h == nullptr) {
        return false;
    }
    if (control != kServiceControlStop || (h->access & kServiceStop) == 0) {
        return Fail(kErrorAccessDenied);
    }
    Service& s = services.at(h->name);
    if (s.state != kServiceRunning) {
        return Fail(kErrorServiceNotActive);
    }
    s.state = stopLeavesStopped ? kServiceStopped : kServiceStopPending;
    status.currentState = s.state;
    return true;
}

bool FakeScm::QueryServiceStatus(ScHandle service, ServiceStatus& status) {
    Handle* h = Find(service, false);
    if (h == nullptr) {
        return false;
    }
    if ((h->access & kServiceQueryStatus) == 0) {
        return Fail(kErrorAccessDenied);
    }
    if (queryFailsAfter && queries >= *queryFailsAfter) {
        return Fail(kErrorAccessDenied);
    }
    ++queries;
    Service& s = services.at(h->name);
    if (s.state == kServiceStopPending) {
        if (stopPendingQueries > 0) {
            --stopPendingQueries;
        } else {
            s.state = kServiceStopped;
        }
    }
    status.currentState = s.state;
    return true;
}

bool FakeScm::DeleteService(ScHandle service) {
    Handle* h = Find(service, false);
    if (h == nullptr) {
        return false;
    }
    if ((h->access & kDelete) == 0) {
        return Fail(kErrorAccessDenied);
    }
    if (deleteError != 0) {
        return Fail(deleteError);
    }
    services.erase(h->name);
    return true;
}

bool FakeScm::AddEventSource(const std::wstring& source, const std::wstring& messageFile,
                             uint32_t typesSupported) {
    if (registryError != 0) {
        return Fail(registryError);
    }
    eventSources[source] = EventSource{messageFile, typesSupported};
    return true;
}

bool FakeScm::DeleteEventSource(const std::wstring& source) {
    if (registryError != 0) {
        return Fail(registryError);
    }
    eventSources.erase(source);
    return true;
}

void FakeScm::CloseHandle(ScHandle handle) {
    if (handles_.erase(reinterpret_cast<uintptr_t>(handle)) != 0) {
        --openHandles;
    }
}

bool FakeScm::ModulePath(std::wstring& path) {
    if (modulePathError) {
        return Fail(*modulePathError);
    }
    path = modulePath;
    return true;
}

}  // namespace vt::fakes
