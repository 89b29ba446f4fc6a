#!/usr/bin/env python3
"""The native daemon end to end: it starts in the foreground with the device
simulator and the sensor stand-ins beside it, writes its entries, follows
hot-plug, answers the temperature keywords from the readings file, paints
the OLED mouse from the job file, answers SIGTERM within the stop watch's
period and exits 0; the installer options point at the unit file."""
import json
import os
import shlex
import shutil
import socket
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from sanitizers import assert_clean, checked_env

EXE = None
TWSIM = None
VTCTL = None
# The programs of an emulated build (the i386 tree) run through the emulator
# its ctest names; natively this is empty.
RUN = shlex.split(os.environ.get("VT_TEST_EMULATOR", ""))

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
GETSYSINFO = ("3500.000000;1250;1.250000;46;12;1410.500000;1100;0.875000;39;4;"
              "1250;790;0;0;0;")


# The case panel's feed runs on its own thread all the while, between any
# two calls a test makes.
PANEL_FEED = {"GetPanelMode", "GetPanelCycle", "GetPingTarget", "QuerySystemValue",
              "SendPanelData"}


def read_entries(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [line.rstrip("\n").split("\t") for line in f]


GOLDEN = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "data", "oled")


def golden_frames(case):
    """The frames of a golden case, each as the text the simulator writes
    beside its picture (frame-NNNN.txt)."""
    with open(os.path.join(GOLDEN, case, "expected.txt")) as f:
        return [block.strip("\n") + "\n" for block in f.read().split("\n\n")]


def read_text(path):
    with open(path) as f:
        return f.read()


def wait_for(predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


class DaemonHarness(unittest.TestCase):
    """A daemon of its own per test: temporary run and data folders, the
    simulator with no devices, entries in a file."""

    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.log = os.path.join(self.dir.name, "events.tsv")
        self.control = os.path.join(self.dir.name, "twsim.sock")
        self.empty = os.path.join(self.dir.name, "empty.json")
        with open(self.empty, "w") as f:
            f.write('{"devices": []}')
        # Each run gets its own simulator endpoint; by default no devices.
        self.run_dir = os.path.join(self.dir.name, "run")
        # An empty data folder: no job file, so the OLED job starts disabled.
        self.data_dir = os.path.join(self.dir.name, "data")
        os.makedirs(self.data_dir)
        # The sensor stand-ins serve this file, whatever sensors the machine has.
        self.readings = os.path.join(self.dir.name, "sensors.json")
        with open(self.readings, "w") as f:
            json.dump(READINGS, f)
        # The latency probe of every daemon run here measures the loopback
        # address only, whatever a scenario asks of the panel.
        env = dict(os.environ, VTSERVICE_EVENTLOG_FILE=self.log,
                   TWSIM_CONTROL=self.control, TWSIM_SCENARIO=self.empty,
                   VTSERVICE_RUN_DIR=self.run_dir, VTSERVICE_DATA_DIR=self.data_dir,
                   VTSERVICE_PROBE_TARGET="127.0.0.1", VTSENSORS_FILE=self.readings)
        self.sanitizers = os.path.join(self.dir.name, "sanitizers")
        self.env = checked_env(self, env, self.sanitizers)

    def messages(self):
        return [e[5] for e in read_entries(self.log)]

    def twsim(self, *requests):
        r = subprocess.run([*RUN, TWSIM, "--endpoint", self.control] +
                           [json.dumps(q) for q in requests],
                           capture_output=True, timeout=20, text=True)
        assert_clean(self, r.stderr)
        self.assertEqual(r.returncode, 0, r.stderr + r.stdout)
        return [json.loads(line) for line in r.stdout.splitlines()]

    def wait_messages(self, wanted, timeout=10):
        ok = wait_for(lambda: all(w in self.messages() for w in wanted), timeout)
        self.assertTrue(ok, f"missing {wanted} in {self.messages()}")

    def start(self, exe=None, cwd=None):
        # Standard error goes to a file the sanitizer check reads (a pipe
        # nobody reads could also fill up and stall the daemon).
        stderr = tempfile.NamedTemporaryFile(dir=self.sanitizers, suffix=".stderr", delete=False)
        self.addCleanup(stderr.close)
        proc = subprocess.Popen([*RUN, exe or EXE], env=self.env, stdout=subprocess.PIPE,
                                stderr=stderr, cwd=cwd)
        self.addCleanup(self.end, proc)
        ok = wait_for(lambda: "TWservice ServiceWorkerThread" in self.messages() and
                      "VTService is Readly,Will While(1)" in self.messages() and
                      ("Enable job" in self.messages() or "Disable job" in self.messages()), 10)
        self.assertTrue(ok, f"service did not start: {self.messages()}")
        return proc

    @staticmethod
    def end(proc):
        """After a failed test: a stop first, so the service also ends the
        companion it started (a leftover copy would count as the user's in
        every later run), and only then a kill."""
        if proc.poll() is None:
            proc.terminate()
            try:
                proc.communicate(timeout=10)
            except subprocess.TimeoutExpired:
                proc.kill()
                proc.communicate()

    def stop(self, proc):
        proc.send_signal(signal.SIGTERM)
        proc.communicate(timeout=10)
        self.assertEqual(proc.returncode, 0)

    def vtctl(self, *args, check=True):
        r = subprocess.run([*RUN, VTCTL, "--pipe", os.path.join(self.run_dir, "twvtservicepipe")] +
                           list(args), capture_output=True, timeout=20, text=True)
        assert_clean(self, r.stderr)
        if check:
            self.assertEqual(r.returncode, 0, r.stderr)
        return r


class Daemon(DaemonHarness):
    def test_sigterm_stops_within_the_watch_period(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig):
                os.remove(self.log) if os.path.exists(self.log) else None
                proc = self.start()
                # The readings start on a thread of their own.
                self.wait_messages(["Core temp lib load good"])
                t0 = time.monotonic()
                proc.send_signal(sig)
                out, _ = proc.communicate(timeout=10)
                elapsed = time.monotonic() - t0
                self.assertEqual(proc.returncode, 0)
                self.assertLess(elapsed, 3.0)
                msgs = self.messages()
                self.assertEqual(msgs[0], "TWService in OnStart")
                self.assertEqual(msgs[-1], "TWservice in OnStop")
                self.assertEqual(sorted(msgs[1:-1]),
                                 sorted(["TWservice ServiceWorkerThread",
                                         "TWservice PipeWorkerThread",
                                         "TWservice PipeWorkerThread OK",
                                         "Core temp lib load good",
                                         "VTService is Readly,Will While(1)",
                                         "TWservice JobThread", "Disable job"]))
                for entry in read_entries(self.log):
                    self.assertEqual(entry[:5], ["4", "0", "0", "VTService", "VTService"])
                self.assertTrue(out.decode().startswith("Parameters:\n"))
                self.assertIn("CLASS_DEVICE_PROCESSOR\nCLASS_DEVICE_DISPLAY_ADAPTER\n"
                              "CLASS_DEVICE_MAINBOARD\n", out.decode())

    def test_default_scenario_devices_and_hot_plug(self):
        del self.env["TWSIM_SCENARIO"]  # the scenario beside the library, as the demo runs
        proc = self.start()
        created = ["CreateKB709", "CreateKB709Dongle", "CreateHV230", "CreateRX420",
                   "CreateLQ120", "CreateCS900"]
        self.wait_messages(created)
        # Start-up enumeration runs before the stop watch is queued.
        msgs = self.messages()
        self.assertEqual(msgs[0], "TWService in OnStart")
        self.assertLess(max(msgs.index(c) for c in created),
                        msgs.index("TWservice ServiceWorkerThread"))
        calls = [e["call"] for e in self.twsim({"cmd": "log"})[0]["log"]]
        self.assertEqual(calls[:3], ["twlink_background", "twlink_init", "devInfo"])
        self.assertIn("registerDevNotify", calls)
        self.assertLess(calls.index("SetMusicPulse"), calls.index("registerDevNotify"))

        self.twsim({"cmd": "clearLog"}, {"cmd": "detach", "model": "HV230"})
        self.wait_messages(["del HV230"])
        self.twsim({"cmd": "attach", "device": {"model": "HV230"}})
        self.wait_messages(["CreateHV230 "])
        tail = self.messages()[self.messages().index("del HV230"):]
        self.assertEqual(tail, ["del HV230", "CreateHV230", "CreateHV230 "])
        log = [e for e in self.twsim({"cmd": "log"})[0]["log"] if e["call"] not in PANEL_FEED]
        self.assertEqual([(e["call"], e["model"]) for e in log if not e.get("detached")],
                         [("hv230", "HV230"), ("RegisterKeyCallback", "HV230"),
                          ("SetKeyNotify", "HV230")])
        self.assertEqual(log[-1]["args"], [1])

        # A key press on the new headset reaches the event log.
        self.twsim({"cmd": "fire", "what": "headset", "model": "HV230", "code": 5})
        self.wait_messages(["HV230 mute press"])
        self.stop(proc)

    def calls(self, name):
        return [e["args"] for e in self.twsim({"cmd": "log"})[0]["log"] if e["call"] == name]

    def test_system_readings_and_the_screen_saver_reach_the_cooler(self):
        del self.env["TWSIM_SCENARIO"]  # the default scenario's LQ120 follows the saver
        proc = self.start()
        self.wait_messages(["CreateLQ120"])
        # The library's system readings reach the cooler unchanged.
        self.twsim({"cmd": "clearLog"}, {"cmd": "setSystem", "systemInfo": {"cpuTemperature": 61}},
                   {"cmd": "fire", "what": "systemInfo"})
        sent = [e for e in self.twsim({"cmd": "log"})[0]["log"] if e["call"] == "SendSystemInfo"]
        self.assertIn("LQ120", [e["model"] for e in sent])
        self.assertEqual([e["args"][0]["cpuTemperature"] for e in sent if e["model"] == "LQ120"],
                         [61])

        # (The display cycle's order is the cooler's unit tests'.)
        # The screen saver: SIGUSR1 starts, SIGUSR2 stops.
        self.twsim({"cmd": "clearLog"})
        proc.send_signal(signal.SIGUSR1)
        self.assertTrue(wait_for(lambda: self.calls("SetSaverSwitchB") == [[0]], 10))
        proc.send_signal(signal.SIGUSR2)
        self.assertTrue(wait_for(lambda: self.calls("SetSaverSwitchB") == [[0], [1]], 10))
        self.assertEqual(self.calls("SetSaverSwitchA"), [[0], [1]])
        calls = [e["call"] for e in self.twsim({"cmd": "log"})[0]["log"]
                 if e["call"].startswith("SetSaver")]
        self.assertEqual(calls, ["SetSaverSwitchA", "SetSaverSwitchB"] * 2)

        # Switched off from the desktop application: the saver changes nothing.
        self.vtctl('{"mod":"lq120","func":"setScreenSave","param":{"bsave":false}}')
        self.twsim({"cmd": "clearLog"})
        proc.send_signal(signal.SIGUSR1)
        time.sleep(0.5)
        self.assertEqual(self.calls("SetSaverSwitchA"), [])

    def control_request(self, request):
        """One request straight over the simulator's control socket, for
        polls that time something: they must not wait for a program to
        start (under an emulator twsim takes a good part of a second)."""
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.connect(self.control)
            s.sendall(json.dumps(request).encode() + b"\n")
            reply = b""
            while not reply.endswith(b"\n"):
                chunk = s.recv(65536)
                self.assertTrue(chunk, "the simulator closed without a reply")
                reply += chunk
        return json.loads(reply)

    def panel_sends(self):
        return [e["args"] for e in self.control_request({"cmd": "log"})["log"]
                if e["call"] == "SendPanelData"]

    def test_panel_in_mode_7_gets_the_system_value_every_two_seconds(self):
        del self.env["TWSIM_SCENARIO"]
        proc = self.start()
        self.wait_messages(["CreateCS900"])
        # Sends already there when polling starts arrived at some unknown
        # time (a slow start, an emulated build): only new ones are timed.
        arrivals, seen = [], len(self.panel_sends())
        deadline = time.monotonic() + 10
        while len(arrivals) < 3 and time.monotonic() < deadline:
            sends = self.panel_sends()
            if len(sends) > seen:
                arrivals.append(time.monotonic())
                seen = len(sends)
            time.sleep(0.05)
        self.assertEqual(len(arrivals), 3, f"sends: {self.panel_sends()}")
        for gap in (arrivals[1] - arrivals[0], arrivals[2] - arrivals[1]):
            self.assertGreater(gap, 1.5)
            self.assertLess(gap, 2.6)
        # Mode 7 alone: the library's system value (42 in the scenario).
        self.assertEqual(self.panel_sends()[0], [0, 0, 42])
        proc.send_signal(signal.SIGTERM)
        out, _ = proc.communicate(timeout=10)
        self.assertEqual(proc.returncode, 0)
        self.assertIn("app path : %s/localdevice.ini\n" % self.data_dir, out.decode())

    def test_panel_cycle_reads_the_settings_file_and_the_system_value(self):
        with open(os.path.join(self.data_dir, "localdevice.ini"), "w") as f:
            f.write("[CS900_MODE_19]\r\nvalue=123\r\n")
        scenario = os.path.join(self.dir.name, "cycle.json")
        with open(scenario, "w") as f:
            json.dump({"devices": [{"model": "CS900", "state": {
                "panelMode": 20, "panelCycle": {"count": 2, "modes": [19, 7, 255, 255, 255]}}}],
                "systemValue": 9}, f)
        self.env["TWSIM_SCENARIO"] = scenario
        proc = self.start()
        self.assertTrue(wait_for(lambda: self.panel_sends(), 5), "no SendPanelData")
        self.assertEqual(self.panel_sends()[0], [123, 0, 9])
        self.stop(proc)

    def test_oled_job_paints_the_default_mouse(self):
        del self.env["TWSIM_SCENARIO"]  # the default scenario's RX410, profile 1
        frames_dir = os.path.join(self.dir.name, "frames")
        os.makedirs(frames_dir)
        shutil.copy(os.path.join(GOLDEN, "default_mouse", "tw_service.cfg"), self.data_dir)
        self.env["TWSIM_FRAME_DIR"] = frames_dir
        expected = golden_frames("default_mouse")
        self.assertEqual(len(expected), 5)  # PROFILE1, DPI, custom, picture, APM
        proc = self.start()
        self.wait_messages(["TWservice JobThread", "Enable job", "Found RX410"])
        # One screen a second.
        texts = lambda: sorted(f for f in os.listdir(frames_dir) if f.endswith(".txt"))
        ok = wait_for(lambda: len(texts()) >= len(expected), 20)
        self.assertTrue(ok, f"frames: {os.listdir(frames_dir)}, events: {self.messages()}")
        reply = self.twsim({"cmd": "frames"})[0]
        self.assertGreaterEqual(reply["count"], len(expected))
        self.assertEqual(reply["frameId"], 0xF1)
        self.stop(proc)

        files = texts()[:len(expected)]
        self.assertEqual(files, [f"frame-{i:04d}.txt" for i in range(1, len(expected) + 1)])
        # (The pictures beside them are for people to look at.)
        self.assertTrue(os.path.exists(os.path.join(frames_dir, "frame-0001.png")))
        got = [read_text(os.path.join(frames_dir, f)) for f in files]
        for i, (g, e) in enumerate(zip(got, expected)):
            self.assertEqual(g, e, f"frame {i + 1} differs")
        # The scratch bitmap is the converter's file in the service's own
        # folder, not in the shared data folder.
        self.assertTrue(os.path.exists(os.path.join(self.data_dir, "service_dmp", "oled.bmp")))
        self.assertFalse(os.path.exists(os.path.join(self.data_dir, "oled.bmp")))
        self.assertNotIn("Stop painting", self.messages())

    def test_pipe_requests_on_one_connection(self):
        del self.env["TWSIM_SCENARIO"]
        proc = self.start()
        self.wait_messages(["VTService is Readly,Will While(1)", "CreateKB709",
                            "Core temp lib load good"])
        r = self.vtctl("hello", "status", "enable", "status", "version", "Enable", "temp",
                       "fake_temp", "fake_step", "fake_step", "fake_step", "fake_step", "temp",
                       "getc", "getsysinfo", "rx420_control_off")
        self.assertEqual(r.stdout.splitlines(),
                         ["TW_OK", "off", "TW_OK", "on", "0.400000", "TW_FAIL", "46;39;", "TW_OK",
                          "TW_OK", "TW_OK", "TW_OK", "TW_OK", "90;90", "4;1;",
                          GETSYSINFO, "TW_OK"])
        # (The panel feed runs on meanwhile: only the mouse's calls count.)
        calls = [e["call"] for e in self.twsim({"cmd": "log"})[0]["log"] if e["model"] == "RX420"]
        self.assertEqual(calls[-3:], ["GetEffectMode", "SetMusicPulse", "ControlOff"])

        # The road of one request: the JSON stage reaches the keyboard and
        # answers TW_OK; the text table then finds no keyword and logs it.
        before = len(self.messages())
        self.twsim({"cmd": "clearLog"})
        r = self.vtctl('{"mod":"kb709","func":"setSystemStatusEffect","param":{"type":3}}')
        self.assertEqual(r.stdout, "TW_OK\n")
        # (An earlier request wrote the same entry; only new ones count. The
        # OLED job, enabled above, writes its own entries meanwhile, and the
        # panel feed and the cooler run on: only the pipe's entries and the
        # keyboards are looked at.)
        error = "TWservice PipeWorkerThread receiver error command"
        self.assertTrue(wait_for(lambda: error in self.messages()[before:], 10))
        self.assertEqual([m for m in self.messages()[before:] if "PipeWorkerThread" in m],
                         [error])
        log = self.twsim({"cmd": "log"})[0]["log"]
        self.assertEqual([(e["call"], e["model"], e["args"]) for e in log
                          if e["model"].startswith("KB")],
                         [("SetSystemStatusEffect", "KB709", [3, 0])])

        # A case panel command gets the panel's own reply text.
        r = self.vtctl('{"mod":"cs900","func":"GetVersion","param":"all"}',
                       '{"mod":"cs900","func":"NoSuchThing","param":"all"}')
        self.assertEqual(r.stdout, "1.0.0\nTW_FAIL\n")
        self.assertIn(("HandleHostCommand", ["GetVersion", "all", 128]),
                      [(e["call"], e["args"]) for e in self.twsim({"cmd": "log"})[0]["log"]])

        # Framing: 200 bytes are two requests with two replies.
        r = self.vtctl("--raw", "x" * 127 + "hello" + "y" * 68)
        self.assertEqual(r.stdout, "TW_FAILTW_OK\n")
        self.stop(proc)

    def write_readings(self, **extra):
        # Replaced whole: the stand-ins read the file afresh for each value,
        # and a half-written file would give a reading of zero.
        with open(self.readings + ".new", "w") as f:
            json.dump(dict(READINGS, **extra), f)
        os.replace(self.readings + ".new", self.readings)

    def test_a_stalled_sensor_sdk_holds_up_no_request(self):
        self.write_readings(stall=True)  # the SDK's start never returns
        proc = self.start()
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.connect(os.path.join(self.run_dir, "twvtservicepipe"))

            def ask(request, bound):
                t0 = time.monotonic()
                s.sendall(request.encode())
                reply = s.recv(128).decode()
                self.assertLess(time.monotonic() - t0, bound, request)
                return reply

            device = '{"mod":"kb709","func":"setSystemStatusEffect","param":{"type":3}}'
            self.assertEqual([ask(r, 0.05) for r in ("hello", "status", device)],
                             ["TW_OK", "off", "TW_OK"])
            self.assertEqual(ask("temp", 0.3), "0;0")  # no readings yet
            self.write_readings()
            self.assertTrue(wait_for(lambda: ask("temp", 0.3) == "46;39;", 10))
            self.assertIn("Core temp lib load good", self.messages())

            # Stalled again: after the readings' second, the last ones.
            self.write_readings(stall=True, cpuTemps=[60])
            time.sleep(1.1)
            self.assertEqual(ask("temp", 0.3), "46;39;")
            self.assertEqual(ask("hello", 0.05), "TW_OK")
            self.write_readings(cpuTemps=[60])
            self.assertTrue(wait_for(lambda: ask("temp", 0.3) == "60;39;", 10))
        self.stop(proc)

    def start_with_a_blocked_keyboard(self):
        """A daemon whose KB709's status effect never returns, and a socket
        whose request is inside that call."""
        with open(self.empty, "w") as f:
            json.dump({"devices": [{"model": "KB709"}]}, f)
        proc = self.start()
        self.wait_messages(["CreateKB709"])
        self.twsim({"cmd": "set", "model": "KB709",
                    "state": {"blockOn": "SetSystemStatusEffect"}})
        s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.addCleanup(s.close)
        s.connect(os.path.join(self.run_dir, "twvtservicepipe"))
        s.sendall(b'{"mod":"kb709","func":"setSystemStatusEffect","param":{"type":3}}')
        return proc

    def test_a_stop_ends_while_a_device_call_never_returns(self):
        proc = self.start_with_a_blocked_keyboard()
        self.assertTrue(wait_for(lambda: any(
            e["call"] == "SetSystemStatusEffect"
            for e in self.twsim({"cmd": "log"})[0]["log"]), 10))
        t0 = time.monotonic()
        proc.send_signal(signal.SIGTERM)
        proc.communicate(timeout=15)
        self.assertLess(time.monotonic() - t0, 10.0)
        self.assertEqual(proc.returncode, 0)
        self.assertEqual(self.messages()[-1], "TWservice in OnStop")

    def test_a_device_call_that_never_returns_ends_the_service_with_a_report(self):
        proc = self.start_with_a_blocked_keyboard()
        t0 = time.monotonic()  # the call began just before
        proc.communicate(timeout=40)
        self.assertLess(time.monotonic() - t0, 35.0)
        self.assertEqual(proc.returncode, 70)
        hangs = [e for e in read_entries(self.log) if "hang" in e[5]]
        self.assertEqual([(e[0], e[5]) for e in hangs],
                         [("1", "TWservice hang in SetSystemStatusEffect on vt-pipe")])
        reports = [n for n in os.listdir(os.path.join(self.data_dir, "service_dmp"))
                   if n.endswith(".txt")]
        self.assertEqual(len(reports), 1, reports)
        with open(os.path.join(self.data_dir, "service_dmp", reports[0])) as f:
            self.assertEqual(f.read(),
                             "VTService hung\ncall SetSystemStatusEffect\nthread vt-pipe\n")

    def test_missing_library_runs_on_without_devices(self):
        exe = os.path.join(self.dir.name, "VTService")
        shutil.copy(EXE, exe)  # alone: no libtwlink.so beside it
        proc = self.start(exe)
        self.stop(proc)
        msgs = self.messages()
        self.assertEqual(msgs[:2], ["TWService in OnStart",
                                    "Load libtwlink.so failed w/err 0x0000007e"])
        # The pipe and the stop watch run all the same.
        for m in ["TWservice ServiceWorkerThread", "VTService is Readly,Will While(1)",
                  "TWservice in OnStop"]:
            self.assertIn(m, msgs)
        self.assertEqual(read_entries(self.log)[1][0], "1")  # an error entry

    def children_named(self, pid, name):
        found = []
        for entry in os.listdir("/proc"):
            if not entry.isdigit():
                continue
            try:
                with open(f"/proc/{entry}/stat") as f:
                    stat = f.read()
            except OSError:
                continue
            comm = stat[stat.index("(") + 1:stat.rindex(")")]
            fields = stat[stat.rindex(")") + 2:].split()
            if comm == name and fields[0] != "Z" and int(fields[1]) == pid:
                found.append(int(entry))
        return found

    def test_companion_runs_while_its_device_is_attached(self):
        with open(self.empty, "w") as f:
            json.dump({"devices": [{"model": "QT500G", "vendorId": "0x3A7C",
                                    "productId": "0x012D"}]}, f)
        proc = self.start()
        t0 = time.monotonic()
        self.assertEqual(self.children_named(proc.pid, "tw-nightjar"), [])
        # Seven passes of two seconds: about 14 s after the watcher starts.
        ok = wait_for(lambda: self.children_named(proc.pid, "tw-nightjar"), 20)
        elapsed = time.monotonic() - t0
        self.assertTrue(ok, "tw-nightjar was not started")
        self.assertGreater(elapsed, 11.0)
        self.assertLess(elapsed, 17.0)
        companion = self.children_named(proc.pid, "tw-nightjar")
        self.assertEqual(len(companion), 1)

        # The last companion device goes: the copy ends on the next pass.
        self.twsim({"cmd": "detach", "model": "QT500G"})
        self.assertTrue(wait_for(lambda: not os.path.exists(f"/proc/{companion[0]}"), 5),
                        "tw-nightjar still runs (or lingers as a zombie)")
        self.stop(proc)

    def crash_through_the_library(self, fault):
        """The daemon with an RX420 whose ControlOff meets `fault` inside the
        library; the report it leaves. It must end within the crash hook's
        ten seconds."""
        data = self.data_dir
        with open(self.empty, "w") as f:
            json.dump({"devices": [{"model": "RX420"}]}, f)
        proc = self.start()
        self.wait_messages(["CreateRX420"])
        self.twsim({"cmd": "set", "model": "RX420", "state": {fault: "ControlOff"}})
        t0 = time.monotonic()
        self.vtctl("rx420_control_off", check=False)
        proc.communicate(timeout=15)
        self.assertLess(time.monotonic() - t0, 10.0)
        self.assertEqual(proc.returncode, -signal.SIGSEGV)
        reports = os.listdir(os.path.join(data, "service_dmp"))
        self.assertEqual(len(reports), 1, reports)
        self.assertRegex(reports[0], r"^20\d{2}\d{1,2}\d{1,2}\d{1,2}\d{1,2}\.txt$")
        with open(os.path.join(data, "service_dmp", reports[0])) as f:
            return f.read()

    def test_a_fault_in_the_library_leaves_a_crash_report(self):
        report = self.crash_through_the_library("faultOn")
        self.assertIn("signal 11 (SIGSEGV)\naddress 0x0\nbacktrace:\n", report)
        self.assertIn("libtwlink.so", report)

    def test_a_stack_overflow_in_the_library_leaves_a_crash_report(self):
        # The handler runs on a stack of its own: the thread's is used up.
        report = self.crash_through_the_library("overflowOn")
        self.assertIn("signal 11 (SIGSEGV)\naddress 0x", report)
        self.assertIn("libtwlink.so", report)


if __name__ == "__main__":
    EXE = sys.argv.pop(1)
    TWSIM = sys.argv.pop(1)
    VTCTL = sys.argv.pop(1)
    unittest.main(verbosity=2)
