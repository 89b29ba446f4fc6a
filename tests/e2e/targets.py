"""Where the behaviour suite runs: the native daemon, or the Windows service
under Wine's service manager. Both serve the default scenario beside the
device library, the readings below through the sensor stand-ins, and the
OLED job file of the golden case default_mouse; a test sees the same things
through either (the pipe through vtctl, the simulator through twsim, the
entries written since the service last started, the reports it leaves)."""
import json
import os
import re
import shlex
import shutil
import signal
import subprocess
import sys
import tempfile
import time

from sanitizers import assert_clean, checked_env

HERE = os.path.dirname(os.path.abspath(__file__))
GOLDEN = os.path.join(HERE, "..", "data", "oled")

# What the sensor stand-ins serve: a processor with four cores, a display
# adapter, a mainboard with three fans.
READINGS = {
    "devices": [
        {"class": "processor", "sensors": [
            {"class": "temperature", "name": "Core #0", "value": 45.0},
            {"class": "temperature", "name": "Core #1", "value": 0.0},
            {"class": "temperature", "name": "Core #2", "value": 48.0},
            {"class": "utilisation", "name": "CPU Total", "value": 12.5},
            {"class": "clock", "name": "Core #0", "value": 3600.0},
            {"class": "clock", "name": "Core #1", "value": 3400.0},
            {"class": "voltage", "name": "VID", "value": 1.25}]},
        {"class": "display", "sensors": [
            {"class": "temperature", "name": "GPU", "value": 39.0},
            {"class": "utilisation", "name": "GPU", "value": 4.0},
            {"class": "fan", "name": "GPU", "value": 1100.0},
            {"class": "clock", "name": "Graphics", "value": 1410.5},
            {"class": "voltage", "name": "GPU", "value": 0.875}]},
        {"class": "mainboard", "sensors": [
            {"class": "fan", "name": "SYS_FAN1", "value": 820.0},
            {"class": "fan", "name": "CPU_FAN", "value": 1250.0},
            {"class": "fan", "name": "SYS_FAN2", "value": 790.0}]}],
    "cpuTemps": [46, 48, 45, 45],
    "gpuTemps": [39],
}

def ready(messages):
    """The service serves: its worker and pipe run, and the OLED job has
    read its job file (or found none)."""
    return ("TWservice ServiceWorkerThread" in messages and
            "VTService is Readly,Will While(1)" in messages and
            ("Enable job" in messages or "Disable job" in messages))


def write_readings(path, **extra):
    # Replaced whole: the stand-ins read the file afresh for each value,
    # and a half-written file would give a reading of zero.
    with open(path + ".new", "w") as f:
        json.dump(dict(READINGS, **extra), f)
    os.replace(path + ".new", path)


def golden_frames(case):
    """The frames of a golden case, each as the text the simulator writes
    beside its picture (frame-NNNN.txt)."""
    with open(os.path.join(GOLDEN, case, "expected.txt")) as f:
        return [block.strip("\n") + "\n" for block in f.read().split("\n\n")]


def wait_for(predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


def read_entries(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [line.rstrip("\n").split("\t") for line in f]


def replies(test, run):
    """The simulator's replies to a twsim run, one per request."""
    test.assertEqual(run.returncode, 0, run.stderr + run.stdout)
    return [json.loads(line) for line in run.stdout.splitlines() if line.strip()]


def reports(folder, suffix):
    """(name, content) of each report in `folder`."""
    found = []
    for name in sorted(n for n in os.listdir(folder) if n.endswith(suffix)):
        with open(os.path.join(folder, name), "rb") as f:
            found.append((name, f.read()))
    return found


class Holder:
    """A client program that holds the pipe in one way (`mode`): it prints
    "holding" once in place and ends, printing what it saw, once its go
    file exists."""

    def __init__(self, test, command, go_file, out_file):
        self.go, self.out_file = go_file, out_file
        if os.path.exists(go_file):  # an earlier holder's
            os.remove(go_file)
        self.out = open(out_file, "w")
        self.proc = subprocess.Popen(command, stdout=self.out, stderr=subprocess.DEVNULL)
        test.addCleanup(self.release)
        test.assertTrue(wait_for(lambda: self.lines()[:1] == ["holding"], 15), self.lines())

    def lines(self):
        with open(self.out_file, errors="replace") as f:
            return f.read().replace("\r", "").split()

    def release(self):
        """Lets it end; what it printed."""
        open(self.go, "w").close()
        try:
            self.proc.wait(timeout=15)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()
        self.out.close()
        return self.lines()


class Native:
    """A daemon of its own for each test, in the foreground, with its own
    run and data folders, simulator endpoint and entries file."""
    # The pipe's clients: a Unix socket lets one also fill its buffers both
    # ways, never reading (a Windows client would wait in its write).
    holder_modes = ("silent", "slow", "greedy")
    hang_dump_bound = 2.0  # the report is written before the process ends
    slack = 0.0
    programs = {}  # VTService, twsim, vtctl: set by the suite's command line
    run = shlex.split(os.environ.get("VT_TEST_EMULATOR", ""))  # an emulated build's emulator

    def __init__(self, test):
        self.test = test
        self.dir = tempfile.TemporaryDirectory()
        test.addCleanup(self.dir.cleanup)
        d = self.dir.name
        self.log = os.path.join(d, "events.tsv")
        self.control = os.path.join(d, "twsim.sock")
        self.pipe = os.path.join(d, "run", "twvtservicepipe")
        self.data_dir = os.path.join(d, "data")
        self.frames_dir = os.path.join(d, "frames")
        self.readings = os.path.join(d, "sensors.json")
        os.makedirs(self.data_dir)
        os.makedirs(self.frames_dir)
        shutil.copy(os.path.join(GOLDEN, "default_mouse", "tw_service.cfg"), self.data_dir)
        write_readings(self.readings)
        # The latency probe measures the loopback address only, whatever a
        # scenario asks of the panel.
        env = dict(os.environ, VTSERVICE_EVENTLOG_FILE=self.log, TWSIM_CONTROL=self.control,
                   VTSERVICE_RUN_DIR=os.path.dirname(self.pipe), VTSERVICE_DATA_DIR=self.data_dir,
                   VTSERVICE_PROBE_TARGET="127.0.0.1", VTSENSORS_FILE=self.readings,
                   TWSIM_FRAME_DIR=self.frames_dir)
        # The scenario beside the library, but for its companion device: a
        # companion started here would count as the user's own copy in the
        # companion test running beside it.
        with open(os.path.join(os.path.dirname(self.programs["VTService"]),
                               "twlink_scenario.json")) as f:
            scenario = json.load(f)
        scenario["devices"] = [x for x in scenario["devices"] if x["model"] != "QT500G"]
        env["TWSIM_SCENARIO"] = os.path.join(d, "scenario.json")
        with open(env["TWSIM_SCENARIO"], "w") as f:
            json.dump(scenario, f)
        self.sanitizers = os.path.join(d, "sanitizers")
        self.env = checked_env(test, env, self.sanitizers)
        self.proc = None

    def start(self, exe=None, cwd=None, stdout=subprocess.DEVNULL):
        # Standard error goes to a file the sanitizer check reads (a pipe
        # nobody reads could also fill up and stall the daemon).
        stderr = tempfile.NamedTemporaryFile(dir=self.sanitizers, suffix=".stderr", delete=False)
        self.test.addCleanup(stderr.close)
        self.proc = subprocess.Popen([*self.run, exe or self.programs["VTService"]],
                                     env=self.env, stdout=stdout, stderr=stderr, cwd=cwd)
        self.test.addCleanup(self.end, self.proc)
        ok = wait_for(lambda: ready(self.messages()), 10)
        self.test.assertTrue(ok, f"service did not start: {self.messages()}")
        return self.proc

    @staticmethod
    def end(proc):
        """After a test: a stop first, so the service also ends the companion
        it started, and only then a kill."""
        if proc.poll() is None:
            proc.terminate()
            try:
                proc.communicate(timeout=10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.communicate()

    def stop(self):
        """Seconds until the service stopped."""
        t0 = time.monotonic()
        self.proc.send_signal(signal.SIGTERM)
        self.proc.communicate(timeout=15)
        self.test.assertEqual(self.proc.returncode, 0)
        return time.monotonic() - t0

    def alive(self):
        return self.proc.poll() is None

    def crashed(self):
        self.test.assertEqual(self.proc.returncode, -signal.SIGSEGV)

    def hung(self):
        self.test.assertEqual(self.proc.returncode, 70)

    def entries(self):
        """(error?, text) of each entry since the service started."""
        return [(e[0] == "1", e[5]) for e in read_entries(self.log)]

    def messages(self):
        return [text for _, text in self.entries()]

    def tool(self, program, args):
        r = subprocess.run([*self.run, self.programs[program], *args],
                           capture_output=True, timeout=30, text=True)
        assert_clean(self.test, r.stderr)
        return r

    def vtctl(self, *args):
        return self.tool("vtctl", ["--pipe", self.pipe, *args])

    def twsim(self, *requests):
        r = self.tool("twsim", ["--endpoint", self.control, *map(json.dumps, requests)])
        return replies(self.test, r)

    def reports(self):
        return reports(os.path.join(self.data_dir, "service_dmp"), ".txt")

    def check_report(self, kind, name, content):
        """A crash report names the signal and the library it came from; a
        hang's names the call and the thread."""
        text = content.decode()
        if kind == "hang":
            self.test.assertEqual(text, "VTService hung\ncall RX420 GetEffectMode/SetMusicPulse/"
                                        "ControlOff\nthread vt-pipe\n")
        else:
            self.test.assertRegex(name, r"^20\d{2}\d{1,2}\d{1,2}\d{1,2}\d{1,2}\.txt$")
            self.test.assertIn("signal 11 (SIGSEGV)\naddress 0x", text)
            self.test.assertIn("libtwlink.so", text)

    def hold(self, mode):
        """A holder run as an unprivileged local user, as an attacker would
        run it (as this user when not root)."""
        d = self.dir.name
        command = [sys.executable, os.path.join(HERE, "pipe_holders.py"), self.pipe, mode,
                   os.path.join(d, f"go-{mode}")]
        if os.geteuid() == 0:
            os.chmod(d, 0o755)  # the socket itself is 0666
            command = ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups", *command]
        return Holder(self.test, command, os.path.join(d, f"go-{mode}"),
                      os.path.join(d, f"holder-{mode}.out"))


class Wine:
    """The Windows service installed in a Wine prefix and started by Wine's
    service manager (tests/wine/wine_service_test.sh sets it up and says
    where, in VT_WINE, WINEPREFIX, VT_WINE_TRACE and VT_WINE_BUILD). One
    service runs for all the tests of a run; a test that ends it starts it
    again. Its entries are in the prefix's trace of ReportEventW."""
    holder_modes = ("silent", "slow")
    hang_dump_bound = 12.0  # under Wine the dump writer uses all of its 10 s
    slack = 2.0  # starting a program under Wine is part of each timing
    ENTRY = re.compile(r'(\w+):(\w+):eventlog:ReportEventW L"(.*)"\s*$')

    def __init__(self, test):
        self.test = test
        self.wine = os.environ["VT_WINE"]
        self.trace = os.environ["VT_WINE_TRACE"]
        self.build = os.environ["VT_WINE_BUILD"]
        self.drive = os.path.join(os.environ["WINEPREFIX"], "drive_c")
        self.data_dir = os.path.join(self.drive, "ProgramData", "Tarnwick", "Veltrace")
        self.frames_dir = os.path.join(self.drive, "frames")

    def program(self, name, *args):
        r = subprocess.run([self.wine, os.path.join(self.build, name), *args],
                           capture_output=True, timeout=60, text=True, errors="replace")
        r.stdout = r.stdout.replace("\r", "")
        return r

    def state(self):
        r = subprocess.run([self.wine, "sc", "query", "VTService"], capture_output=True,
                           text=True, timeout=30)
        m = re.search(r"STATE\s*:\s*(\d+)", r.stdout)
        return int(m.group(1)) if m else None

    def start(self):
        if self.alive() and self.state() == 4:
            ok = wait_for(lambda: ready(self.messages()), 10)
        else:
            starts = self.all_messages().count("TWService in OnStart")
            subprocess.run([self.wine, "sc", "start", "VTService"], capture_output=True,
                           timeout=30)
            ok = wait_for(lambda: self.all_messages().count("TWService in OnStart") > starts and
                          ready(self.messages()), 20)
        self.test.assertTrue(ok, f"service did not start: {self.messages()}")

    def stop(self):
        t0 = time.monotonic()
        subprocess.run([self.wine, "sc", "stop", "VTService"], capture_output=True, timeout=30)
        self.test.assertTrue(wait_for(lambda: self.state() == 1, 10), "not STOPPED")
        took = time.monotonic() - t0
        self.test.assertTrue(wait_for(lambda: not self.alive(), 5), "the process lingers")
        return took

    def alive(self):
        """A VTService.exe of this prefix (not of another run's)."""
        for pid in os.listdir("/proc"):
            try:
                with open(f"/proc/{pid}/cmdline", "rb") as f:
                    if b"VTService.exe" not in f.read():
                        continue
                with open(f"/proc/{pid}/environ", "rb") as f:
                    env = f.read().split(b"\0")
            except OSError:
                continue
            if b"WINEPREFIX=" + os.environ["WINEPREFIX"].encode() in env:
                return True
        return False

    # Wine's service manager does not show how the process ended: the exit
    # code and the failure state are for a Windows machine to see.
    def crashed(self):
        pass

    hung = crashed

    def all_entries(self):
        """Every entry of the prefix: Wine traces the source name and the
        message as two strings, each on a line of its own that starts with
        the writing thread's number (an error entry's lines are "err:"
        ones). Threads that write at the same time interleave their lines,
        so each thread's pair is taken from its own lines."""
        with open(self.trace, encoding="utf-8", errors="replace") as f:
            lines = [m.groups() for m in map(self.ENTRY.search, f.read().splitlines()) if m]
        entries, source = [], {}
        for thread, kind, text in lines:
            if source.pop(thread, None) is None:
                source[thread] = text
            else:
                entries.append((kind == "err", text))
        return entries

    def all_messages(self):
        return [text for _, text in self.all_entries()]

    def entries(self):
        found = self.all_entries()
        starts = [i for i, (_, text) in enumerate(found) if text == "TWService in OnStart"]
        return found[starts[-1]:] if starts else []

    def messages(self):
        return [text for _, text in self.entries()]

    def vtctl(self, *args):
        return self.program("vtctl.exe", *args)

    def twsim(self, *requests):
        return replies(self.test, self.program("twsim.exe", *map(json.dumps, requests)))

    def reports(self):
        return reports(os.path.join(self.data_dir, "service_dmp"), ".dmp")

    def check_report(self, kind, name, content):
        self.test.assertRegex(name, r"^20\d+\.dmp$")
        self.test.assertEqual(content[:4], b"MDMP")

    def hold(self, mode):
        go = os.path.join(self.drive, f"go-{mode}")
        out = os.path.join(tempfile.mkdtemp(), "holder.out")
        self.test.addCleanup(shutil.rmtree, os.path.dirname(out), True)
        return Holder(self.test, [self.wine, os.path.join(self.build, "tests", "vt_pipe_clients.exe"),
                                  mode, "C:\\go-" + mode], go, out)
