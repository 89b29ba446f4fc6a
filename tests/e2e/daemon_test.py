#!/usr/bin/env python3
"""The native daemon alone: what only a Linux process shows (its signals,
its standard output, the processes it starts, a library missing beside it,
a stalled sensor SDK timed on the socket) and the harness the other native
end-to-end tests build on. What the service does on both systems is
behaviour_test.py's."""
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import time
import unittest

import targets
from targets import Native, wait_for


class DaemonHarness(unittest.TestCase):
    """A daemon of its own per test (targets.Native), started with the
    simulator's empty scenario and no job file unless a test says else."""

    def setUp(self):
        self.native = Native(self)
        n = self.native
        self.dir, self.log, self.control = n.dir, n.log, n.control
        self.data_dir, self.readings, self.env = n.data_dir, n.readings, n.env
        self.sanitizers, self.run_dir = n.sanitizers, os.path.dirname(n.pipe)
        os.remove(os.path.join(self.data_dir, "tw_service.cfg"))  # the OLED job starts disabled
        self.empty = os.path.join(self.dir.name, "empty.json")
        with open(self.empty, "w") as f:
            f.write('{"devices": []}')
        self.env["TWSIM_SCENARIO"] = self.empty

    def messages(self):
        return self.native.messages()

    def twsim(self, *requests):
        return self.native.twsim(*requests)

    def wait_messages(self, wanted, timeout=10):
        ok = wait_for(lambda: all(w in self.messages() for w in wanted), timeout)
        self.assertTrue(ok, f"missing {wanted} in {self.messages()}")

    def start(self, exe=None, cwd=None):
        self.native.data_dir = self.data_dir  # a test may have moved it
        return self.native.start(exe, cwd, stdout=subprocess.PIPE)

    def vtctl(self, *args, check=True):
        r = self.native.vtctl(*args)
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
                self.assertTrue(out.decode().startswith("Parameters:\n"))
                self.assertIn("CLASS_DEVICE_PROCESSOR\nCLASS_DEVICE_DISPLAY_ADAPTER\n"
                              "CLASS_DEVICE_MAINBOARD\n", out.decode())

    def calls(self, name):
        return [e["args"] for e in self.twsim({"cmd": "log"})[0]["log"] if e["call"] == name]

    def test_the_screen_saver_reaches_the_cooler(self):
        del self.env["TWSIM_SCENARIO"]  # the default scenario's LQ120 follows the saver
        proc = self.start()
        self.wait_messages(["CreateLQ120"])
        # The screen saver: SIGUSR1 starts, SIGUSR2 stops. (Which calls the
        # cooler makes for each, and the user's switch, are the cooler's and
        # the service's unit tests'; here the daemon's signals reach them.)
        self.twsim({"cmd": "clearLog"})
        proc.send_signal(signal.SIGUSR1)
        self.assertTrue(wait_for(lambda: self.calls("SetSaverSwitchB") == [[0]], 10))
        proc.send_signal(signal.SIGUSR2)
        self.assertTrue(wait_for(lambda: self.calls("SetSaverSwitchB") == [[0], [1]], 10))

    def write_readings(self, **extra):
        targets.write_readings(self.readings, **extra)

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
        self.native.stop()

    def test_missing_library_runs_on_without_devices(self):
        exe = os.path.join(self.dir.name, "VTService")
        shutil.copy(Native.programs["VTService"], exe)  # alone: no libtwlink.so beside it
        proc = self.start(exe)
        self.native.stop()
        msgs = self.messages()
        self.assertEqual(msgs[:2], ["TWService in OnStart",
                                    "Load libtwlink.so failed w/err 0x0000007e"])
        # The pipe and the stop watch run all the same.
        for m in ["TWservice ServiceWorkerThread", "VTService is Readly,Will While(1)",
                  "TWservice in OnStop"]:
            self.assertIn(m, msgs)

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
        self.native.stop()


if __name__ == "__main__":
    for name in ("VTService", "twsim", "vtctl"):
        Native.programs[name] = sys.argv.pop(1)
    unittest.main(verbosity=2)
