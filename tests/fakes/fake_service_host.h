// A service manager seen from the service: records every status report and
// lets the test deliver controls. RunDispatcher runs the service's main on
// the calling thread, then delivers `controlsAfterStart` in order.
#pragma once

#include <mutex>
#include <vector>

#include "platform/service_host.h"

namespace vt::fakes {

class FakeServiceHost final : public platform::ServiceHost {
  public:
    bool RunDispatcher(const wchar_t* serviceName,
                       platform::ServiceMainFunction serviceMain) override {
        dispatcherName = serviceName;
        if (dispatcherError != 0) {
            lastError_ = dispatcherError;
            return false;
        }
        wchar_t* argv[] = {const_cast<wchar_t*>(serviceName), nullptr};
        serviceMain(1, argv);
        for (uint32_t control : controlsAfterStart) {
            if (handler != nullptr) {
                handler(control);
            }
        }
        return true;
    }

    platform::StatusHandle RegisterControlHandler(const wchar_t* serviceName,
                                                  platform::ControlHandlerFunction h) override {
        registeredName = serviceName;
        handler = h;
        if (registerError != 0) {
            lastError_ = registerError;
            return nullptr;
        }
        return kHandle;
    }

    bool SetStatus(platform::StatusHandle h, const platform::ServiceStatus& status) override {
        std::lock_guard<std::mutex> lock(mutex_);
        handles.push_back(h);
        reports_.push_back(status);
        return true;
    }

    uint32_t LastError() override { return lastError_; }

    std::vector<platform::ServiceStatus> reports() {
        std::lock_guard<std::mutex> lock(mutex_);
        return reports_;
    }

    static inline platform::StatusHandle const kHandle =
        reinterpret_cast<platform::StatusHandle>(0x5151);

    std::wstring dispatcherName;
    std::wstring registeredName;
    platform::ControlHandlerFunction handler = nullptr;
    std::vector<platform::StatusHandle> handles;
    std::vector<uint32_t> controlsAfterStart;
    uint32_t dispatcherError = 0;
    uint32_t registerError = 0;

  private:
    std::mutex mutex_;
    std::vector<platform::ServiceStatus> reports_;
    uint32_t lastError_ = 0;
};

}  // namespace vt::fakes
