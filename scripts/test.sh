#!/usr/bin/env bash
# Every test: installs what is missing (Debian packages, the i386
# architecture, Wine), builds the native, sanitizer and both Windows builds,
# runs the native tests with ctest, then the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages --i386 "${NATIVE_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" "${WINE_PACKAGES[@]}"

jobs=$(nproc)
configure() {  # configure DIR [cmake args...]
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1 ||
        { cat "$dir.configure.log"; return 1; }
}
mkdir -p build

echo "== native build"
configure build/native -DCMAKE_BUILD_TYPE=Debug
cmake --build build/native -j "$jobs"
echo "== native tests"
(cd build/native && ctest --output-on-failure -j "$jobs")

echo "== sanitizer build (address, undefined)"
configure build/asan -DCMAKE_BUILD_TYPE=Debug -DVT_SANITIZE=ON
cmake --build build/asan -j "$jobs"
(cd build/asan && ctest --output-on-failure -j "$jobs")

echo "== Windows builds (32-bit product, 64-bit for kernels without 32-bit support)"
configure build/win32 -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
cmake --build build/win32 -j "$jobs"
configure build/win64 -DCMAKE_BUILD_TYPE=Release \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake
cmake --build build/win64 -j "$jobs"

echo "== Windows build under Wine"
bash tests/wine/wine_service_test.sh build/win32 build/win64
