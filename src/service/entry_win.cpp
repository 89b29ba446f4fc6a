// VTService.exe's entry point.
#include <windows.h>

#include "service/program_main.h"

int wmain(int argc, wchar_t** argv) {
    // Before anything can load a library: never take a DLL from the current
    // directory or PATH, only from System32 and the program's own folder.
    ::SetDefaultDllDirectories(LOAD_LIBRARY_SEARCH_SYSTEM32 | LOAD_LIBRARY_SEARCH_APPLICATION_DIR);
    return vt::service::ProgramMain(argc, argv, vt::platform::System());
}
