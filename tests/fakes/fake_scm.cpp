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

FakeScm::Service* FakeScm::Granted(ScHandle handle, uint32_t right) {
    Handle* h = Find(handle, false);
    if (h != nullptr && (h->access & right) == 0) {
        Fail(kErrorAccessDenied);
        return nullptr;
    }
    return h == nullptr ? nullptr : &services.at(h->name);
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
    Service* s = Granted(service, kServiceStart);
    if (s == nullptr) {
        return false;
    }
    if (s->state != kServiceStopped) {
        return Fail(kErrorServiceAlreadyRunning);
    }
    s->state = kServiceRunning;
    return true;
}

bool FakeScm::SetDescription(ScHandle service, const std::wstring& description) {
    Service* s = Granted(service, kServiceChangeConfig);
    if (s == nullptr) {
        return false;
    }
    s->description = description;
    ++s->descriptionWrites;
    return true;
}

bool FakeScm::SetFailureActions(ScHandle service, const FailureActions& actions) {
    Service* s = Granted(service, kServiceChangeConfig);
    if (s != nullptr) {
        s->failureActions = actions;
    }
    return s != nullptr;
}

bool FakeScm::ControlService(ScHandle service, uint32_t control, ServiceStatus& status) {
    // The stop is the one control the installer may send.
    Service* s = Granted(service, control == kServiceControlStop ? kServiceStop : 0);
    if (s == nullptr) {
        return false;
    }
    if (s->state != kServiceRunning) {
        return Fail(kErrorServiceNotActive);
    }
    s->state = stopLeavesStopped ? kServiceStopped : kServiceStopPending;
    status.currentState = s->state;
    return true;
}

bool FakeScm::QueryServiceStatus(ScHandle service, ServiceStatus& status) {
    Service* s = Granted(service, kServiceQueryStatus);
    if (s == nullptr) {
        return false;
    }
    if (queryFailsAfter && queries >= *queryFailsAfter) {
        return Fail(kErrorAccessDenied);
    }
    ++queries;
    if (s->state == kServiceStopPending) {
        if (stopPendingQueries > 0) {
            --stopPendingQueries;
        } else {
            s->state = kServiceStopped;
        }
    }
    status.currentState = s->state;
    return true;
}

bool FakeScm::DeleteService(ScHandle service) {
    if (Granted(service, kDelete) == nullptr) {
        return false;
    }
    if (deleteError != 0) {
        return Fail(deleteError);
    }
    services.erase(Find(service, false)->name);
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

bool FakeScm::SecureDataFolders(std::vector<std::wstring>& takenOver) {
    if (dataFoldersError != 0) {
        return Fail(dataFoldersError);
    }
    ++dataFoldersSecured;
    takenOver.insert(takenOver.end(), userFolders.begin(), userFolders.end());
    userFolders.clear();
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
