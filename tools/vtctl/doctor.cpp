#include "doctor.h"

#include <cstdlib>

#include "devices/device_layer.h"
#include "devices/twlink_loader.h"
#include "oled/oled_converter.h"
#include "telemetry/sensor_monitor.h"

namespace vtctl {

void DoctorReport::Ok(const std::string& check) {
    ++passed_;
    std::fprintf(out_, "ok    %s\n", check.c_str());
    std::fflush(out_);
}

void DoctorReport::Fail(const std::string& check, const std::string& found,
                        const std::string& expected) {
    ++failed_;
    std::fprintf(out_, "FAIL  %s: found %s, expected %s\n", check.c_str(), found.c_str(),
                 expected.c_str());
    std::fflush(out_);
}

void DoctorReport::CannotCheck(const std::string& check, const std::string& why) {
    ++notChecked_;
    std::fprintf(out_, "cannot check here  %s (%s)\n", check.c_str(), why.c_str());
    std::fflush(out_);
}

void DoctorReport::Expect(const std::string& check, const std::string& found,
                          const std::string& expected) {
    if (found == expected) {
        Ok(check);
    } else {
        Fail(check, found, expected);
    }
}

int DoctorReport::Finish() {
    std::fprintf(out_, "%d passed, %d failed, %d not checked\n", passed_, failed_, notChecked_);
    std::fflush(out_);
    return failed_ == 0 ? 0 : 1;
}

namespace {

// The device library's exports, as the service's own loader resolves them
// (a stand-in library that only records the names asked for).
std::vector<std::string> TwLinkExports() {
    struct Recorder : vt::platform::DynamicLibrary {
        std::vector<std::string> names;
        void* Symbol(const char* name) override {
            names.emplace_back(name);
            return nullptr;
        }
        void Unload() override {}
    } recorder;
    std::string missing;
    vt::devices::ResolveTwLink(recorder, missing);
    return recorder.names;
}

std::string FileName(const vt::platform::LibraryName& name) {
#ifdef _WIN32
    return std::string(name.windows, name.windows + std::char_traits<wchar_t>::length(name.windows));
#else
    return name.posix;
#endif
}

}  // namespace

std::vector<ComponentExports> ServiceComponents() {
    return {
        {FileName(vt::devices::kTwLinkLibrary), TwLinkExports()},
        {FileName(vt::oled::kOledConvertLibrary), {vt::oled::kOledDataConvertExport}},
        {FileName(vt::telemetry::kSdkLibrary), {"QueryInterface"}},
        {FileName(vt::telemetry::kCoreTempLibrary), {"GetCpuTemp", "GetGpuTemp"}},
        {FileName({L"tw-nightjar.exe", "tw-nightjar"}), {}},
    };
}

std::string MissingExports(const std::vector<std::string>& exports,
                           const std::function<void*(const char*)>& lookup) {
    std::string missing;
    for (const std::string& name : exports) {
        if (lookup(name.c_str()) == nullptr) {
            missing += (missing.empty() ? "no export " : ", ") + name;
        }
    }
    return missing;
}

void CheckComponents(DoctorReport& report, const std::string& programFolder) {
    for (const ComponentExports& component : ServiceComponents()) {
        const std::string check = "the component " + component.file + " beside the program";
        const std::string why = CheckComponent(programFolder, component.file, component.exports);
        if (why.empty()) {
            report.Ok(check);
        } else {
            report.Fail(check, why,
                        component.exports.empty() ? "the program" : "a library with its exports");
        }
    }
}

std::string PipeVersionOf(const std::string& productVersion) {
    // "0.4.0.0" -> 0.4: the text up to the second dot, read as a number.
    const size_t first = productVersion.find('.');
    const size_t second = first == std::string::npos ? first : productVersion.find('.', first + 1);
    char text[64];
    std::snprintf(text, sizeof text, "%f",
                  std::strtod(productVersion.substr(0, second).c_str(), nullptr));
    return text;
}

void CheckPipe(DoctorReport& report, const AskPipe& ask, const std::string& expectedVersion) {
    const std::optional<std::string> hello = ask("hello");
    if (!hello) {
        report.Fail("the pipe answers", "no answer to hello", "TW_OK");
        report.CannotCheck("the service's version", "the pipe does not answer");
        return;
    }
    report.Expect("the pipe answers", *hello, "TW_OK");
    const std::optional<std::string> version = ask("version");
    report.Expect("the service's version is the installed program's",
                  version.value_or("no answer"), expectedVersion);
}

}  // namespace vtctl
