// Calling conventions of functions that cross into closed Windows components.
// On the 32-bit Windows build exports are caller-cleaned (cdecl) and callbacks
// callee-cleaned (stdcall); everywhere else there is only one convention.
#pragma once

#if defined(_WIN32) && defined(__i386__)
#define VT_CDECL __attribute__((cdecl))
#define VT_STDCALL __attribute__((stdcall))
#else
#define VT_CDECL
#define VT_STDCALL
#endif
