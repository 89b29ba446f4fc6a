// What the simulator needs from the operating system.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

namespace twsim {

class Simulator;

// The variable's value (UTF-8), or "" when unset.
std::string EnvVar(const char* name);
// The folder this library was loaded from, with a trailing separator.
std::string LibraryFolder();
// fopen with a UTF-8 path, binary mode.
std::FILE* OpenFile(const std::string& path, bool write);
// The whole file, or nothing when it is missing, unreadable or too large.
std::optional<std::string> ReadWholeFile(const std::string& path, size_t limit);
bool WriteWholeFile(const std::string& path, const std::string& bytes);
unsigned long ProcessId();
// Names the calling thread "twsim-...", so thread lists (and the daemon's
// idle benchmark) tell the library's own threads from the service's.
// Nothing on Windows.
void NameThisThread(const char* name);
// Opens the control endpoint before returning, so it is ready once the
// first export returns, and serves it on the library's own threads.
void StartControlEndpoint(Simulator& sim);

}  // namespace twsim
