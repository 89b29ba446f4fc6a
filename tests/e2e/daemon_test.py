#!/usr/bin/env python3
"""The native daemon end to end: it starts in the foreground with the device
simulator and the sensor stand-ins beside it, writes its entries, follows
hot-plug, answers the temperature keywords from the readings file, answers
SIGTERM within the stop watch's period and exits 0; the installer options
point at the unit file."""
import json
import os
import shutil
import socket
import signal
import subprocess
import sys
import tempfile
import time
import unittest

EXE = None
TWSIM = None
VTCTL = None

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


def read_entries(path):
    if not os.path.exists(path):
        return []
    with open(path, encoding="utf-8") as f:
        return [line.rstrip("\n").split("\t") for line in f]


def wait_for(predicate, timeout):
    deadline = time.monotonic() + timeout
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.05)
    return predicate()


class Daemon(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.log = os.path.join(self.dir.name, "events.tsv")
        self.control = os.path.join(self.dir.name, "twsim.sock")
        self.empty = os.path.join(self.dir.name, "empty.json")
        with open(self.empty, "w") as f:
            f.write('{"devices": []}')
        # Each run gets its own simulator endpoint; by default no devices.
        self.run_dir = os.path.join(self.dir.name, "run")
        # The sensor stand-ins serve this file, whatever sensors the machine has.
        self.readings = os.path.join(self.dir.name, "sensors.json")
        self.write_readings(READINGS)
        self.env = dict(os.environ, VTSERVICE_EVENTLOG_FILE=self.log,
                        TWSIM_CONTROL=self.control, TWSIM_SCENARIO=self.empty,
                        VTSERVICE_RUN_DIR=self.run_dir, VTSENSORS_FILE=self.readings)

    def write_readings(self, readings, path=None):
        with open(path or self.readings, "w") as f:
            json.dump(readings, f)

    def tearDown(self):
        self.dir.cleanup()

    def messages(self):
        return [e[5] for e in read_entries(self.log)]

    def twsim(self, *requests):
        r = subprocess.run([TWSIM, "--endpoint", self.control] +
                           [json.dumps(q) for q in requests],
                           capture_output=True, timeout=20, text=True)
        self.assertEqual(r.returncode, 0, r.stderr + r.stdout)
        return [json.loads(line) for line in r.stdout.splitlines()]

    def wait_messages(self, wanted, timeout=10):
        ok = wait_for(lambda: all(w in self.messages() for w in wanted), timeout)
        self.assertTrue(ok, f"missing {wanted} in {self.messages()}")

    def start(self, exe=None, cwd=None):
        proc = subprocess.Popen([exe or EXE], env=self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE, cwd=cwd)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        ok = wait_for(lambda: "TWservice ServiceWorkerThread" in self.messages() and
                      "VTService is Readly,Will While(1)" in self.messages(), 10)
        self.assertTrue(ok, f"service did not start: {self.messages()}")
        return proc

    def test_sigterm_stops_within_the_watch_period(self):
        for sig in (signal.SIGTERM, signal.SIGINT):
            with self.subTest(signal=sig):
                os.remove(self.log) if os.path.exists(self.log) else None
                proc = self.start()
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
                                         "VTService is Readly,Will While(1)"]))
                for entry in read_entries(self.log):
                    self.assertEqual(entry[:5], ["4", "0", "0", "VTService", "VTService"])
                self.assertTrue(out.decode().startswith("Parameters:\n"))
                self.assertIn("CLASS_DEVICE_PROCESSOR\nCLASS_DEVICE_DISPLAY_ADAPTER\n"
                              "CLASS_DEVICE_MAINBOARD\n", out.decode())

    def stop(self, proc):
        proc.send_signal(signal.SIGTERM)
        proc.communicate(timeout=10)
        self.assertEqual(proc.returncode, 0)

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
        log = self.twsim({"cmd": "log"})[0]["log"]
        self.assertEqual([(e["call"], e["model"]) for e in log if not e.get("detached")],
                         [("hv230", "HV230"), ("RegisterKeyCallback", "HV230"),
                          ("SetKeyNotify", "HV230")])
        self.assertEqual(log[-1]["args"], [1])

        # A key press on the new headset reaches the event log.
        self.twsim({"cmd": "fire", "what": "headset", "model": "HV230", "code": 5})
        self.wait_messages(["HV230 mute press"])
        self.stop(proc)

    def vtctl(self, *args, check=True):
        r = subprocess.run([VTCTL, "--pipe", os.path.join(self.run_dir, "twvtservicepipe")] +
                           list(args), capture_output=True, timeout=20, text=True)
        if check:
            self.assertEqual(r.returncode, 0, r.stderr)
        return r

    def test_pipe_requests_on_one_connection(self):
        del self.env["TWSIM_SCENARIO"]
        proc = self.start()
        self.wait_messages(["VTService is Readly,Will While(1)", "CreateKB709"])
        r = self.vtctl("hello", "status", "enable", "status", "version", "Enable",
                       "fake_temp", "fake_step", "fake_step", "fake_step", "fake_step", "temp",
                       "getc", "getsysinfo", "rx420_control_off")
        self.assertEqual(r.stdout.splitlines(),
                         ["TW_OK", "off", "TW_OK", "on", "0.400000", "TW_FAIL", "TW_OK",
                          "TW_OK", "TW_OK", "TW_OK", "TW_OK", "90;90", "4;1;",
                          GETSYSINFO, "TW_OK"])
        calls = [e["call"] for e in self.twsim({"cmd": "log"})[0]["log"]]
        self.assertEqual(calls[-3:], ["GetEffectMode", "SetMusicPulse", "ControlOff"])

        # The road of one request: a JSON command, not yet handled by any
        # device command, is logged as unrecognised and answered TW_FAIL.
        before = len(self.messages())
        r = self.vtctl('{"mod":"kb709","func":"setSystemStatusEffect","param":{"type":3}}')
        self.assertEqual(r.stdout, "TW_FAIL\n")
        self.wait_messages(["TWservice PipeWorkerThread receiver error command"])
        self.assertEqual(self.messages()[before:],
                         ["TWservice PipeWorkerThread receiver error command"])

        # Framing: 200 bytes are two requests with two replies.
        r = self.vtctl("--raw", "x" * 127 + "hello" + "y" * 68)
        self.assertEqual(r.stdout, "TW_FAILTW_OK\n")
        self.stop(proc)

    def test_a_client_that_leaves_before_its_reply(self):
        proc = self.start()
        self.wait_messages(["VTService is Readly,Will While(1)"])
        path = os.path.join(self.run_dir, "twvtservicepipe")
        # The server serves one client at a time: while the first holds it,
        # the second writes and leaves; its reply then has nowhere to go.
        first = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        first.connect(path)
        first.sendall(b"hello")
        self.assertEqual(first.recv(64), b"TW_OK")
        second = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        second.connect(path)
        second.sendall(b"status")
        second.close()
        first.close()
        self.wait_messages(["TWservice PipeWorkerThread error send ??"])
        r = self.vtctl("hello")
        self.assertEqual(r.stdout, "TW_OK\n")
        errors = [e for e in read_entries(self.log) if e[5].endswith("error send ??")]
        self.assertEqual(len(errors), 1)
        self.assertEqual(errors[0][0], "1")
        self.stop(proc)

    def test_vtctl_without_a_service(self):
        r = self.vtctl("hello", check=False)
        self.assertEqual(r.returncode, 2)
        self.assertIn("cannot reach the service", r.stderr)

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

    def test_temperature_keywords_answer_the_readings_file(self):
        proc = self.start()
        self.wait_messages(["Core temp lib load good"])
        r = self.vtctl("temp", "getc", "getsysinfo")
        self.assertEqual(r.stdout.splitlines(), ["46;39;", "4;1;", GETSYSINFO])
        # Read afresh at every request; a count the values do not fill is
        # still the divisor, and an impossible GPU reading answers 0.
        self.write_readings(dict(READINGS, cpuTemps={"count": 4, "values": [50, 60, 0, 80]},
                                 gpuTemps=[101]))
        r = self.vtctl("temp", "getc")
        self.assertEqual(r.stdout.splitlines(), ["27;0;", "4;1;"])
        # No readings: the remembered CPU temperature and count.
        self.write_readings(dict(READINGS, cpuTemps=None, gpuTemps=None))
        r = self.vtctl("temp", "getc", "fake_temp", "temp")
        self.assertEqual(r.stdout.splitlines(), ["27;0;", "0;0;", "TW_OK", "100;100"])
        self.stop(proc)

    def lonely_service(self, *beside):
        """The service copied into a folder of its own with only `beside`."""
        folder = os.path.join(self.dir.name, "bin")
        os.makedirs(folder, exist_ok=True)
        exe = os.path.join(folder, "VTService")
        shutil.copy(EXE, exe)
        for name in beside:
            shutil.copy(os.path.join(os.path.dirname(EXE), name), folder)
        return folder, exe

    def test_without_the_sdk_the_temperature_keywords_answer_zeros(self):
        folder, exe = self.lonely_service("libtwlink.so", "libtw-core-temp.so")
        proc = self.start(exe)
        r = self.vtctl("temp", "getc", "getsysinfo")
        self.assertEqual(r.stdout.splitlines(),
                         ["0;0", "0;0", "0;0;0;0;0;0;0;0;0;0;0;0;0;0;0;"])
        self.stop(proc)
        entries = [e for e in read_entries(self.log) if e[5] == "LoadLibrary cpuidsdk failed"]
        self.assertEqual(len(entries), 1)
        self.assertEqual(entries[0][0], "1")  # an error entry
        # The temperature library is not even tried.
        self.assertNotIn("Core temp lib load good", self.messages())
        self.assertNotIn("Get the core temp .dll failed", self.messages())

    def test_a_failing_sdk_start_is_logged_and_answers_zeros(self):
        self.write_readings(dict(READINGS, sdk={"status": 2, "detail": 0x1F, "started": False}))
        proc = self.start()
        self.wait_messages(["Init cpuidsdk failed"])
        r = self.vtctl("temp")
        self.assertEqual(r.stdout, "0;0\n")
        self.stop(proc)
        msgs = self.messages()
        self.assertLess(msgs.index("Driver error 0x1F."), msgs.index("Init cpuidsdk failed"))

    @unittest.skipIf(os.path.exists("/sys/class/hwmon"),
                     "the stand-ins read this machine's own sensors instead of their files")
    def test_the_temperature_library_beside_the_service_wins_over_the_current_folder(self):
        # Each copy serves the readings file beside itself.
        del self.env["VTSENSORS_FILE"]
        folder, exe = self.lonely_service("libtwlink.so", "libcpuidsdk.so",
                                          "libtw-core-temp.so")
        self.write_readings(dict(READINGS, cpuTemps=[45], gpuTemps=[38]),
                            os.path.join(folder, "sensors.json"))
        cwd = os.path.join(self.dir.name, "cwd")
        os.makedirs(cwd)
        shutil.copy(os.path.join(os.path.dirname(EXE), "libtw-core-temp.so"), cwd)
        self.write_readings({"cpuTemps": [77]}, os.path.join(cwd, "sensors.json"))
        proc = self.start(exe, cwd=cwd)
        self.assertEqual(self.vtctl("temp").stdout, "45;38;\n")
        self.stop(proc)
        # Not beside the service: the relative name finds the other copy.
        os.remove(os.path.join(folder, "libtw-core-temp.so"))
        os.remove(self.log)
        proc = self.start(exe, cwd=cwd)
        self.assertEqual(self.vtctl("temp").stdout, "77;0;\n")
        self.stop(proc)

    def test_installer_options_point_at_the_unit_file(self):
        for option in ("-install", "/REMOVE", "-run"):
            r = subprocess.run([EXE, option], env=self.env, capture_output=True, timeout=10)
            self.assertEqual(r.returncode, 0)
            self.assertIn("packaging/vtservice.service", r.stdout.decode())
            self.assertEqual(r.stdout.decode().count("\n"), 1)
        r = subprocess.run([EXE, "-bogus"], env=self.env, capture_output=True, timeout=10)
        self.assertEqual((r.returncode, r.stdout, r.stderr), (0, b"", b""))
        self.assertEqual(self.messages(), [])


if __name__ == "__main__":
    EXE = sys.argv.pop(1)
    TWSIM = sys.argv.pop(1)
    VTCTL = sys.argv.pop(1)
    unittest.main(verbosity=2)
