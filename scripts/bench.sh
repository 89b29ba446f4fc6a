#!/usr/bin/env bash
# The pipe benchmark: request round trips of the real pipe server against a
# bare echo server on the same transport. Figures only; nothing is judged.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${NATIVE_PACKAGES[@]}"
mkdir -p build
cmake -S . -B build/bench -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DVT_BUILD_TESTS=OFF \
    >build/bench.configure.log 2>&1 || { cat build/bench.configure.log; exit 1; }
cmake --build build/bench -j "$(nproc)" --target vt_pipe_bench
build/bench/vt_pipe_bench "$@"
