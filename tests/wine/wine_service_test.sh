#!/usr/bin/env bash
# VTService.exe under Wine, through the real Wine service manager: install,
# run, event entries and what the event viewer makes of them, stop,
# reinstall, remove, option handling, the unquoted-path hole that the quoted
# registration must close, version resources, and the installer package.
#
#   tests/wine/wine_service_test.sh BUILD_DIR_32 BUILD_DIR_64
#
# The product is the 32-bit build, and it is what runs wherever the kernel
# runs 32-bit code. Where it does not (no IA-32 emulation, so the 32-bit Wine
# loader cannot start) the same sources built for 64-bit Windows are tested
# under 64-bit Wine instead. VT_WINE_BITS=32 or 64 says which (scripts/test.sh
# decides from its probe of the kernel); unset, the harness asks 32-bit Wine.
set -u
build32=${1:?32-bit build folder}
build64=${2:?64-bit build folder}

source "$(dirname "$0")/../checks.sh"

bits=${VT_WINE_BITS:-}
if [ -z "$bits" ]; then
    /usr/lib/wine/wine --version >/dev/null 2>&1 && bits=32 || bits=64
fi
case $bits in
    32) WINE=/usr/lib/wine/wine; build=$build32
        echo "# testing the 32-bit product under 32-bit Wine" ;;
    64) WINE=/usr/lib/wine/wine64; build=$build64
        echo "# this kernel runs no 32-bit code: testing the 64-bit build under wine64" ;;
    *) echo "VT_WINE_BITS must be 32 or 64, not $bits"; exit 1 ;;
esac
exe=$build/VTService.exe
canary=$build/tests/vt_canary.exe
resinfo=$build/tests/vt_resinfo.exe
# The installer cpack made in the same build folder.
package=$(ls "$build"/VTService-*-win*.exe 2>/dev/null | head -1)
[ -n "$package" ] || { echo "no installer in $build: run cpack -G NSIS there first"; exit 1; }
for f in "$exe" "$canary" "$resinfo" "$build/tests/vt_unit_tests.exe" \
         "$build/tests/fuzz/vt_fuzz_replay.exe" \
         "$build/tests/vt_platform_win_tests.exe" "$build/tests/fuzz/vt_oled_fuzz_replay.exe" \
         "$build/tests/vt_pipe_clients.exe" \
         "$build/TWLINK.dll" "$build/OledDataConvert.dll" "$build/tw-nightjar.exe" \
         "$build/cpuidsdk.dll" "$build/tw-core-temp.dll" \
         "$build/twsim.exe" "$build/twlink_scenario.json" "$build/vtctl.exe"; do
    [ -f "$f" ] || { echo "missing $f: build the Windows targets first"; exit 1; }
done

# The product itself, whichever build runs below: a 32-bit PE that needs no
# MinGW DLL beside it and restricts its DLL search before anything loads.
product=$build32/VTService.exe
if [ -f "$product" ]; then
    headers=$(i686-w64-mingw32-objdump -p "$product")
    holds "product is a 32-bit PE" grep -q "file format pei-i386" <<<"$headers"
    grep -qiE "DLL Name: (libstdc|libgcc|libwinpthread)" <<<"$headers" &&
        bad "product links the runtime statically" || ok "product links the runtime statically"
    holds "product sets its DLL directories" grep -q "SetDefaultDllDirectories" <<<"$headers"
    holds "product is large-address-aware" grep -q "large address aware" <<<"$headers"
else
    bad "product $product was built"
fi
# The product's installer: a 32-bit program that ships the same files as
# the installer tested below.
installer32=$(ls "$build32"/VTService-*-win32.exe 2>/dev/null | head -1)
if [ -n "$installer32" ]; then
    i686-w64-mingw32-objdump -f "$installer32" | grep -q "file format pei-i386" &&
        ok "the product's installer is a 32-bit program" ||
        bad "the product's installer is a 32-bit program"
    shipped() { grep -o '^  Delete "$INSTDIR\\[^"]*"' "$1"/_CPack_Packages/win*/NSIS/project.nsi | sort; }
    check "both installers ship the same files" "$(shipped "$build32")" "$(shipped "$build")"
else
    bad "the product's installer was built (cpack -G NSIS in $build32)"
fi

work=$(mktemp -d /tmp/vtwine.XXXXXX)
export WINEPREFIX=$work/prefix
# No Mono or Gecko; and no menu entries on this machine for the installer's
# Start menu shortcut.
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
export WINEDEBUG=+eventlog
trace=$work/trace.log
cleanup() {
    /usr/lib/wine/wineserver -k >/dev/null 2>&1
    rm -rf "$work"
}
trap cleanup EXIT

w() { "$WINE" "$@" 2>>"$work/wine-stderr.log"; }
elapsed_since() { awk -v a="$1" -v b="$(date +%s.%N)" 'BEGIN { printf "%.1f", b - a }'; }
state() { w sc query VTService | tr -d '\r' | awk '/STATE/ {print $3}'; }
wait_state() {  # wait_state WANTED SECONDS -> prints the seconds taken, or "timeout"
    local start=$(date +%s.%N)
    local deadline=$(( $(date +%s) + $2 ))
    while [ "$(date +%s)" -le "$deadline" ]; do
        if [ "$(state)" == "$1" ]; then
            elapsed_since "$start"; return 0
        fi
        sleep 0.2
    done
    echo timeout; return 1
}
service_process_alive() {  # a VTService.exe of this prefix (not of another run's)
    local pid
    for pid in $(pgrep -f 'VTService.exe'); do
        tr '\0' '\n' 2>/dev/null <"/proc/$pid/environ" | grep -qx "WINEPREFIX=$WINEPREFIX" &&
            return 0
    done
    return 1
}
trace_has() { grep -a -q "ReportEventW L\"$1\"" "$trace"; }
winpath() { echo "Z:$(readlink -f "$1" | tr / '\\')"; }
reg_value() {  # reg_value KEY NAME -> "TYPE DATA", nothing when there is no such value
    w reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' |
        sed -n "s/^ *$2    \(REG_[A-Z_]*\)    \(.*\)$/\1 \2/p"
}
evkey='HKLM\System\CurrentControlSet\Services\EventLog\Application\VTService'
# What the event viewer shows for an entry with these two strings: the text
# that the message file registered for the source makes of them.
event_text() { w "$resinfo" event VTService 0 "$@"; }
trace_count() { grep -a -c "ReportEventW L\"$1\"" "$trace"; }
wait_trace_count() {  # wait_trace_count MESSAGE N: until MESSAGE was written N times
    local i
    for i in $(seq 50); do [ "$(trace_count "$1")" -ge "$2" ] && return 0; sleep 0.2; done
    return 1
}
run() { w "$@" | tr -d '\r'; }

# A fresh prefix, kept up for the whole run (Wine otherwise shuts its
# service manager down a few seconds after the last program ends). The
# service manager and the services it starts write their traces to the
# stderr of the process that booted the prefix.
echo "# wine prefix in $WINEPREFIX ($bits-bit)"
"$WINE" wineboot -i >/dev/null 2>&1
/usr/lib/wine/wineserver -k
/usr/lib/wine/wineserver -p
"$WINE" wineboot >/dev/null 2>"$trace"

drive=$WINEPREFIX/drive_c
dir="$drive/Program Files/Tarnwick Veltrace"
mkdir -p "$dir"
cp "$exe" "$dir/VTService.exe"
# The device simulator and its default scenario sit beside the service, as
# the real device library would.
cp "$build/TWLINK.dll" "$build/OledDataConvert.dll" "$build/tw-nightjar.exe" "$dir/"
# The simulator saves every frame the RX410 receives as a picture there.
mkdir -p "$drive/frames"
python3 -c 'import json, sys
s = json.load(open(sys.argv[1])); s["frameDir"] = "C:/frames"; json.dump(s, open(sys.argv[2], "w"))' \
    "$build/twlink_scenario.json" "$dir/twlink_scenario.json"
# A job file for the OLED job, where the desktop application keeps it.
data="$drive/ProgramData/Tarnwick/Veltrace"
mkdir -p "$data"
cp tests/data/oled/default_mouse/tw_service.cfg "$data/"
# Planted before the service ever ran, as a user could: a link where the
# scratch bitmap used to be (Wine follows a Unix link as the file it points
# to), and a service_dmp folder that everyone may use, with a file in it.
# (A Unix link at service_dmp would show nothing here: Wine sees the folder
# it points to, and renaming the link moves that folder.)
vault="$drive/vault"
mkdir -p "$vault"
echo "not the service's" >"$vault/precious"
ln -s "$vault/precious" "$data/oled.bmp"
mkdir -m 0777 "$data/service_dmp"
touch "$data/service_dmp/planted"
# The sensor stand-ins and the readings they serve, beside the service. A
# second temperature library with other readings is planted in the
# service's current directory (C:\windows): it must never be the one loaded
# (the behaviour suite's readings would then be 77).
cp "$build/cpuidsdk.dll" "$build/tw-core-temp.dll" "$dir/"
python3 -c 'import json, sys; sys.path.insert(0, "tests/e2e"); import targets
json.dump(targets.READINGS, open(sys.argv[1], "w"))' "$dir/sensors.json"
cp "$build/tw-core-temp.dll" "$drive/windows/tw-core-temp.dll"
echo '{"cpuTemps": [77], "gpuTemps": [77]}' >"$drive/windows/sensors.json"
cp "$canary" "$drive/Program.exe"
win_exe='C:\Program Files\Tarnwick Veltrace\VTService.exe'

# Install from a folder whose name has a space.
out=$(run "$win_exe" -install)
check "-install prints the install and run lines" "$out" $'VTService is installed.\nVTService is running.'
took=$(wait_state 4 10)
holds "service reaches RUNNING" [ "$took" != timeout ]
holds "service process runs in this prefix" service_process_alive

svc='HKLM\System\CurrentControlSet\Services\VTService'
check "ImagePath is quoted" "$(reg_value "$svc" ImagePath | cut -d' ' -f2-)" "\"$win_exe\""
check "description is set after the start" "$(reg_value "$svc" Description)" "REG_SZ Tarnwick Service"
check "display name" "$(reg_value "$svc" DisplayName)" "REG_SZ Tarnwick Veltrace Technology Service"
check "automatic start" "$(reg_value "$svc" Start)" "REG_DWORD 0x2"
# The event source: the program itself holds the message table.
check "event source: EventMessageFile is the program, unquoted" \
    "$(reg_value "$evkey" EventMessageFile)" "REG_EXPAND_SZ $win_exe"
check "event source: TypesSupported" "$(reg_value "$evkey" TypesSupported)" "REG_DWORD 0x7"

for i in $(seq 50); do trace_has "TWservice ServiceWorkerThread" && break; sleep 0.2; done
entries=$(grep -a -c 'ReportEventW L"' "$trace")
sources=$(grep -a -c 'ReportEventW L"VTService"' "$trace")
check "every entry is the source name and one message" "$((sources * 2))" "$entries"
# Wine prints each entry's header: handle, type, category, event id, user,
# string count, data size. The entries are as they always were.
headers=$(grep -a -o 'ReportEventW ([^)]*)' "$trace" | cut -d, -f2-7 | sort -u)
if [ -n "$headers" ] &&
   ! grep -qvE '^0x000[124],0x0000,0x00000000,0+,0x0002,0x00000000$' <<<"$headers"; then
    ok "every entry: category 0, event id 0, no user, two strings, no data"
else
    bad "every entry: category 0, event id 0, no user, two strings, no data"; echo "$headers"
fi
# What an administrator reads for the first entry: its two strings, as
# they are, one per line, and nothing else.
first=$(grep -a -m 2 -o 'ReportEventW L"[^"]*"' "$trace" | sed 's/ReportEventW L"\(.*\)"/\1/')
check "event viewer text of the first entry" \
    "$(event_text "$(sed -n 1p <<<"$first")" "$(sed -n 2p <<<"$first")" | tr -d '\r')" "$first"

# What the service does for its users, as the same suite checks it on
# Linux (tests/e2e/behaviour_test.py): here through vtctl.exe, twsim.exe and
# this service manager.
suite() {  # suite CLASS: the suite's tests of CLASS against the service installed here
    local log=$work/suite-$1.log
    VT_WINE=$WINE VT_WINE_TRACE=$trace VT_WINE_BUILD=$build \
        python3 tests/e2e/behaviour_test.py wine "$1" >"$log" 2>&1 &&
        ok "behaviour suite, $1: $(grep -a -o '^Ran .*' "$log")" ||
        { bad "behaviour suite, $1"; cat "$log"; }
    grep -a -E '^[a-zA-Z]+: the process ended|^the hang was seen' "$log" | sed 's/^/# /'
}
suite Serving
# The planted folder is set aside whole, a new one made; the planted link
# is left alone and nothing is written through it.
[ "$(ls -d "$data"/service_dmp.aside-* | wc -l)" = 1 ] &&
    [ -f "$(ls -d "$data"/service_dmp.aside-*)/planted" ] && [ ! -e "$data/service_dmp/planted" ] &&
    ok "a planted service_dmp is set aside" || bad "a planted service_dmp is set aside"
check "nothing written through the planted link" \
    "$(ls "$vault") $(cat "$vault/precious") $(readlink "$data/oled.bmp")" \
    "precious not the service's $vault/precious"
# The service holds its folder: another process cannot rename it away.
w cmd /c move 'C:\ProgramData\Tarnwick\Veltrace\service_dmp' 'C:\ProgramData\Tarnwick\Veltrace\moved' \
    >/dev/null 2>&1
[ -d "$data/service_dmp" ] && [ ! -e "$data/moved" ] && ok "the held service_dmp cannot be renamed" ||
    bad "the held service_dmp cannot be renamed"

# Wine has no system event notification service: the subscription is
# skipped (the event system's class is not registered) and all of the above
# ran without it.
holds "no screen-saver event system under Wine, and the service runs on" \
    grep -a -qi 'class {4e14fba2-2e22-11d1-9964-00c04fbbb345} not registered' "$trace"

# Stop through the service manager.
t0=$(date +%s.%N)
w sc stop VTService >/dev/null
took=$(wait_state 1 10)
total=$(elapsed_since "$t0")
if [ "$took" != timeout ] && awk "BEGIN { exit !($total < 4.0) }"; then
    ok "stop reaches STOPPED in ${total}s"
else
    bad "stop reaches STOPPED in time (took $total s)"
fi
holds "entry: TWservice in OnStop" trace_has "TWservice in OnStop"
sleep 0.5
service_process_alive && bad "service process ended" || ok "service process ended"

# Without its temperature library beside it the service runs on with zero
# temperatures: the copy planted in its current directory is not loaded.
rm "$dir/tw-core-temp.dll"
# Install over the existing registration starts it again.
out=$(run "$win_exe" -install)
check "second -install" "$out" $'CreateService failed w/err 0x00000431\nVTService is running.'
took=$(wait_state 4 10)
holds "running again" [ "$took" != timeout ]
wait_trace_count "VTService is Readly,Will While(1)" 2 || bad "the pipe is ready again"
check "the library beside the service was found once" "$(trace_count "Core temp lib load good")" 1
check "without it the load fails" "$(trace_count "Get the core temp .dll failed")" 1
out=$(w "$build/vtctl.exe" temp getc getsysinfo | tr -d '\r')
check "a planted tw-core-temp.dll in C:\\windows is not loaded" "$out" \
    $'0;0\n0;0\n0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;'
cp "$build/tw-core-temp.dll" "$dir/"

out=$(run "$win_exe" -run)
check "-run on a running service prints nothing" "$out" ""
out=$(run "$win_exe" install)
check "no dash runs as a service, which fails from a console" "$out" \
    $'Parameters:\n -install  to install the service.\n -remove   to remove the service.\nService failed to run w/err 0x00000427'

# Remove: stops, then deletes.
out=$(run "$win_exe" /REMOVE)
case "$out" in
    $'Stopping VTService.'*$'\nVTService is stopped.\nVTService is removed.') ok "-remove stops and removes" ;;
    *) bad "-remove stops and removes"; printf '       actual: %q\n' "$out" ;;
esac
check "service is gone" "$(state)" ""
w reg query "$evkey" >/dev/null 2>&1 && bad "-remove deletes the event source" ||
    ok "-remove deletes the event source"
out=$(run "$win_exe" -remove)
check "-remove without a registration" "$out" "OpenService failed w/err 0x00000424"

[ -f "$drive/canary_ran.txt" ] && bad "planted C:\\Program.exe never ran" ||
    ok "planted C:\\Program.exe never ran"

# Control: the same path registered without quotes does start the canary,
# so the check above can see the hole when it is there.
w sc create VTUnquoted binPath= "$win_exe" >/dev/null
w sc start VTUnquoted >/dev/null
for i in $(seq 25); do [ -f "$drive/canary_ran.txt" ] && break; sleep 0.2; done
holds "control: an unquoted path starts the canary" [ -f "$drive/canary_ran.txt" ]
w sc delete VTUnquoted >/dev/null

# A device library that crashes or never returns (the suite's Ending
# tests, each leaving a minidump). The default scenario's companion device
# changes nothing here: Wine has no active user session to start
# tw-nightjar.exe in.
run "$win_exe" -install >/dev/null
holds "installed again for the crash and the hang" [ "$(wait_state 4 10)" != timeout ]
suite Ending
# Wine's service manager does not see a service process end on its own (it
# keeps showing the state last reported) and does not carry out recovery
# actions ("SERVICE_CONFIG_FAILURE_ACTIONS not implemented"): the restart
# after 5 s can be seen on Windows only.
echo "# after the hang, Wine's service manager shows: state, exit code $(w sc query VTService |
    tr -d '\r' | awk '/STATE/ {print $3} /WIN32_EXIT_CODE/ {print $3}' | tr '\n' ' ')"
grep -a -q "SERVICE_CONFIG_FAILURE_ACTIONS not implemented" "$trace" &&
    echo "# ... and says: SERVICE_CONFIG_FAILURE_ACTIONS not implemented"
holds "no companion without a user session" [ -z "$(pgrep -f 'tw-nightjar.exe')" ]
# The suite's last test leaves the process ending on its own. Should one
# fail, the process is ended here, before its registration goes: the checks
# below then see their own service, not this one going away under them.
for i in $(seq 75); do service_process_alive || break; sleep 0.2; done
if service_process_alive; then
    echo "# the service process outlived the suite: stopped"
    w sc stop VTService >/dev/null
    wait_state 1 10 >/dev/null
fi
w sc delete VTService >/dev/null

# Every program and library of the build carries the product's version
# resource.
files=()
for f in "$build"/*.exe "$build"/*.dll "$build"/tests/*.exe "$build"/tests/fuzz/*.exe; do
    [ "$f" != "$package" ] && files+=("$(winpath "$f")")
done
w "$resinfo" version "${files[@]}" >"$work/versions.txt"
version=$(sed -n 's/^ProductVersion=//p' "$work/versions.txt" | head -1)
unversioned=$(awk -v v="$version" '
    /^== / { if (f != "" && n != 6) print f; f = $2; n = 0; next }
    $0 == "CompanyName=Tarnwick" || $0 == "ProductName=Tarnwick Veltrace Technology Service" ||
    $0 == "FileVersion=" v || $0 == "ProductVersion=" v ||
    $0 == "FixedFileVersion=" v || $0 == "FixedProductVersion=" v { n++ }
    END { if (f != "" && n != 6) print f }' "$work/versions.txt")
if [ -n "$version" ] && [ -z "$unversioned" ]; then
    ok "${#files[@]} programs and libraries carry version $version"
else
    bad "every program and library carries the version resource"; echo "$unversioned"
fi
holds "VTService.exe describes itself as the service" \
    grep -q '^FileDescription=Tarnwick Veltrace Technology Service$' \
    <<<"$(grep -A8 -F "$(winpath "$exe")" "$work/versions.txt")"

# The installer, as an administrator runs it: silent install into
# C:\Program Files\Tarnwick Veltrace, which registers and starts the service.
# The crashed service must be gone first, or its registration lingers.
for i in $(seq 100); do service_process_alive || break; sleep 0.2; done
rm -rf "$dir"
w reg delete "$evkey" /f >/dev/null 2>&1
t0=$(date +%s.%N)
w "$(winpath "$package")" /S
took=$(wait_state 4 20)
[ "$took" != timeout ] && ok "the silent installer starts the service ($(elapsed_since "$t0")s)" ||
    bad "the silent installer starts the service"
check "installed files" "$(ls "$dir" | tr '\n' ' ')" \
    "OledDataConvert.dll TWLINK.dll Uninstall.exe VTService.exe cpuidsdk.dll oledrender.exe sensors.json tw-core-temp.dll tw-nightjar.exe twlink_scenario.json twsim.exe vtctl.exe "
for i in $(seq 50); do w "$dir/vtctl.exe" hello >/dev/null && break; sleep 0.2; done
# The installation checks itself (the registration, the path quoted, the
# process, the pipe and its version against the resource, the data folder,
# the event source, the components, the uninstall entry): every check Wine
# can answer passes, and the others say why not.
doctor() { w "$dir/vtctl.exe" doctor >"$work/doctor.txt"; echo "exit $?"; }
check "vtctl doctor after the install: all pass but what Wine cannot show" \
    "$(doctor; grep -av '^ok ' "$work/doctor.txt" | tr -d '\r' | sed 's/ (Wine.*)$//; s/^\([0-9]*\) passed/N passed/')" \
    "exit 0
cannot check here  its recovery is three restarts, 5 s apart, counted per day
cannot check here  the pipe's access list: users read and write (no new instance), administrators all
cannot check here  the path to C:\\ProgramData\\Tarnwick\\Veltrace: real folders owned by the system
cannot check here  service_dmp: a folder of the system's, only SYSTEM and administrators
cannot check here  the newest entry reads as its text in the Application log
N passed, 0 failed, 5 not checked"
# Planted faults: an unquoted path, then the service stopped.
w "$resinfo" binpath VTService "$win_exe"
check "vtctl doctor: an unquoted path fails its line" "$(doctor; grep -a '^FAIL' "$work/doctor.txt" | tr -d '\r')" \
    "exit 1
FAIL  its path is the installed program's, quoted: found $win_exe, expected \"$win_exe\""
w "$resinfo" binpath VTService "\"$win_exe\""
w sc stop VTService >/dev/null
wait_state 1 10 >/dev/null
check "vtctl doctor: a stopped service fails its line" \
    "$(doctor; grep -a '^FAIL' "$work/doctor.txt" | tr -d '\r' | cut -d: -f1)" \
    "exit 1
FAIL  the service is running
FAIL  the pipe answers"
check "event viewer text, from the installed program" \
    "$(event_text VTService "TWservice PipeWorkerThread hello")" \
    $'VTService\r\nTWservice PipeWorkerThread hello'

# Its uninstaller runs a copy of itself from the temporary folder and ends
# at once; the copy stops and removes the service, then the folder.
t0=$(date +%s.%N)
w "$dir/Uninstall.exe" /S
for i in $(seq 100); do [ -d "$dir" ] || break; sleep 0.2; done
[ -d "$dir" ] && { bad "the silent uninstaller removes the folder"; ls -la "$dir"; } ||
    ok "the silent uninstaller removes the folder ($(elapsed_since "$t0")s)"
check "the uninstaller removed the service" "$(state)" ""
service_process_alive && bad "no service process after the uninstall" ||
    ok "no service process after the uninstall"
w reg query "$evkey" >/dev/null 2>&1 && bad "the uninstaller removed the event source" ||
    ok "the uninstaller removed the event source"
left=$(for key in 'HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\VTService' \
                  'HKLM\Software\Wow6432Node\Microsoft\Windows\CurrentVersion\Uninstall\VTService'; do
           w reg query "$key" >/dev/null 2>&1 && echo "$key"
       done
       ls "$drive/ProgramData/Microsoft/Windows/Start Menu/Programs" | grep -i tarnwick)
check "no uninstall entry or Start menu folder is left" "$left" ""

# The unit tests and the fuzz corpora, built for Windows, on Wine's C
# runtime and threads (its drive Z: is the Linux root).
corpus="Z:$(pwd | tr / '\\')\\tests\\fuzz\\corpus"
on_windows() {  # on_windows WHAT PROGRAM ARGS...: a program of the test build passes
    if w "$build/tests/$2" "${@:3}" >"$work/run.log" 2>&1; then
        ok "$1 on the Windows build $(grep -a -o '[0-9]* tests' "$work/run.log" | tail -1)"
    else
        bad "$1 on the Windows build"; tail -30 "$work/run.log"
    fi
}
on_windows "the unit tests pass" vt_unit_tests.exe --gtest_brief=1
on_windows "the platform tests pass" vt_platform_win_tests.exe --gtest_brief=1
on_windows "the pipe fuzz corpus replays" fuzz/vt_fuzz_replay.exe "$corpus\\pipe"
on_windows "the OLED job file corpus replays" fuzz/vt_oled_fuzz_replay.exe "$corpus\\oled"

finish
