// `vtctl doctor`: the installation checks itself, read-only, on the machine
// where it runs. Each check prints one line as it finishes (so a check that
// hangs shows where), then a summary; the exit status is non-zero when any
// check failed. What is checked differs per system (doctor_posix.cpp,
// doctor_win.cpp); this file holds what both share.
#pragma once

#include <cstdio>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace vtctl {

// One request to the service's pipe: its reply, or nothing when the service
// could not be reached or did not answer.
using AskPipe = std::function<std::optional<std::string>(const std::string& request)>;

class DoctorReport {
  public:
    explicit DoctorReport(FILE* out) : out_(out) {}

    void Ok(const std::string& check);
    // What was found against what the installation should have.
    void Fail(const std::string& check, const std::string& found, const std::string& expected);
    void CannotCheck(const std::string& check, const std::string& why);
    // Ok when `found` is `expected`, else a failure naming both.
    void Expect(const std::string& check, const std::string& found, const std::string& expected);

    // The summary line; the exit status: 0 when nothing failed.
    int Finish();

  private:
    FILE* out_;
    int passed_ = 0;
    int failed_ = 0;
    int notChecked_ = 0;
};

// A component beside the program and the exports the service looks up in
// it; a program (the companion) has none and is only looked for.
struct ComponentExports {
    std::string file;
    std::vector<std::string> exports;
};
// The outside components the service loads from its own folder, by this
// system's file names.
std::vector<ComponentExports> ServiceComponents();

// Loads `file` from `folder` by its full path and looks up `exports` in it:
// empty when all are there, else what is wrong. Per system.
std::string CheckComponent(const std::string& folder, const std::string& file,
                           const std::vector<std::string>& exports);

// "no export a, b" for the `exports` that `lookup` does not find; empty
// when it finds all.
std::string MissingExports(const std::vector<std::string>& exports,
                           const std::function<void*(const char*)>& lookup);

// The checks every system makes: the pipe answers, and the version it
// reports is `expectedVersion` (the installed program's); each component
// beside the program in `programFolder` loads with its exports.
void CheckPipe(DoctorReport& report, const AskPipe& ask, const std::string& expectedVersion);
void CheckComponents(DoctorReport& report, const std::string& programFolder);

// The version the pipe reports for a product version "major.minor...": the
// first two numbers as "%f" prints them.
std::string PipeVersionOf(const std::string& productVersion);

// Runs this system's checks and prints the summary; returns the exit status.
int RunDoctor(const AskPipe& ask, FILE* out);

}  // namespace vtctl
