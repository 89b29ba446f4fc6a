// Calling conventions of functions that cross into closed components.
// On 32-bit x86 exports are caller-cleaned (cdecl) and callbacks
// callee-cleaned (stdcall), as the 32-bit Windows library was built. The
// 32-bit Linux build (tests and stand-ins) uses the same conventions, so a
// callback declared without them fails to convert to its pointer type there
// just as it does in the product. Other targets have only one convention.
#pragma once

#if defined(__i386__)
#define VT_CDECL __attribute__((cdecl))
#define VT_STDCALL __attribute__((stdcall))
#else
#define VT_CDECL
#define VT_STDCALL
#endif
