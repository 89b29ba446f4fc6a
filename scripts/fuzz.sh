#!/usr/bin/env bash
# Fuzzes the pipe requests or the OLED job file with libFuzzer, for as long
# as asked; CI runs each for a few seconds, a long run is this script by
# hand.
#
#   scripts/fuzz.sh pipe|oled SECONDS [libFuzzer options...]
#
# New inputs go to a scratch folder, never into the seed corpus. A crash,
# sanitizer report, leak, time-out or wrong result stops the run with the
# input in build/fuzz/artifacts/; replay it with the replayer it names.
# The last lines printed are the run's executions and executions per second.
set -euo pipefail
cd "$(dirname "$0")/.."
name=${1:?usage: scripts/fuzz.sh pipe|oled SECONDS [libFuzzer options...]}
seconds=${2:?usage: scripts/fuzz.sh pipe|oled SECONDS [libFuzzer options...]}
shift 2
case "$name" in
    pipe) replayer=vt_fuzz_replay; options=(-dict=tests/fuzz/pipe.dict) ;;
    oled) replayer=vt_oled_fuzz_replay; options=() ;;
    *) echo "no fuzzer named $name (pipe, oled)"; exit 3 ;;
esac

source scripts/deps.sh
ensure_packages "${NATIVE_PACKAGES[@]}"
dir=build/fuzz
if [ ! -f "$dir/build.ninja" ]; then
    mkdir -p build
    # -O1 keeps the fuzzer fast enough to matter; no NDEBUG, so asserts stay in.
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
        "-DCMAKE_CXX_FLAGS_RELWITHDEBINFO=-O1 -g" \
        -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ -DVT_FUZZ=ON \
        >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
fi
cmake --build "$dir" -j "$(nproc)" --target "vt_${name}_fuzz" "$replayer"

# Sanitizer settings for speed, not for less checking: a quarantine of
# 16 MB still holds many inputs' worth of freed memory (an input allocates
# well under 1 MB), and the default 256 MB kept the allocator on fresh pages
# for every input; filling new blocks finds nothing AddressSanitizer would
# report; ten frames of allocation stack are enough to read a report.
# Together they made the job-file fuzzer four times as fast. Options given
# by the caller win.
export ASAN_OPTIONS="quarantine_size_mb=16:max_malloc_fill_size=0:malloc_context_size=10${ASAN_OPTIONS:+:$ASAN_OPTIONS}"

mkdir -p "$dir/artifacts"
fresh=$(mktemp -d)
trap 'rm -rf "$fresh"' EXIT
log=$dir/$name.log
if ! "$dir/tests/fuzz/vt_${name}_fuzz" -max_total_time="$seconds" -timeout=5 -rss_limit_mb=2048 \
        -artifact_prefix="$dir/artifacts/" -print_final_stats=1 "${options[@]}" "$@" \
        "$fresh" "tests/fuzz/corpus/$name" >"$log" 2>&1; then
    tail -n 60 "$log"
    echo "fuzzing $name failed (crash, sanitizer report, leak, time-out or out of memory);" \
         "the input is in $dir/artifacts/, replay it with $dir/tests/fuzz/$replayer FILE"
    exit 1
fi
runs=$(awk '/stat::number_of_executed_units/ {print $2}' "$log")
echo "fuzzing $name: $runs executions in $seconds s, $((runs / seconds)) per second, no finding"
