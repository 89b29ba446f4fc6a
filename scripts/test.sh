#!/usr/bin/env bash
# Every test: installs what is missing (Debian packages, the i386
# architecture, Wine), builds the native build with sanitizers and runs its
# tests with ctest, runs the 32-bit x86 Linux build's tests, fuzzes the pipe
# requests for 30 s and the OLED job file for 20 s, builds the Linux
# package and checks it and its systemd unit (also for real, in a
# throw-away container), builds the Windows builds and their installers,
# then tests a Windows build under Wine. The benchmark is scripts/bench.sh.
#
# Two steps depend on whether this kernel runs 32-bit x86 programs, which
# it decides once, here, by running a tiny -m32 program:
# - where it does, the 32-bit Linux tree runs natively with AddressSanitizer
#   and UndefinedBehaviorSanitizer, its end-to-end tests included, and Wine
#   runs the 32-bit product;
# - where it does not, that tree runs under qemu with UndefinedBehaviorSanitizer
#   only and without its end-to-end tests (by hand: scripts/test-i386.sh
#   -R '^e2e\.'), and wine64 runs the same sources built for 64-bit Windows.
# The ThreadSanitizer run (scripts/tsan.sh) is run by hand before a change
# lands.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages --i386 "${NATIVE_PACKAGES[@]}" "${I386_PACKAGES[@]}" "${WINDOWS_PACKAGES[@]}" \
    "${WINE_PACKAGES[@]}" "${PACKAGE_PACKAGES[@]}"

if kernel_runs_i386; then i386_native=1
elif [ $? = 1 ]; then i386_native=0
else echo "no 32-bit x86 program could be built"; exit 1; fi
if [ "$i386_native" = 1 ]; then
    echo "== this kernel runs 32-bit x86 programs: the i386 tree runs natively, Wine runs the 32-bit product"
    wine_build=build/win32 i386_run="natively, with AddressSanitizer and UndefinedBehaviorSanitizer"
else
    echo "== this kernel runs no 32-bit x86 program: the i386 tree runs under qemu, wine64 runs the 64-bit build"
    wine_build=build/win64 i386_run="under qemu, with UndefinedBehaviorSanitizer (no end-to-end tests)"
fi
export VT_I386_NATIVE=$i386_native

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
sanitizer_options
(cd build/asan && ctest --output-on-failure -j "$jobs")

echo "== the same sources as 32-bit x86 code, $i386_run"
if [ "$i386_native" = 1 ]; then
    ./scripts/test-i386.sh
else
    ./scripts/test-i386.sh -E '^e2e\.'
fi

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

echo "== Windows builds: the 32-bit product with its tests, and the 64-bit build where Wine cannot run the product"
# The product's tree always builds with its tests, so a fault of the 32-bit
# test build shows on every machine, not only where Wine can run it.
configure build/win32 -DCMAKE_BUILD_TYPE=Release -DVT_BUILD_TESTS=ON \
    -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-i686.cmake
cmake --build build/win32 -j "$jobs"
installer() { (cd "$1" && cpack -G NSIS >cpack.log 2>&1) || { cat "$1/cpack.log"; exit 1; }; }
installer build/win32
if [ "$wine_build" = build/win64 ]; then
    configure build/win64 -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake
    cmake --build build/win64 -j "$jobs"
    installer build/win64
fi

echo "== Windows build under Wine"
VT_WINE_BITS=$([ "$wine_build" = build/win32 ] && echo 32 || echo 64) bash tests/wine/wine_service_test.sh build/win32 build/win64

echo "== all passed: Wine ran $wine_build ($([ "$wine_build" = build/win32 ] &&
    echo "the 32-bit product" || echo "the 64-bit build; the 32-bit product was built, not run")); the i386 tree ran $i386_run"
