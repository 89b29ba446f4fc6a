#!/usr/bin/env bash
# The benchmarks, on a RelWithDebInfo build (build/bench), ending with one
# summary table: each figure, its goal, pass or FAIL (exit status 1 when one
# failed). Not part of CI.
#
#   scripts/bench.sh [--idle SECONDS] [--soak REQUESTS] [GOOGLE-BENCHMARK-OPTIONS...]
#
# 1. Pipe round trips (vt_pipe_bench): the service's pipe stack against a bare
#    echo server on the same transport; the JSON request goes through the
#    device commands to a simulated KB709, must answer "TW_OK" and reach it.
# 2. The daemon as it runs (bench/daemon_bench.py), default scenario attached:
#    --idle (default 60 s, 0 skips): after start-up has settled, the context
#    switches and CPU time of every thread, the simulator's apart;
#    --soak (default 100000, 0 skips): that many requests, the service's
#    private memory (RssAnon) and open descriptors before and after.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${NATIVE_PACKAGES[@]}"

idle=60
soak=100000
benchmark_args=()
while [ $# -gt 0 ]; do
    case "$1" in
        --idle) idle=$2; shift ;;
        --soak) soak=$2; shift ;;
        *) benchmark_args+=("$1") ;;
    esac
    shift
done

mkdir -p build
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_BUILD_TESTS=OFF \
    >build/bench.configure.log 2>&1 || { cat build/bench.configure.log; exit 1; }
# The benchmark, and the daemon with everything it loads from beside it.
cmake --build build/bench -j "$(nproc)" --target vt_pipe_bench VTService twlink twlink_scenario \
    oledconvert cpuidsdk tw-core-temp sensor_readings_default tw_nightjar

results=$(mktemp)
trap 'rm -f "$results"' EXIT
build/bench/vt_pipe_bench --results="$results" ${benchmark_args[@]+"${benchmark_args[@]}"}
if [ "$idle" != 0 ] || [ "$soak" != 0 ]; then
    python3 bench/daemon_bench.py --build build/bench --idle "$idle" --soak "$soak" \
        --results "$results"
fi
python3 bench/daemon_bench.py --summary "$results"
