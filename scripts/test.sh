#!/usr/bin/env bash
# Every test: installs what is missing (Debian packages, the i386
# architecture, Wine), builds the native build with sanitizers and runs its
# tests with ctest, runs the pipe clients' test against a ThreadSanitizer
# build, fuzzes the pipe requests for 30 s and the OLED job file for 20 s,
# builds both Windows builds, then tests the Windows build under Wine. The
# benchmark is scripts/bench.sh.
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

# Every native test runs once, in the sanitizer build: a plain build would
# only repeat them without the checks (scripts/run.sh builds build/native).
echo "== native build with AddressSanitizer and UndefinedBehaviorSanitizer, and its tests"
configure build/asan -DCMAKE_BUILD_TYPE=Debug -DVT_SANITIZE=ON
cmake --build build/asan -j "$jobs"
(cd build/asan && ctest --output-on-failure -j "$jobs")

echo "== the daemon under ThreadSanitizer: several pipe clients and twenty stops"
./scripts/tsan.sh

echo "== fuzzing the pipe requests (30 s) and the OLED job file (20 s) with libFuzzer"
# -O1 keeps the fuzzer fast enough to matter; no NDEBUG, so asserts stay in.
configure build/fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g" \
    -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVT_FUZZ=ON
cmake --build build/fuzz -j "$jobs" --target vt_pipe_fuzz vt_fuzz_replay vt_oled_fuzz \
    vt_oled_fuzz_replay
mkdir -p build/fuzz/artifacts
fuzz() {  # fuzz NAME SECONDS REPLAYER [libFuzzer options...]
    local name=$1 seconds=$2 replayer=$3; shift 3
    # New inputs go to a scratch folder, never into the seed corpus; a
    # failing input lands in build/fuzz/artifacts/.
    local fresh
    fresh=$(mktemp -d)
    if ! "build/fuzz/tests/fuzz/vt_${name}_fuzz" -max_total_time="$seconds" -timeout=5 \
            -rss_limit_mb=2048 -artifact_prefix=build/fuzz/artifacts/ -print_final_stats=1 "$@" \
            "$fresh" "tests/fuzz/corpus/$name" >"build/fuzz/$name.log" 2>&1; then
        rm -rf "$fresh"
        tail -n 60 "build/fuzz/$name.log"
        echo "fuzzing failed (crash, leak, time-out or out of memory); the input is in" \
             "build/fuzz/artifacts/, replay it with build/fuzz/tests/fuzz/$replayer FILE"
        exit 1
    fi
    rm -rf "$fresh"
    grep -E '^(#[0-9]+[[:space:]]+DONE|stat::number_of_executed_units)' "build/fuzz/$name.log"
}
fuzz pipe 30 vt_fuzz_replay -dict=tests/fuzz/pipe.dict
fuzz oled 20 vt_oled_fuzz_replay

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
if [ "$win32_tests" = OFF ]; then
    configure build/win64 -DCMAKE_BUILD_TYPE=Release \
        -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-mingw-x86_64.cmake
    cmake --build build/win64 -j "$jobs"
fi

echo "== Windows build under Wine"
bash tests/wine/wine_service_test.sh build/win32 build/win64
