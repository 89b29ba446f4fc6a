// oledrender: shows what the OLED job would paint on the RX410 mouse for a
// job file, without a mouse. Runs one cycle of the mouse's profile with the
// converter stand-in and writes the frames as PNG pictures and/or as text,
// or compares them with a text file of expected frames.
//
//   oledrender [--mouse STATE.json] [--png DIR] [--text FILE] [--check FILE] JOBFILE
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <string>

#include "png.h"
#include "preview.h"

namespace {

namespace fs = std::filesystem;
using vt::oledrender::FramesToText;

bool ReadWhole(const std::string& path, std::string& out) {
    std::ifstream file(path, std::ios::binary);
    if (!file) {
        return false;
    }
    std::ostringstream text;
    text << file.rdbuf();
    out = text.str();
    return true;
}

bool WriteWhole(const std::string& path, const std::string& data) {
    std::ofstream file(path, std::ios::binary | std::ios::trunc);
    file.write(data.data(), static_cast<std::streamsize>(data.size()));
    return static_cast<bool>(file);
}

int Usage() {
    std::cerr << "usage: oledrender [--mouse STATE.json] [--png DIR] [--text FILE] "
                 "[--check FILE] JOBFILE\n";
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    std::string mousePath, pngDir, textPath, checkPath, jobPath;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        std::string* value = arg == "--mouse"   ? &mousePath
                             : arg == "--png"   ? &pngDir
                             : arg == "--text"  ? &textPath
                             : arg == "--check" ? &checkPath
                                                : nullptr;
        if (value) {
            if (++i == argc) {
                return Usage();
            }
            *value = argv[i];
        } else if (jobPath.empty() && arg.rfind("--", 0) != 0) {
            jobPath = arg;
        } else {
            return Usage();
        }
    }
    if (jobPath.empty()) {
        return Usage();
    }

    std::string config, mouseText;
    if (!ReadWhole(jobPath, config)) {
        std::cerr << "cannot read " << jobPath << "\n";
        return 1;
    }
    twsim::DeviceState mouse = vt::oledrender::PreviewMouseState();
    if (!mousePath.empty()) {
        std::string error;
        if (!ReadWhole(mousePath, mouseText) ||
            !vt::oledrender::ReadMouseState(nlohmann::json::parse(mouseText, nullptr, false), mouse,
                                            error)) {
            std::cerr << mousePath << ": " << (error.empty() ? "cannot read" : error) << "\n";
            return 1;
        }
    }

    // The job writes its scratch bitmap beside the job file it reads.
    std::error_code ec;
    const fs::path scratch = fs::temp_directory_path(ec) /
                             ("oledrender-" + std::to_string(std::hash<std::string>{}(jobPath)) +
                              "-" + std::to_string(reinterpret_cast<uintptr_t>(&mouse)));
    fs::create_directories(scratch, ec);
    const vt::oledrender::Rendering result =
        vt::oledrender::RenderOneCycle(config, mouse, scratch.string());
    fs::remove_all(scratch, ec);

    for (const auto& event : result.events) {
        std::cerr << "event: " << std::string(event.begin(), event.end()) << "\n";
    }
    std::cerr << result.frames.size() << " frame(s)\n";

    const std::string text = FramesToText(result.frames);
    if (!textPath.empty() && !WriteWhole(textPath, text)) {
        std::cerr << "cannot write " << textPath << "\n";
        return 1;
    }
    if (!pngDir.empty()) {
        fs::create_directories(pngDir, ec);
        for (size_t i = 0; i < result.frames.size(); ++i) {
            const std::string number = std::to_string(i + 1);
            const std::string name =
                "frame-" + std::string(number.size() < 2, '0') + number + ".png";
            const std::string path = (fs::path(pngDir) / name).string();
            if (!WriteWhole(path, twsim::FramePng(result.frames[i].data()))) {
                std::cerr << "cannot write " << path << "\n";
                return 1;
            }
        }
    }
    if (!checkPath.empty()) {
        std::string expected;
        if (!ReadWhole(checkPath, expected)) {
            std::cerr << "cannot read " << checkPath << "\n";
            return 1;
        }
        if (expected != text) {
            std::cerr << "frames differ from " << checkPath << "; they are:\n" << text;
            return 1;
        }
        std::cerr << "frames match " << checkPath << "\n";
    }
    if (textPath.empty() && pngDir.empty() && checkPath.empty()) {
        std::cout << text;
    }
    return 0;
}
