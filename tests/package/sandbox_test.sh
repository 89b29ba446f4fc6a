#!/usr/bin/env bash
# The package and its systemd unit for real: systemd boots in a throw-away
# container (systemd-nspawn over an overlay of this machine's root, loopback
# as its only network); there `dpkg -i` installs the package, whose
# maintainer scripts enable and start the unit. The checks: the daemon still
# does what it does inside the sandbox (the pipe for every user, raw ICMP,
# the companion program, crash reports, restart after a crash or a hang),
# the sandbox holds (a probe unit with the same settings tries what an
# attacker in the daemon's place would), and `dpkg -r` / `--purge` stop, disable and remove everything.
#
#   tests/package/sandbox_test.sh BUILD_DIR
#
# BUILD_DIR holds the .deb. Needs root, unshare and systemd-nspawn (package
# systemd-container); skipped without them. Nothing outlives the run: the
# overlay (and the container's dpkg database in it), the container's /run
# and its mounts live in a private mount namespace, its control groups in
# one of the test's own that goes at the end, and the container is stopped
# after 180 s at the latest.
set -u
build=${1:?build folder with the .deb}
source "$(dirname "$0")/../checks.sh"
here=$(cd "$(dirname "$0")" && pwd)

if [ "$(id -u)" != 0 ] || ! command -v systemd-nspawn >/dev/null || ! unshare -m true 2>/dev/null; then
    echo "# skipped: needs root, unshare and systemd-nspawn"
    exit 0
fi
deb=$(ls "$build"/vtservice_*.deb 2>/dev/null | head -1)
[ -n "$deb" ] || { echo "no vtservice_*.deb in $build: run cpack -G DEB there first"; exit 1; }

work=$(mktemp -d /tmp/vtsandbox.XXXXXX)
# systemd-nspawn, with no systemd of its own on this machine, makes its
# control groups below its own: that is one made for this run.
groups=()
for hierarchy in /sys/fs/cgroup/systemd /sys/fs/cgroup/unified /sys/fs/cgroup; do
    if [ -f "$hierarchy/cgroup.procs" ] && mkdir "$hierarchy/${work##*/}" 2>/dev/null; then
        groups+=("$hierarchy/${work##*/}")
    fi
done
cleanup() {
    local g
    for g in "${groups[@]}"; do find "$g" -depth -type d -exec rmdir {} + 2>/dev/null; done
    rm -rf "$work"
}
trap cleanup EXIT
# stage/ is laid over the container's root; out/ is where its findings land.
stage=$work/stage
units=$stage/etc/systemd/system
mkdir -p "$work/out" "$units/vtservice.service.d" "$units/vt-probe.service.d" "$stage/vt"
cp "$deb" "$stage/vt/vtservice.deb"
cp "$here/sandbox_probe.py" "$stage/vt/"
# The test's own additions: the probe measures the loopback, and a scenario
# with a mouse to crash, a case panel in latency mode and a companion device.
cat >"$units/vtservice.service.d/test.conf" <<'EOF'
[Service]
Environment=VTSERVICE_PROBE_TARGET=127.0.0.1
Environment=TWSIM_SCENARIO=/vt/scenario.json
EOF
cat >"$stage/vt/scenario.json" <<'EOF'
{"devices": [{"model": "RX420", "state": {"effectMode": 216}},
             {"model": "CS900", "state": {"panelMode": 14, "pingTarget": 1}},
             {"model": "QT500G", "vendorId": "0x3A7C", "productId": "0x012D"}],
 "systemInfoIntervalMs": 0}
EOF
# The probe: the packaged unit's sandbox around another program, with a way
# out for its findings.
dpkg-deb --fsys-tarfile "$deb" | tar -xO ./usr/lib/systemd/system/vtservice.service |
    sed -e 's|^ExecStart=.*|ExecStart=/usr/bin/python3 /vt/sandbox_probe.py /out/probe.txt|' \
        -e 's|^Type=simple|Type=oneshot|' -e '/^Restart/d' -e '/^StartLimit/d' \
        -e '/^RuntimeDirectory/d' -e '/^\[Install\]/,$d' >"$units/vt-probe.service"
printf '[Service]\nReadWritePaths=/out\n' >"$units/vt-probe.service.d/out.conf"
cat >"$units/vt-check.service" <<'EOF'
[Unit]
SuccessAction=poweroff-force
FailureAction=poweroff-force
[Service]
Type=oneshot
ExecStart=/bin/bash /vt/check.sh
EOF
cat >"$units/vt-test.target" <<'EOF'
[Unit]
Requires=vt-check.service
After=vt-check.service
EOF
# Inside the container: facts, one per line.
cat >"$stage/vt/check.sh" <<'EOF'
exec >/out/facts 2>&1
fact() { echo "$1=$2"; }
icmp() { awk '/^Icmp:/ { if (!h) { for (i = 2; i <= NF; i++) n[i] = $i; h = 1 }
                          else for (i = 2; i <= NF; i++) print n[i] "=" $i }' /proc/net/snmp; }
icmp_field() { grep -Po "^$1=\K.*" <<<"$2"; }
twsim() { /usr/bin/twsim --endpoint /run/vtservice/twsim.sock "$@"; }
state() { systemctl is-enabled vtservice 2>&1 | tr '\n' ' '; systemctl is-active vtservice; }
restarted() {  # COUNT SECONDS: waits for the unit's COUNTth restart to be up
    local i
    for i in $(seq $(($2 * 10))); do
        [ "$(systemctl show -p NRestarts --value vtservice)" = "$1" ] &&
            [ "$(systemctl show -p ActiveState --value vtservice)" = active ] && return
        sleep 0.1
    done
}

# A data folder a user made before the package came is taken over.
mkdir -m 0777 /var/lib/vtservice && chown 65534:65534 /var/lib/vtservice
dpkg -i /vt/vtservice.deb >/out/dpkg-install.log 2>&1
fact installed "$(state)"
fact taken_over "$(grep -c 'took over /var/lib/vtservice from user' /out/dpkg-install.log) $(
                   stat -c '%u %a' /var/lib/vtservice /var/lib/vtservice/service_dmp | tr '\n' ' ')"
fact install_option "$(/usr/lib/vtservice/VTService -install 2>&1)"
for i in $(seq 100); do [ -S /run/vtservice/twvtservicepipe ] && break; sleep 0.1; done
pid=$(systemctl show -p MainPID --value vtservice)
fact socket "$(stat -c '%A' /run/vtservice/twvtservicepipe)"
fact capabilities "$(awk '/^Cap(Eff|Bnd|Amb)/ {printf "%s ", $2}' /proc/$pid/status)"
fact no_new_privileges "$(awk '/^NoNewPrivs/ {print $2}' /proc/$pid/status)"
fact seccomp "$(awk '/^Seccomp:/ {print $2}' /proc/$pid/status)"
fact pipe_as_nobody "$(setpriv --reuid=65534 --regid=65534 --clear-groups \
                       /usr/bin/vtctl hello version | tr '\n' ' ')"
# The installation checks itself; then with the socket's mode changed.
/usr/bin/vtctl doctor >/out/doctor.txt 2>&1
fact doctor_status $?
chmod 0644 /run/vtservice/twvtservicepipe
/usr/bin/vtctl doctor >/out/doctor-socket.txt 2>&1
fact doctor_socket_status $?
chmod 0666 /run/vtservice/twvtservicepipe
before=$(icmp); sleep 5; after=$(icmp)
fact echo_requests $(( $(icmp_field OutEchos "$after") - $(icmp_field OutEchos "$before") ))
fact echo_replies $(( $(icmp_field InEchoReps "$after") - $(icmp_field InEchoReps "$before") ))
fact panel_sends "$(twsim '{"cmd":"log"}' | grep -o '"call":"SendPanelData"' | wc -l)"
# The companion starts on the seventh look, two seconds apart.
for i in $(seq 120); do pgrep -x tw-nightjar >/dev/null && break; sleep 0.1; done
fact companion_parent "$(ps -o ppid= -C tw-nightjar | tr -d ' ')/$pid"
fact program_folder "$(nsenter -t "$pid" -m touch /usr/lib/vtservice/x 2>&1 |
                       grep -o 'Read-only file system')"
fact private_tmp "$(nsenter -t "$pid" -m sh -c 'touch /tmp/vt-x && ls /tmp/vt-x' 2>&1)$(
                   ls /tmp/vt-x 2>&1 | grep -o 'No such file')"
fact events "$(journalctl -b -o cat -t VTService | grep -c 'VTService is Readly')"
twsim '{"cmd":"set","model":"RX420","state":{"faultOn":"ControlOff"}}' >/dev/null
/usr/bin/vtctl rx420_control_off >/dev/null 2>&1
restarted 1 15
fact crash_report "$(head -2 /var/lib/vtservice/service_dmp/*.txt | tr '\n' ' ')"
fact crash_report_mode "$(stat -c '%A' /var/lib/vtservice/service_dmp \
                          /var/lib/vtservice/service_dmp/*.txt | tr '\n' ' ')"
fact restarted "$(systemctl show -p NRestarts -p ActiveState --value vtservice | tr '\n' ' ')"
# A device call that never returns: the service ends itself at 30 s and
# systemd starts it again.
for i in $(seq 100); do
    twsim '{"cmd":"set","model":"RX420","state":{"blockOn":"ControlOff"}}' | grep -q '"ok":true' && break
    sleep 0.1
done
timeout 2 /usr/bin/vtctl rx420_control_off >/dev/null 2>&1
restarted 2 45
fact hang_entry "$(journalctl -b -o cat -t VTService | grep -c ': TWservice hang in RX420 GetEffectMode/SetMusicPulse/ControlOff on vt-pipe$')"
fact hang_report "$(cat /var/lib/vtservice/service_dmp/*.txt | grep -A2 '^VTService hung$' | tr '\n' ' ')"
fact hang_restarted "$(systemctl show -p NRestarts -p ActiveState --value vtservice | tr '\n' ' ')"
systemctl start vt-probe.service

dpkg -r vtservice >/out/dpkg-remove.log 2>&1
fact removed "$(systemctl is-active vtservice) $(pgrep -x VTService; pgrep -x tw-nightjar)"
fact left_after_remove "$(ls -d /usr/lib/vtservice /usr/lib/systemd/system/vtservice.service \
                          /run/vtservice /var/lib/vtservice \
                          /etc/systemd/system/multi-user.target.wants/vtservice.service 2>/dev/null |
                          tr '\n' ' ')"
dpkg --purge vtservice >/out/dpkg-purge.log 2>&1
fact left_after_purge "$(ls -d /var/lib/vtservice 2>/dev/null)$(dpkg-query -W vtservice 2>/dev/null)"
EOF

# The container: this machine's root under a throw-away overlay with stage/
# on top, its own /run (systemd-nspawn keeps state there), no network but
# loopback.
t0=$(date +%s)
unshare -m --propagation private bash -c '
    set -e
    work=$1; shift
    for group in "$@"; do echo $$ >"$group/cgroup.procs"; done
    mount -t tmpfs tmpfs /run
    mkdir -p "$work/ovl" "$work/root"
    mount -t tmpfs tmpfs "$work/ovl"
    mkdir "$work/ovl/work"
    cp -a "$work/stage" "$work/ovl/upper"
    mount -t overlay overlay -o "lowerdir=/,upperdir=$work/ovl/upper,workdir=$work/ovl/work" \
        "$work/root"
    exec timeout -k 10 180 systemd-nspawn --quiet --directory="$work/root" --private-network \
        --register=no --keep-unit --link-journal=no --uuid=5d1e0c7a3b2f4e6d8c9a0b1c2d3e4f50 \
        --bind="$work/out:/out" --boot -- systemd.unit=vt-test.target' sh "$work" "${groups[@]}" \
    >"$work/container.log" 2>&1
echo "# the container ran $(( $(date +%s) - t0 )) s"
if [ ! -s "$work/out/facts" ]; then
    bad "the container ran the checks"; tail -30 "$work/container.log"; finish; exit
fi
fact() { sed -n "s/^$1=//p" "$work/out/facts"; }

check "dpkg -i enables and starts the unit" "$(fact installed)" "enabled active"
check "the user's data folder is taken over, with one line" "$(fact taken_over)" "1 0 755 0 700 "
check "the installed program points at its unit" "$(fact install_option)" \
    "VTService is installed, started and removed by systemd here: see packaging/vtservice.service."
check "the pipe's socket is open to every user" "$(fact socket)" "srw-rw-rw-"
check "a user answers through it" "$(fact pipe_as_nobody)" "TW_OK 0.400000 "
check "vtctl doctor: every check of the packaged unit passes" \
    "$(fact doctor_status) $(grep -v '^ok ' "$work/out/doctor.txt")" "0 $(tail -1 "$work/out/doctor.txt")"
check "vtctl doctor: with the socket's mode changed, that line fails" \
    "$(fact doctor_socket_status) $(grep '^FAIL' "$work/out/doctor-socket.txt")" \
    "1 FAIL  the pipe's socket /run/vtservice/twvtservicepipe: found a socket of uid 0, mode 0644, expected a socket of uid 0, mode 0666"
check "capabilities: CAP_NET_RAW only (effective, bounding, ambient)" "$(fact capabilities)" \
    "0000000000002000 0000000000002000 0000000000000000 "
check "no new privileges" "$(fact no_new_privileges)" 1
check "system call filter on" "$(fact seccomp)" 2
sent=$(fact echo_requests)
replies=$(fact echo_replies)
[ "${sent:-0}" -ge 2 ] && [ "$replies" == "$sent" ] &&
    ok "the latency probe pings through its raw socket ($sent requests, $replies replies in 5 s)" ||
    bad "the latency probe pings through its raw socket ($sent requests, $replies replies in 5 s)"
holds "the case panel gets its latency values" [ "$(fact panel_sends)" -ge 2 ]
parent=$(fact companion_parent)
[ -n "${parent%%/*}" ] && [ "${parent%%/*}" == "${parent##*/}" ] &&
    ok "the service starts the companion program from its folder" ||
    bad "the service starts the companion program from its folder ($parent)"
check "its program folder is read-only to it" "$(fact program_folder)" "Read-only file system"
check "its /tmp is its own" "$(fact private_tmp)" "/tmp/vt-xNo such file"
check "its entries reach the journal" "$(fact events)" 1
case "$(fact crash_report)" in
    "VTService crashed signal 11 (SIGSEGV) ") ok "a fault writes its report into the state folder" ;;
    *) bad "a fault writes its report into the state folder"; fact crash_report ;;
esac
check "the report is the service's own (umask 0077)" "$(fact crash_report_mode)" \
    "drwx------ -rw------- "
check "systemd restarts it after the fault" "$(fact restarted)" "1 active "
check "a device call that never returns: one entry, one report" "$(fact hang_entry) $(fact hang_report)" \
    "1 VTService hung call RX420 GetEffectMode/SetMusicPulse/ControlOff thread vt-pipe "
check "systemd restarts it after the hang" "$(fact hang_restarted)" "2 active "
check "dpkg -r stops it, and the companion goes too" "$(fact removed)" "inactive "
check "dpkg -r disables it and leaves only the state folder" "$(fact left_after_remove)" \
    "/var/lib/vtservice "
check "dpkg --purge deletes it" "$(fact left_after_purge)" ""

check "the sandbox, tried from inside" "$(cat "$work/out/probe.txt" 2>&1)" "\
raw ICMP socket: allowed
Unix socket: allowed
write the state folder: allowed
read /proc/stat: allowed
read another process's /proc entry: allowed
read /sys/class: allowed
open /dev/null: allowed
IPv6 socket: denied (EAFNOSUPPORT)
netlink socket: denied (EAFNOSUPPORT)
packet socket: denied (EAFNOSUPPORT)
write /etc: denied (EROFS)
write its program folder: denied (EROFS)
list /home: denied (EACCES)
write /proc/sys: denied (EROFS)
chown: denied (EPERM)
make a set-user-id file: denied (EPERM)
setuid: denied (EPERM)
sethostname: denied (EPERM)
new user namespace: denied (EPERM)
mount: denied (EPERM)
writable and executable memory: denied (EPERM)
lower its priority: denied (EPERM)"
# The container's device controller is not delegated to its systemd here
# (cgroup v1 devices, read-only), so the unit's device list cannot be tried.
echo "# not tried here: DevicePolicy=closed with DeviceAllow= (needs the device controller)"
finish
