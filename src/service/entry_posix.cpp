// The Linux daemon's main: wide arguments for the shared entry point.
#include <string>
#include <vector>

#include "platform/posix/system_posix.h"
#include "platform/posix/wide_posix.h"
#include "service/program_main.h"

int main(int argc, char** argv) {
    vt::platform::posix::BlockStopSignals();
    std::vector<std::wstring> args;
    args.reserve(static_cast<size_t>(argc));
    for (int i = 0; i < argc; ++i) {
        args.push_back(vt::platform::posix::FromUtf8(argv[i]));
    }
    std::vector<wchar_t*> wargv;
    for (auto& a : args) {
        wargv.push_back(a.data());
    }
    wargv.push_back(nullptr);
    return vt::service::ProgramMain(argc, wargv.data(), vt::platform::System());
}
