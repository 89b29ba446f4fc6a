// Folders that point wherever the test says. Files are read from `files`,
// else as `refusals` says, else from the disk (within the limit).
#pragma once

#include <fstream>
#include <iterator>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "platform/folders.h"

namespace vt::fakes {

class FakeFolders final : public platform::Folders {
  public:
    std::string DataFolder() override { return dataFolder; }
    bool SharedDataFolder(std::string& folder) override {
        if (sharedDataFolderFails) {
            return false;
        }
        folder = dataFolder;
        return true;
    }
    char Separator() override { return '/'; }

    std::string ProgramFolder() override { return programFolder; }

    platform::UserFile ReadUserFile(const std::string& path, size_t limit,
                                    std::string& content) override {
        std::lock_guard<std::mutex> lock(mutex_);
        userFileReads.push_back(path);
        limits.push_back(limit);
        if (auto refused = refusals.find(path); refused != refusals.end()) {
            return refused->second;
        }
        std::string text;
        if (auto file = files.find(path); file != files.end()) {
            text = file->second;
        } else {
            std::ifstream in(path, std::ios::binary);
            if (!in) {
                return platform::UserFile::Missing;
            }
            text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        }
        if (text.size() > limit) {
            return platform::UserFile::TooLarge;
        }
        content = std::move(text);
        return platform::UserFile::Read;
    }

    bool PrepareServiceFolder(const std::string& folder, uint32_t& error) override {
        preparedFolders.push_back(folder);
        if (prepareError != 0) {
            error = prepareError;
            return false;
        }
        serviceFolder = folder;
        return true;
    }
    std::string ServiceFolder() override { return serviceFolder; }

    std::string dataFolder = "/nonexistent/vtservice-data";
    bool sharedDataFolderFails = false;
    std::string programFolder = "/opt/vtservice";
    std::map<std::string, std::string> files;  // path -> content
    std::map<std::string, platform::UserFile> refusals;
    std::vector<std::string> userFileReads;
    std::vector<size_t> limits;
    // Empty until prepared (or set by the test).
    std::string serviceFolder;
    uint32_t prepareError = 0;
    std::vector<std::string> preparedFolders;

  private:
    std::mutex mutex_;
};

}  // namespace vt::fakes
