#!/usr/bin/env bash
# The daemon under ThreadSanitizer: a native build of its own (build/tsan)
# and the end-to-end tests of its threads against it: the pipe clients'
# (several clients at once, twenty stops while a client hammers requests and
# devices come and go) and the daemon's (readings, hot-plug, crashes, hangs,
# stops while a call hangs), then the unit tests, whose fakes run the
# service's work items on real threads. A race report fails the run.
# (The hostile-files test is left out: it measures memory, and the
# sanitizer's shadow memory is most of it.)
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${NATIVE_PACKAGES[@]}"
mkdir -p build
flags="-fsanitize=thread -fno-omit-frame-pointer"
cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS=$flags" \
    "-DCMAKE_C_FLAGS=$flags" -DCMAKE_EXE_LINKER_FLAGS=-fsanitize=thread \
    -DCMAKE_SHARED_LINKER_FLAGS=-fsanitize=thread >build/tsan.configure.log 2>&1 ||
    { cat build/tsan.configure.log; exit 1; }
# The service, the stand-ins it loads from beside it, the tools the test drives it with.
cmake --build build/tsan -j "$(nproc)" --target VTService twlink twlink_scenario oledconvert \
    cpuidsdk tw-core-temp sensor_readings_default tw_nightjar twsim vtctl vt_hold_exit vt_unit_tests
cd build/tsan
export TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
ctest -R 'e2e\.(pipe_clients|daemon|behaviour)$' --output-on-failure --timeout 300
./tests/vt_unit_tests --gtest_brief=1
