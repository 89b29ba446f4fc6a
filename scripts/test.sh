#!/usr/bin/env bash
# Every test: installs what is missing (Debian packages, the i386
# architecture, Wine), builds the native build with sanitizers and runs its
# tests with ctest, runs the 32-bit x86 build's tests but the end-to-end
# ones under qemu, fuzzes the pipe
# requests for 30 s and the OLED job file for 20 s, builds the Linux
# package and checks it and its systemd unit (also for real, in a
# throw-away container), builds both Windows builds and their installers,
# then tests the Windows build under Wine. The benchmark is scripts/bench.sh.
# Two runs do not fit in CI's 25 minutes and are run by hand before a change
# lands: the i386 end-to-end tests (scripts/test-i386.sh -R '^e2e\.') and
# the ThreadSanitizer run (scripts/tsan.sh).
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages --i386 "${NATIVE_PACKAGES[@]}" "${I386_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" \
    "${WINE_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"

jobs=$(nproc)
configure() {  # configure DIR [cmake args...]
    local dir=$1; shift
    cmake -S . -B "$dir" -G Ninja "$@" >"$dir.configure.log" 2>&1 ||
        { cat "$dir.configure.log"; return 1; }
}
mkdir -p build

# Every native test runs once, in the sanitizer build: a plain build would
# only repeat them without the checks (scripts/run.sh builds build/native).
echo "== native build with AddressSanitizer and UndefinedBehaviorSanitizer, and its tests"
configure build/asan -DCMAKE_BUILD_TYPE=Debug -DVT_SANITIZE=ON
cmake --build build/asan -j "$jobs"
# The build already stops at the first report; these make sure nothing in
# the environment turns that off, and that leaks count too.
export ASAN_OPTIONS="${ASAN_OPTIONS:+$ASAN_OPTIONS:}halt_on_error=1:detect_leaks=1"
export UBSAN_OPTIONS="${UBSAN_OPTIONS:+$UBSAN_OPTIONS:}halt_on_error=1:print_stacktrace=1"
(cd build/asan && ctest --output-on-failure -j "$jobs")

echo "== the same sources as 32-bit x86 code under qemu-i386, with UndefinedBehaviorSanitizer (not the end-to-end tests)"
./scripts/test-i386.sh -E '^e2e\.'

echo "== fuzzing the pipe requests (30 s) and the OLED job file (20 s) with libFuzzer"
# Short runs, to catch what a change breaks; long runs are scripts/fuzz.sh.
./scripts/fuzz.sh pipe 30
./scripts/fuzz.sh oled 20

echo "== the Linux package (.deb) and its systemd unit"
# A release build of what ships, without tests or benchmark.
configure build/package -DCMAKE_BUILD_TYPE=Release -DVT_BUILD_TESTS=OFF \
    -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON
cmake --build build/package -j "$jobs"
(cd build/package && cpack -G DEB >cpack.log 2>&1) || { cat build/package/cpack.log; exit 1; }
bash tests/package/package_test.sh build/package
bash tests/package/sandbox_test.sh build/package

echo "== Windows builds (32-bit product, 64-bit for kernels without 32-bit support)"
# The Wine run uses the 32-bit build where 32-bit Wine starts, else the
# 64-bit one; the other build only has to compile the product and its
# stand-ins and tools, not the tests.
if /usr/lib/wine/wine --version >/dev/null 2>&1; then
    win32_tests=ON
else
    win32_tests=OFF
fi
configure build/win32 -DCMAKE_BUILD_TYPE=Release -DVT_BUILD_TESTS=$win32_tests \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
cmake --build build/win32 -j "$jobs"
# The product's installer, and the 64-bit build's for the Wine run.
installer() { (cd "$1" && cpack -G NSIS >cpack.log 2>&1) || { cat "$1/cpack.log"; exit 1; }; }
installer build/win32
if [ "$win32_tests" = OFF ]; then
    configure build/win64 -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake
    cmake --build build/win64 -j "$jobs"
    installer build/win64
fi

echo "== Windows build under Wine"
bash tests/wine/wine_service_test.sh build/win32 build/win64
