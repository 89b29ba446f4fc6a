#!/usr/bin/env bash
# How much of the product the tests really guard: each mutant below is a
# one-line fault (a bound moved by one, a comparison flipped, a call dropped,
# a constant changed). Each is applied in turn, built, tested and reverted;
# the report lists the mutants no test caught. A mutant that no longer
# matches its file is reported as stale, so the list stays honest as the
# code changes.
#
#   scripts/mutants.sh [--e2e] [--jobs N] [NAME-REGEX]
#
# Builds build/mutants (plain Debug with the standard library's bounds
# checks, no sanitizers, so a rebuild is quick). Without --e2e the
# daemon end-to-end tests are left out; every mutant here has a lower layer
# that should catch it.
set -euo pipefail
cd "$(dirname "$0")/.."
source scripts/deps.sh
ensure_packages "${NATIVE_PACKAGES[@]}"

e2e=0
jobs=$(nproc)
pattern=""
while [ $# -gt 0 ]; do
    case "$1" in
        --e2e) e2e=1 ;;
        --jobs) jobs=$2; shift ;;
        *) pattern=$1 ;;
    esac
    shift
done

dir=build/mutants
mkdir -p build
if [ ! -f "$dir/build.ninja" ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug "-DCMAKE_CXX_FLAGS_DEBUG=-O0 -g0 -D_GLIBCXX_ASSERTIONS" \
        >"$dir.configure.log" 2>&1 || { cat "$dir.configure.log"; exit 1; }
fi
cmake --build "$dir" -j "$jobs" >/dev/null
exclude='^e2e\.|^vtctl'
[ "$e2e" = 1 ] && exclude='^$'
(cd "$dir" && ctest -j "$jobs" -E "$exclude" --timeout 120 >/dev/null) ||
    { echo "the tests fail without any mutant: fix that first"; exit 1; }

# NAME @ FILE @ TEXT @ REPLACEMENT  (TEXT must occur exactly once in FILE)
mutants() {
    cat <<'EOF'
dpi-stage-bound @ src/oled/oled_job.cpp @ stage < kDpiStages ? @ stage <= kDpiStages ?
dev-list-empty @ src/oled/oled_job.cpp @ if (count <= 0) { @ if (count < 0) {
job-open-attempts @ src/oled/oled_job.cpp @ if (++openFailures_ < kOpenAttempts) { @ if (++openFailures_ <= kOpenAttempts) {
job-cycle-end @ src/oled/oled_job.cpp @ if (i >= profile.CycleCount() || !CycleGoesOn()) { @ if (i > profile.CycleCount() || !CycleGoesOn()) {
job-wait-period @ src/common/pass_wait.cpp @ for (uint64_t slept = 0; slept < milliseconds;) { @ for (uint64_t slept = 0; slept <= milliseconds;) {
job-text-chars @ src/oled/oled_job.cpp @ "%.*s", kTextChars, text @ "%.*s", kTextChars - 1, text
job-rate-zero @ src/oled/oled_job.cpp @ interval ? 1000 / interval : 0 @ interval ? 1000 / interval : 1
job-int-max-unsigned @ src/oled/job_file.cpp @ v > static_cast<uint64_t>(kMax) ? kMax : v @ v >= static_cast<uint64_t>(kMax) ? kMax - 1 : v
job-int-min @ src/oled/job_file.cpp @ v < kMin ? kMin : (v > kMax ? kMax : v) @ v <= kMin ? kMin + 1 : (v > kMax ? kMax : v)
job-int-max @ src/oled/job_file.cpp @ v < kMin ? kMin : (v > kMax ? kMax : v) @ v < kMin ? kMin : (v >= kMax ? kMax - 1 : v)
job-cycle-index @ src/oled/job_file.cpp @ index >= order->size() @ index > order->size()
job-pixel-column @ src/oled/job_file.cpp @ static_cast<size_t>(x) >= data->size() @ static_cast<size_t>(x) > data->size()
job-pixel-row @ src/oled/job_file.cpp @ static_cast<size_t>(y) >= column.size() @ static_cast<size_t>(y) > column.size()
picture-index @ src/oled/builtin_pictures.cpp @ index >= kBuiltInPictureCount @ index > kBuiltInPictureCount
fake-step-wrap @ src/telemetry/temperature_replies.cpp @ fakeStep = fakeStep <= 4 ? fakeStep + 1 : 0; @ fakeStep = fakeStep <= 5 ? fakeStep + 1 : 0;
temp-count-capacity @ src/telemetry/temperature_replies.cpp @ i < count && i < capacity && values[i] != 0 @ i < count && i <= capacity && values[i] != 0
temp-range-high @ src/telemetry/temperature_replies.cpp @ temperature >= 0 && temperature <= 100 @ temperature >= 0 && temperature < 100
temp-range-low @ src/telemetry/temperature_replies.cpp @ temperature >= 0 && temperature <= 100 @ temperature >= -1 && temperature <= 100
json-float-range @ src/pipe/json_read.cpp @ if (!(d >= low && d <= high)) { @ if (!(d >= low && d < high)) {
cycle-modes-count @ src/pipe/device_commands.cpp @ modes->size() < 5 @ modes->size() < 4
pipe-read-size @ src/pipe/pipe_server.h @ kReadSize = 127; @ kReadSize = 126;
fit-buffer @ src/common/text.cpp @ if (text.size() > bufferChars - 1) { @ if (text.size() > bufferChars) {
cooler-mode-count @ src/devices/cooler.cpp @ while (count < 5 && request.modes[count] != kNoMode) { @ while (count < 4 && request.modes[count] != kNoMode) {
cooler-single-mode @ src/devices/cooler.cpp @ if (cycle_.modeCount == 1 && cycle_.cycleIndex > 0) { @ if (cycle_.modeCount == 1 && cycle_.cycleIndex > 1) {
devinfo-capacity @ src/devices/device_layer.cpp @ count < kDevInfoCapacity ? count : kDevInfoCapacity @ count < kDevInfoCapacity ? count : kDevInfoCapacity - 1
devinfo-path-field @ src/devices/device_layer.cpp @ while (n < size && field[n] != '\0') { @ while (n + 1 < size && field[n] != '\0') {
panel-reply-terminator @ src/pipe/device_commands.cpp @ buffer[sizeof buffer - 1] = '\0'; @ buffer[sizeof buffer - 1] = 'x';
companion-count-floor @ src/devices/device_layer.cpp @ while (current > 0 && @ while (current >= 0 &&
checksum-odd-byte @ src/devices/latency_probe.cpp @ if (i < size) { @ if (i + 1 < size) {
echo-short-datagram @ src/devices/latency_probe.cpp @ h + kEchoHeaderSize <= static_cast<size_t>(n) @ h + kEchoHeaderSize < static_cast<size_t>(n)
echo-give-up @ src/devices/latency_probe.cpp @ sendTime >= kEchoGiveUpMs @ sendTime > kEchoGiveUpMs
ping-target-selector @ src/devices/latency_probe.cpp @ if (selector > kLastTargetSelector) { @ if (selector >= kLastTargetSelector) {
latency-cap @ src/devices/latency_probe.cpp @ result.roundTripMs < kLatencyCapMs @ result.roundTripMs <= kLatencyCapMs
companion-misses @ src/service/companion_watcher.cpp @ if (missCounter_ < kMissesBeforeStart) { @ if (missCounter_ <= kMissesBeforeStart) {
sensor-board-fans @ src/telemetry/sensor_monitor.cpp @ for (int i = 1; i < kBoardFanCount; ++i) { @ for (int i = 1; i < kBoardFanCount - 1; ++i) {
sensor-value-clamp @ src/telemetry/sensor_monitor.cpp @ if (!(std::fabs(value) < static_cast<float>(std::numeric_limits<int32_t>::max()))) { @ if (!(std::fabs(value) < static_cast<float>(std::numeric_limits<int16_t>::max()))) {
getc-handler @ src/pipe/pipe_commands.cpp @ {"getc", &PipeCommands::GetCount}, @ {"getc", &PipeCommands::GetSysInfo},
enable-flag @ src/pipe/pipe_commands.cpp @ state_.enabled = 1; @ state_.enabled = 0;
enable-clears-disabled @ src/pipe/pipe_commands.cpp @ state_.disabled = 0; @ state_.disabled = 1;
music-pulse-mode @ src/pipe/pipe_commands.cpp @ kMusicPulseMode = 216; @ kMusicPulseMode = 215;
cooler-cycle-call @ src/devices/cooler.cpp @ device->SetCycleMode(mode); @ (void)mode;
companion-misses-constant @ src/service/companion_watcher.h @ kMissesBeforeStart = 5; @ kMissesBeforeStart = 4;
panel-period @ src/devices/panel.h @ kPanelPeriodMs = 2000; @ kPanelPeriodMs = 1000;
status-effect-args @ src/pipe/device_commands.cpp @ StatusEffectRequest effect{*type, 0}; @ StatusEffectRequest effect{0, *type};
checksum-fold @ src/devices/latency_probe.cpp @ while (sum >> 16 != 0) { @ if (sum >> 16 != 0) {
recovery-restarts @ src/service/installer.cpp @ actions.restartCount = kRecoveryRestarts; @ actions.restartCount = kRecoveryRestarts - 1;
job-wait-step @ src/oled/oled_job.h @ kWaitStepMs = 100; @ kWaitStepMs = 50;
error-text @ src/common/text.cpp @ out += L" failed w/err 0x"; @ out += L" failed w/err ";
saver-started @ src/service/tw_service.h @ void ScreenSaverStarted() override { cooler_.SwitchForScreenSaver(0); } @ void ScreenSaverStarted() override { cooler_.SwitchForScreenSaver(1); }
data-walk-owner @ src/platform/posix/folder_walk_posix.cpp @ name == "." || name == ".." || !SystemOwned(info) || @ name == "." || name == ".." ||
data-walk-follows-links @ src/platform/posix/folder_walk_posix.cpp @ O_PATH | O_NOFOLLOW | O_CLOEXEC @ O_PATH | O_CLOEXEC
data-walk-sticky-next @ src/platform/posix/folder_walk_posix.cpp @ if (fd >= 0 && othersWrite && !SystemOwned(info)) { @ if (fd >= 0 && false) {
aside-guessable @ src/platform/posix/service_folder_posix.cpp @ ".aside-%016llx", static_cast<unsigned long long>(random) @ ".aside-%d", attempt + 1
pipe-users-add-instances @ src/pipe/pipe_server.cpp @ 0x12019b;;;AU @ GRGW;;;AU
crash-reset-handler @ src/platform/posix/crash_posix.cpp @ action.sa_flags = SA_SIGINFO | SA_ONSTACK; @ action.sa_flags = SA_SIGINFO | SA_RESETHAND | SA_ONSTACK;
crash-reraise-blocked @ src/platform/posix/crash_posix.cpp @ pthread_sigmask(SIG_UNBLOCK, &own, nullptr); @ sigemptyset(&own);
readings-fresh-age @ src/telemetry/readings_feed.cpp @ clock_.TickCount64() - takenAt_ <= kFreshMs @ clock_.TickCount64() - takenAt_ < kFreshMs
readings-wait-bound @ src/telemetry/readings_feed.cpp @ taken_->Wait(static_cast<uint32_t>(deadline - now)) @ taken_->Wait(platform::kInfinite)
stop-work-items-bound @ src/service/tw_service.cpp @ waited < kWorkItemsWaitMs; @ waited < 2 * kWorkItemsWaitMs;
hang-bound @ src/service/hang_watch.cpp @ clock_.TickCount64() - since <= kHangBoundMs @ clock_.TickCount64() - since < kHangBoundMs
hang-nested-call @ src/common/outside_calls.cpp @ if (t_depth++ != 0 || clock == nullptr) { @ if (t_depth++ < 0 || clock == nullptr) {
hang-unwatched-device-call @ src/devices/panel.cpp @ OutsideCall call("CS900 SendPanelData"); @ ;
EOF
}

report=()
killed=0 survived=0 stale=0 broken=0
while IFS='@' read -r name file text replacement; do
    name=$(echo "$name" | xargs)
    file=$(echo "$file" | xargs)
    text=$(echo "$text" | sed 's/^ *//; s/ *$//')
    replacement=$(echo "$replacement" | sed 's/^ *//; s/ *$//')
    [ -n "$pattern" ] && ! [[ "$name" =~ $pattern ]] && continue
    original=$(mktemp)
    cp "$file" "$original"
    if ! python3 - "$file" "$text" "$replacement" <<'PY'; then
import sys
path, text, replacement = sys.argv[1:]
source = open(path).read()
if source.count(text) != 1:
    sys.exit(1)
open(path, "w").write(source.replace(text, replacement))
PY
        stale=$((stale + 1)); report+=("STALE     $name ($file)")
        rm -f "$original"; continue
    fi
    if ! cmake --build "$dir" -j "$jobs" >/dev/null 2>&1; then
        broken=$((broken + 1)); report+=("NO BUILD  $name")
    elif (cd "$dir" && ctest -j "$jobs" -E "$exclude" --timeout 120 --stop-on-failure \
            >/dev/null 2>&1); then
        survived=$((survived + 1)); report+=("SURVIVED  $name ($file: $text -> $replacement)")
    else
        killed=$((killed + 1)); report+=("killed    $name")
    fi
    # Restore the file byte for byte, keeping its time stamp ahead of the
    # mutant's objects so the next build recompiles it.
    cp "$original" "$file"
    touch "$file"
    rm -f "$original"
done < <(mutants)
cmake --build "$dir" -j "$jobs" >/dev/null

printf '%s\n' "${report[@]}"
echo "mutants: $killed killed, $survived survived, $stale stale, $broken did not build"
[ "$survived" -eq 0 ] && [ "$stale" -eq 0 ]
