/* Planted as C:\Program.exe: if the service manager ever starts it, the
   marker file shows it. A quoted service path must never reach it. */
#include <stdio.h>

int main(void) {
    FILE* f = fopen("C:\\canary_ran.txt", "a");
    if (f) {
        fputs("ran\n", f);
        fclose(f);
    }
    return 0;
}
