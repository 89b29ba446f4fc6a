/* Preloaded into the daemon by the stop tests: once exit() has run the
 * static destructors (the service object is long gone), holds the process
 * for VT_HOLD_EXIT_MS and then touches the file VT_HOLD_EXIT_MARK. A thread
 * that outlived what it uses is then caught by the sanitizer instead of
 * vanishing with the process, and the mark's time tells when the stop was
 * over. */
#include <stdio.h>
#include <stdlib.h>
#include <time.h>

__attribute__((destructor)) static void HoldExit(void) {
    const char* mark = getenv("VT_HOLD_EXIT_MARK");
    if (mark != NULL) {
        FILE* f = fopen(mark, "w");
        if (f != NULL) {
            fclose(f);
        }
    }
    const char* text = getenv("VT_HOLD_EXIT_MS");
    const long ms = text != NULL ? atol(text) : 0;
    if (ms > 0) {
        struct timespec pause = {ms / 1000, (ms % 1000) * 1000000L};
        while (nanosleep(&pause, &pause) != 0) {
        }
    }
}
