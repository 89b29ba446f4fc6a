// Settings-file values held in memory, keyed by file, section and key.
#pragma once

#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/profile.h"

namespace vt::fakes {

class FakeProfileFiles final : public platform::ProfileFiles {
  public:
    uint32_t GetInt(const std::string& section, const std::string& key, uint32_t defaultValue,
                    const std::string& file) override {
        std::lock_guard<std::mutex> lock(mutex_);
        const std::string where = file + "|" + section + "|" + key;
        reads.push_back(where + "|" + std::to_string(defaultValue));
        auto it = values.find(where);
        return it == values.end() ? defaultValue : it->second;
    }

    std::map<std::string, uint32_t> values;  // "file|section|key" -> value
    std::vector<std::string> reads;          // "file|section|key|default"

  private:
    std::mutex mutex_;
};

}  // namespace vt::fakes
