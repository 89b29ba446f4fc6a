#pragma once

#include <mutex>
#include <string>

#include "platform/console.h"

namespace vt::fakes {

class FakeConsole final : public platform::Console {
  public:
    void Print(std::wstring_view text) override {
        std::lock_guard<std::mutex> lock(mutex_);
        text_ += text;
    }
    std::wstring text() {
        std::lock_guard<std::mutex> lock(mutex_);
        return text_;
    }

  private:
    std::mutex mutex_;
    std::wstring text_;
};

}  // namespace vt::fakes
