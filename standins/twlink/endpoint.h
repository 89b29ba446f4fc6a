// Where the simulator's control endpoint lives; shared with the twsim tool.
#pragma once

#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <unistd.h>
#endif

namespace twsim {

// The endpoint for a given name: "" means the default, a per-user Unix
// socket in /tmp, or on Windows the pipe \\.\pipe\twsim; on Windows a bare
// name gets the pipe prefix.
inline std::string EndpointName(std::string name) {
#ifdef _WIN32
    const std::string prefix = "\\\\.\\pipe\\";
    if (name.empty()) {
        name = "twsim";
    }
    return name.rfind(prefix, 0) == 0 ? name : prefix + name;
#else
    return name.empty() ? "/tmp/twsim-" + std::to_string(getuid()) + ".sock" : name;
#endif
}

// TWSIM_CONTROL, else the default.
inline std::string ControlEndpoint() {
    const char* set = std::getenv("TWSIM_CONTROL");
    return EndpointName(set ? set : "");
}

}  // namespace twsim
