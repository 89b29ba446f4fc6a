/* What an administrator's tools read from our files, printed for the Wine
   harness (UTF-8, one value a line):

     vt_resinfo event SOURCE ID STRING...
         the text the event log viewer shows for an entry of SOURCE with
         event id ID and these strings: the message file comes from the
         source's registry key, as the viewer finds it;
     vt_resinfo version FILE...
         each file's version resource after a line "== FILE": the fixed
         file and product versions, then the English strings;
     vt_resinfo binpath SERVICE PATH
         registers PATH as SERVICE's command line, as it stands (Wine's sc
         has no "config"): how the harness plants an unquoted path.

   Exit status 0 when everything was found, 1 otherwise (the reason on
   standard error). */
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

static void put(const wchar_t* text) {
    char buffer[4096];
    int n = WideCharToMultiByte(CP_UTF8, 0, text, -1, buffer, sizeof buffer, NULL, NULL);
    if (n > 0) {
        fwrite(buffer, 1, (size_t)(n - 1), stdout);
    }
}

static int fail(const char* what, DWORD code) {
    fprintf(stderr, "vt_resinfo: %s failed w/err 0x%08lx\n", what, (unsigned long)code);
    return 1;
}

static int event_text(const wchar_t* source, DWORD id, int count, wchar_t** strings) {
    wchar_t key[512];
    wchar_t value[1024];
    wchar_t files[1024];
    DWORD size = sizeof value;
    swprintf(key, 512, L"SYSTEM\\CurrentControlSet\\Services\\EventLog\\Application\\%ls", source);
    LSTATUS status =
        RegGetValueW(HKEY_LOCAL_MACHINE, key, L"EventMessageFile",
                     RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, NULL, value, &size);
    if (status != ERROR_SUCCESS) {
        return fail("reading EventMessageFile", (DWORD)status);
    }
    if (ExpandEnvironmentStringsW(value, files, 1024) == 0) {
        return fail("ExpandEnvironmentStrings", GetLastError());
    }
    DWORD_PTR args[16];
    for (int i = 0; i < count && i < 16; ++i) {
        args[i] = (DWORD_PTR)strings[i];
    }
    /* The value may list several files, separated by ';': the first that
       holds the message wins. */
    DWORD last = ERROR_FILE_NOT_FOUND;
    for (wchar_t* file = files; file != NULL && *file != L'\0';) {
        wchar_t* next = wcschr(file, L';');
        if (next != NULL) {
            *next++ = L'\0';
        }
        HMODULE module = LoadLibraryExW(file, NULL, LOAD_LIBRARY_AS_DATAFILE);
        if (module == NULL) {
            last = GetLastError();
            file = next;
            continue;
        }
        wchar_t* text = NULL;
        DWORD n = FormatMessageW(FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ALLOCATE_BUFFER |
                                     FORMAT_MESSAGE_ARGUMENT_ARRAY,
                                 module, id, 0, (LPWSTR)&text, 0, (va_list*)args);
        last = GetLastError();
        FreeLibrary(module);
        if (n != 0) {
            put(text);
            LocalFree(text);
            return 0;
        }
        file = next;
    }
    return fail("FormatMessage", last);
}

static int version_info(const wchar_t* file) {
    DWORD handle = 0;
    DWORD size = GetFileVersionInfoSizeW(file, &handle);
    if (size == 0) {
        return fail("GetFileVersionInfoSize", GetLastError());
    }
    void* data = malloc(size);
    if (data == NULL || !GetFileVersionInfoW(file, 0, size, data)) {
        free(data);
        return fail("GetFileVersionInfo", GetLastError());
    }
    VS_FIXEDFILEINFO* fixed = NULL;
    UINT length = 0;
    if (!VerQueryValueW(data, L"\\", (void**)&fixed, &length) || length < sizeof *fixed) {
        free(data);
        return fail("VerQueryValue", GetLastError());
    }
    wchar_t line[256];
    swprintf(line, 256, L"FixedFileVersion=%u.%u.%u.%u\nFixedProductVersion=%u.%u.%u.%u\n",
             HIWORD(fixed->dwFileVersionMS), LOWORD(fixed->dwFileVersionMS),
             HIWORD(fixed->dwFileVersionLS), LOWORD(fixed->dwFileVersionLS),
             HIWORD(fixed->dwProductVersionMS), LOWORD(fixed->dwProductVersionMS),
             HIWORD(fixed->dwProductVersionLS), LOWORD(fixed->dwProductVersionLS));
    put(line);
    static const wchar_t* const names[] = {L"CompanyName",   L"FileDescription",  L"FileVersion",
                                           L"InternalName",  L"OriginalFilename", L"ProductName",
                                           L"ProductVersion"};
    for (size_t i = 0; i < sizeof names / sizeof names[0]; ++i) {
        wchar_t path[128];
        wchar_t* value = NULL;
        swprintf(path, 128, L"\\StringFileInfo\\040904B0\\%ls", names[i]);
        if (VerQueryValueW(data, path, (void**)&value, &length) && value != NULL) {
            swprintf(line, 256, L"%ls=%ls\n", names[i], value);
            put(line);
        }
    }
    free(data);
    return 0;
}

int wmain(int argc, wchar_t** argv) {
    /* The texts as they are: a "\r\n" in a message stays one line break. */
    _setmode(_fileno(stdout), _O_BINARY);
    if (argc >= 4 && wcscmp(argv[1], L"event") == 0) {
        return event_text(argv[2], (DWORD)wcstoul(argv[3], NULL, 0), argc - 4, argv + 4);
    }
    if (argc >= 3 && wcscmp(argv[1], L"version") == 0) {
        int failures = 0;
        for (int i = 2; i < argc; ++i) {
            put(L"== ");
            put(argv[i]);
            put(L"\n");
            failures += version_info(argv[i]);
        }
        return failures == 0 ? 0 : 1;
    }
    if (argc == 4 && wcscmp(argv[1], L"binpath") == 0) {
        SC_HANDLE manager = OpenSCManagerW(NULL, NULL, SC_MANAGER_CONNECT);
        SC_HANDLE service = manager ? OpenServiceW(manager, argv[2], SERVICE_CHANGE_CONFIG) : NULL;
        BOOL changed = service && ChangeServiceConfigW(service, SERVICE_NO_CHANGE, SERVICE_NO_CHANGE,
                                                       SERVICE_NO_CHANGE, argv[3], NULL, NULL,
                                                       NULL, NULL, NULL, NULL);
        DWORD code = GetLastError();
        if (service) CloseServiceHandle(service);
        if (manager) CloseServiceHandle(manager);
        return changed ? 0 : fail("ChangeServiceConfigW", code);
    }
    fputs("usage: vt_resinfo event SOURCE ID STRING... | version FILE... | binpath SERVICE PATH\n",
          stderr);
    return 2;
}
