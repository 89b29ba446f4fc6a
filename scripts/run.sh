#!/usr/bin/env bash
# Builds the native service and runs it in the foreground. Event entries go
# to standard error (set VTSERVICE_EVENTLOG_FILE to send them elsewhere);
# Ctrl-C or SIGTERM stops it as the service manager's stop would.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${NATIVE_PACKAGES[@]}"
cmake -S . -B build/native -G Ninja -DCMAKE_BUILD_TYPE=Debug >/dev/null
# The service, the stand-ins it loads from beside it, and the tools to drive it.
cmake --build build/native --target VTService twlink twlink_scenario oledconvert cpuidsdk \
    tw-core-temp sensor_readings_default tw_nightjar twsim vtctl oledrender
export VTSERVICE_EVENTLOG_FILE=${VTSERVICE_EVENTLOG_FILE:-/dev/stderr}
# The pipe's socket: /run/vtservice where we may write there, else beside the build.
if [ -z "${VTSERVICE_RUN_DIR:-}" ] && ! { mkdir -p /run/vtservice && [ -w /run/vtservice ]; } 2>/dev/null; then
    export VTSERVICE_RUN_DIR=$PWD/build/native/run
    echo "pipe socket in $VTSERVICE_RUN_DIR (set VTSERVICE_RUN_DIR for vtctl too)" >&2
fi
# The data folder (job file, crash reports): /var/lib/vtservice where we may
# write there, else beside the build, so a user's demo still has one.
if [ -z "${VTSERVICE_DATA_DIR:-}" ] && ! { mkdir -p /var/lib/vtservice && [ -w /var/lib/vtservice ]; } 2>/dev/null; then
    export VTSERVICE_DATA_DIR=$PWD/build/native/data
    mkdir -p "$VTSERVICE_DATA_DIR"
    echo "data folder $VTSERVICE_DATA_DIR" >&2
fi
# The demo's case panel measures its latency to this machine, never to the
# product's public address.
export VTSERVICE_PROBE_TARGET=${VTSERVICE_PROBE_TARGET:-127.0.0.1}
exec build/native/VTService "$@"
