// The companion program's stand-in: it does nothing but stay up until it is
// ended, so the service's watcher finds it under its file name. On Windows
// it is a windowless program: it starts in the user's desktop session.
#ifdef _WIN32
#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int) {
    for (;;) {
        ::Sleep(INFINITE);
    }
}
#else
#include <unistd.h>

int main() {
    for (;;) {
        pause();
    }
}
#endif
