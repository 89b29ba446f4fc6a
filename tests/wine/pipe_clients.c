/* Clients of the service's named pipe for the Wine run, each one way of
 * holding it while other clients must still be served:
 *
 *   vt_pipe_clients silent GO   connects and never writes
 *   vt_pipe_clients slow GO     writes a byte every 50 ms for 3 s and never
 *                               reads a reply, so the service's replies to
 *                               it pile up
 *   vt_pipe_clients eight GO    eight clients, each with one "hello"
 *                               answered, in turn; once GO exists, asks each
 *                               for "version" and prints which ones the
 *                               service closed meanwhile ("1:closed" ...)
 *
 * Each prints "holding" once in place, and ends once the file GO exists. */
#include <stdio.h>
#include <string.h>
#include <windows.h>

static const char kPipe[] = "\\\\.\\pipe\\twvtservicepipe";

static HANDLE Open(void) {
    for (int attempt = 0; attempt < 10; ++attempt) {
        HANDLE h =
            CreateFileA(kPipe, GENERIC_READ | GENERIC_WRITE, 0, NULL, OPEN_EXISTING, 0, NULL);
        if (h != INVALID_HANDLE_VALUE || GetLastError() != ERROR_PIPE_BUSY) {
            return h;
        }
        WaitNamedPipeA(kPipe, 1000);
    }
    return INVALID_HANDLE_VALUE;
}

/* One request and its reply; 0 when the service closed the connection. */
static int RoundTrip(HANDLE h, const char* request, char* reply, DWORD size) {
    DWORD n = 0;
    if (!WriteFile(h, request, (DWORD)strlen(request), &n, NULL)) {
        return 0;
    }
    if (!ReadFile(h, reply, size - 1, &n, NULL) || n == 0) {
        return 0;
    }
    reply[n] = '\0';
    return 1;
}

static void Holding(void) {
    printf("holding\n");
    fflush(stdout);
}

static void WaitFor(const char* go) {
    while (GetFileAttributesA(go) == INVALID_FILE_ATTRIBUTES) {
        Sleep(50);
    }
}

int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: vt_pipe_clients silent|slow|eight GOFILE\n");
        return 2;
    }
    const char* mode = argv[1];
    const char* go = argv[2];
    if (strcmp(mode, "silent") == 0 || strcmp(mode, "slow") == 0) {
        HANDLE h = Open();
        if (h == INVALID_HANDLE_VALUE) {
            fprintf(stderr, "cannot open the pipe: %lu\n", GetLastError());
            return 1;
        }
        DWORD n = 0;
        const int slow = strcmp(mode, "slow") == 0;
        if (slow && !WriteFile(h, "h", 1, &n, NULL)) {
            return 1;
        }
        Holding();
        /* Sixty bytes at most: never more than the pipe holds, so this
         * client never waits in a write. */
        for (int i = 0; slow && i < 60 && GetFileAttributesA(go) == INVALID_FILE_ATTRIBUTES; ++i) {
            Sleep(50);
            WriteFile(h, "e", 1, &n, NULL);
        }
        WaitFor(go);
        CloseHandle(h);
        return 0;
    }
    if (strcmp(mode, "eight") == 0) {
        HANDLE clients[8];
        char reply[64];
        for (int i = 0; i < 8; ++i) {
            clients[i] = Open();
            if (clients[i] == INVALID_HANDLE_VALUE ||
                !RoundTrip(clients[i], "hello", reply, sizeof reply) ||
                strcmp(reply, "TW_OK") != 0) {
                fprintf(stderr, "client %d was not served\n", i + 1);
                return 1;
            }
        }
        Holding();
        WaitFor(go);
        for (int i = 0; i < 8; ++i) {
            if (!RoundTrip(clients[i], "version", reply, sizeof reply)) {
                printf("%d:closed\n", i + 1);
            } else {
                printf("%d:%s\n", i + 1, strcmp(reply, "0.400000") == 0 ? "open" : reply);
            }
            CloseHandle(clients[i]);
        }
        return 0;
    }
    fprintf(stderr, "unknown mode %s\n", mode);
    return 2;
}
