#!/usr/bin/env bash
# The core as 32-bit x86 code: builds build/i386 (g++ -m32, the archive's
# i386 GoogleTest) and runs every test of that tree, the daemon end to end
# included. How depends on the kernel:
# - one that runs 32-bit programs runs them natively, built with
#   AddressSanitizer and UndefinedBehaviorSanitizer as the host's tree is;
# - one that does not runs them under qemu's user-mode emulator, with
#   UndefinedBehaviorSanitizer only (AddressSanitizer's programs do not start
#   there).
# VT_I386_NATIVE=1 or 0 says which (scripts/test.sh probes once and sets it);
# unset, this script probes the kernel itself. Arguments go to ctest (e.g.
# -E '^e2e\.' leaves out the end-to-end drivers).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages --i386 "${NATIVE_PACKAGES[@]}" "${I386_PACKAGES[@]}"

if [ -z "${VT_I386_NATIVE:-}" ]; then
    if kernel_runs_i386; then VT_I386_NATIVE=1
    elif [ $? = 1 ]; then VT_I386_NATIVE=0
    else echo "no 32-bit x86 program could be built"; exit 1; fi
fi
if [ "$VT_I386_NATIVE" = 1 ]; then
    echo "# i386 tree: native, with AddressSanitizer and UndefinedBehaviorSanitizer"
    native=ON
else
    echo "# i386 tree: under qemu-i386, with UndefinedBehaviorSanitizer"
    native=OFF
fi
sanitizer_options

jobs=$(nproc)
mkdir -p build
cmake -S . -B build/i386 -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-i386.cmake -DVT_SANITIZE=ON \
    -DVT_I386_NATIVE=$native \
    >build/i386.configure.log 2>&1 || { cat build/i386.configure.log; exit 1; }
cmake --build build/i386 -j "$jobs"
(cd build/i386 && ctest --output-on-failure -j "$jobs" "$@")
