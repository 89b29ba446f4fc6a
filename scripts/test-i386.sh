#!/usr/bin/env bash
# The core as 32-bit x86 code: builds build/i386 (g++ -m32, the archive's
# i386 GoogleTest, UndefinedBehaviorSanitizer) and runs its tests under
# qemu's user-mode emulator, since this kernel runs no 32-bit program itself.
# Every test of the native tree runs here too, the daemon end to end
# included. Arguments go to ctest (e.g. -E '^e2e\.' leaves out the drivers).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages --i386 "${NATIVE_PACKAGES[@]}" "${I386_PACKAGES[@]}"

jobs=$(nproc)
mkdir -p build
# No AddressSanitizer: its programs do not start under the emulator.
cmake -S . -B build/i386 -G Ninja -DCMAKE_BUILD_TYPE=Debug \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-linux-i386.cmake -DVT_SANITIZE=ON \
    >build/i386.configure.log 2>&1 || { cat build/i386.configure.log; exit 1; }
cmake --build build/i386 -j "$jobs"
(cd build/i386 && ctest --output-on-failure -j "$jobs" "$@")
