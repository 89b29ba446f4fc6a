// Keeps every record written, in order.
#pragma once

#include <mutex>
#include <string>
#include <vector>

#include "platform/event_log.h"

namespace vt::fakes {

class FakeEventLog final : public platform::EventLog {
  public:
    void Write(const platform::EventRecord& record) override {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.push_back(record);
    }
    void clear() {
        std::lock_guard<std::mutex> lock(mutex_);
        records_.clear();
    }
    std::vector<platform::EventRecord> records() {
        std::lock_guard<std::mutex> lock(mutex_);
        return records_;
    }
    // The message (second string) of every record, in order.
    std::vector<std::wstring> messages() {
        std::vector<std::wstring> out;
        for (const auto& r : records()) {
            out.push_back(r.strings.size() > 1 ? r.strings[1] : L"<malformed>");
        }
        return out;
    }

  private:
    std::mutex mutex_;
    std::vector<platform::EventRecord> records_;
};

}  // namespace vt::fakes
