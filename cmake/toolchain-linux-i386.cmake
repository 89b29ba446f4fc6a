# 32-bit x86 Linux build of the same sources (g++-multilib, the archive's
# i386 GoogleTest). It gives the core what the 32-bit product has: 4-byte
# pointers and `long`, x87 floating point, and stdcall callbacks across the
# device library contract.
#
# Whether its programs can run depends on the kernel: one with IA-32
# emulation runs them natively (then the tree is built with AddressSanitizer
# too and runs like the host's); one without it only through qemu's
# user-mode emulator. scripts/test-i386.sh probes the kernel and passes
# -DVT_I386_NATIVE=ON or OFF; OFF, the default, works on every kernel.
set(CMAKE_SYSTEM_NAME Linux)
set(CMAKE_SYSTEM_PROCESSOR i686)
# -m32 is part of the compiler command, so CMAKE_CXX_FLAGS given on the
# command line (the sanitizer build's) add to it instead of replacing it.
set(CMAKE_C_COMPILER gcc -m32)
set(CMAKE_CXX_COMPILER g++ -m32)
set(CMAKE_LIBRARY_ARCHITECTURE i386-linux-gnu)
# Only the i386 packages' libraries and CMake packages, never the host's.
set(CMAKE_IGNORE_PATH /usr/lib/x86_64-linux-gnu /lib/x86_64-linux-gnu
                      /usr/lib/x86_64-linux-gnu/cmake)

# try_compile projects read this file again: give them the same choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES VT_I386_NATIVE)
if(NOT VT_I386_NATIVE)
    # ctest and gtest_discover_tests put the emulator before every program.
    find_program(VT_QEMU_I386 qemu-i386-static REQUIRED)
    set(CMAKE_CROSSCOMPILING_EMULATOR ${VT_QEMU_I386})
    # Such a kernel cannot exec an i386 program without a binfmt_misc entry,
    # so a program the code under test starts by itself (the companion) is
    # built for the host with these flags.
    set(VT_HOST_PROGRAM_FLAGS -m64)
endif()
