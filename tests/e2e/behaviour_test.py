#!/usr/bin/env python3
"""What the service does for its users, checked the same way on Linux and on
Windows: start-up, the pipe, the road of a request to a device, hot-plug,
the readings, the panel, the OLED mouse, clients that hold the pipe, and a
device library that crashes or never returns.

  behaviour_test.py native VTService twsim vtctl [unittest args]
  behaviour_test.py wine [unittest args]    (from tests/wine/wine_service_test.sh)

The tests of a class run in the order they are written: under Wine they
share one running service, and the golden frames are its first cycle's."""
import os
import sys
import time
import unittest

import targets
from targets import golden_frames, wait_for

TARGET = None
KB709_EFFECT = '{"mod":"kb709","func":"setSystemStatusEffect","param":{"type":3}}'
CREATED = ["CreateKB709", "CreateKB709Dongle", "CreateHV230", "CreateRX420", "CreateLQ120",
           "CreateCS900"]
GETSYSINFO = ("3500.000000;1250;1.250000;46;12;1410.500000;1100;0.875000;39;4;"
              "1250;790;0;0;0;")


class WrittenOrder(unittest.TestLoader):
    def getTestCaseNames(self, cls):
        names = super().getTestCaseNames(cls)
        return sorted(names, key=lambda n: getattr(cls, n).__code__.co_firstlineno)


class Behaviour(unittest.TestCase):
    def setUp(self):
        self.target = TARGET(self)
        self.target.start()

    def ask(self, *args):
        r = self.target.vtctl(*args)
        self.assertEqual(r.returncode, 0, r.stderr)
        return r.stdout.splitlines()

    def twsim(self, *requests):
        return self.target.twsim(*requests)

    def log(self, model=None):
        return [e for e in self.twsim({"cmd": "log"})[0]["log"]
                if model is None or e["model"] == model]

    def wait_messages(self, wanted, timeout=10):
        ok = wait_for(lambda: all(w in self.target.messages() for w in wanted), timeout)
        self.assertTrue(ok, f"missing {wanted} in {self.target.messages()}")


class Serving(Behaviour):
    def test_start_up_finds_the_devices_before_it_serves(self):
        self.wait_messages(CREATED)
        msgs = self.target.messages()
        self.assertEqual(msgs[0], "TWService in OnStart")
        self.assertLess(max(msgs.index(c) for c in CREATED),
                        msgs.index("TWservice ServiceWorkerThread"))

    def test_the_job_file_paints_the_golden_frames(self):
        expected = golden_frames("default_mouse")
        self.assertEqual(len(expected), 5)  # PROFILE1, DPI, custom, picture, APM
        names = [f"frame-{i:04d}.txt" for i in range(1, 6)]
        paths = [os.path.join(self.target.frames_dir, n) for n in names]
        # One screen a second; a frame's text is whole once the next exists.
        last = os.path.join(self.target.frames_dir, "frame-0006.txt")
        self.assertTrue(wait_for(lambda: os.path.exists(last), 30),
                        f"frames: {os.listdir(self.target.frames_dir)}")
        for i, path in enumerate(paths):
            with open(path) as f:
                self.assertEqual(f.read(), expected[i], f"frame {i + 1} differs")
        self.assertEqual(self.twsim({"cmd": "frames"})[0]["frameId"], 0xF1)
        # The scratch bitmap is in the service's own folder, never a file of
        # the shared data folder.
        data = self.target.data_dir
        self.assertTrue(os.path.isfile(os.path.join(data, "service_dmp", "oled.bmp")))
        shared = os.path.join(data, "oled.bmp")
        self.assertFalse(os.path.isfile(shared) and not os.path.islink(shared))
        self.assertNotIn("Stop painting", self.target.messages())

    def test_pipe_keywords_on_one_connection(self):
        # The job file enables the OLED job at start.
        self.assertEqual(self.ask("hello", "status", "disable", "status", "enable", "status",
                                  "version", "Enable", "rx420_control_off"),
                         ["TW_OK", "on", "TW_OK", "off", "TW_OK", "on", "0.400000", "TW_FAIL",
                          "TW_OK"])
        calls = [e["call"] for e in self.log("RX420")]
        self.assertEqual(calls[-3:], ["GetEffectMode", "SetMusicPulse", "ControlOff"])
        # Framing, which each system's pipe does its own way: 200 bytes are
        # two requests with two replies.
        self.assertEqual(self.ask("--raw", "x" * 127 + "hello" + "y" * 68), ["TW_FAILTW_OK"])

    def test_the_road_of_a_json_request_to_a_device(self):
        # The JSON stage reaches the keyboard and answers TW_OK; the text
        # table then finds no keyword and logs it (only new entries count,
        # and only the pipe's: the OLED job and the panel write meanwhile).
        before = len(self.target.messages())
        self.twsim({"cmd": "clearLog"})
        self.assertEqual(self.ask(KB709_EFFECT), ["TW_OK"])
        error = "TWservice PipeWorkerThread receiver error command"
        self.wait_messages([error])
        self.assertEqual([m for m in self.target.messages()[before:] if "PipeWorkerThread" in m],
                         [error])
        self.assertEqual([(e["call"], e["model"], e["args"]) for e in self.log()
                          if e["model"].startswith("KB")],
                         [("SetSystemStatusEffect", "KB709", [3, 0])])
        # A case panel command gets the panel's own reply text.
        self.assertEqual(self.ask('{"mod":"cs900","func":"GetVersion","param":"all"}',
                                  '{"mod":"cs900","func":"NoSuchThing","param":"all"}'),
                         ["1.0.0", "TW_FAIL"])

    def test_hot_plug(self):
        self.twsim({"cmd": "clearLog"}, {"cmd": "detach", "model": "HV230"})
        self.wait_messages(["del HV230"])
        self.twsim({"cmd": "attach", "device": {"model": "HV230"}})
        self.wait_messages(["CreateHV230 "])
        # A key press on the new headset reaches the event log. (The events
        # and calls of a headset's arrival are the device layer's unit tests'.)
        self.twsim({"cmd": "fire", "what": "headset", "model": "HV230", "code": 5})
        self.wait_messages(["HV230 mute press"])

    def test_the_library_s_system_readings_reach_the_cooler(self):
        self.twsim({"cmd": "clearLog"}, {"cmd": "setSystem", "systemInfo": {"cpuTemperature": 61}},
                   {"cmd": "fire", "what": "systemInfo"})
        sent = [e["args"][0]["cpuTemperature"] for e in self.log("LQ120")
                if e["call"] == "SendSystemInfo"]
        self.assertEqual(sent, [61])

    def test_the_panel_in_mode_7_gets_the_system_value(self):
        self.twsim({"cmd": "clearLog"})
        sends = lambda: [e for e in self.log("CS900") if e["call"] == "SendPanelData"]
        self.assertTrue(wait_for(sends, 5), "no SendPanelData")
        self.assertEqual(sends()[0]["args"], [0, 0, 42])  # the scenario's system value
        # Outside the latency modes nothing is measured.
        self.assertNotIn("GetPingTarget", [e["call"] for e in self.log()])

    def test_temperatures_and_system_information_from_the_sensors(self):
        self.wait_messages(["Core temp lib load good"])
        self.assertTrue(wait_for(lambda: self.ask("temp") == ["46;39;"], 10))
        self.assertEqual(self.ask("getc", "getsysinfo"), ["4;1;", GETSYSINFO])

    def test_clients_that_hold_the_pipe_delay_nobody(self):
        holders = [self.target.hold(mode) for mode in self.target.holder_modes]
        time.sleep(1)  # the replies to the slow client pile up meanwhile
        self.assertEqual(self.ask("--timeout", "100", "hello", "status"), ["TW_OK", "on"])
        for h in holders:
            h.release()
        # Eight clients are kept; a ninth pushes out the one idle the longest.
        eight = self.target.hold("eight")
        self.assertEqual(self.ask("--timeout", "100", "hello"), ["TW_OK"])
        self.assertEqual(eight.release(), ["holding", "1:closed"] +
                         [f"{i}:open" for i in range(2, 9)])


class Ending(Behaviour):
    """A device call that never returns, and faults inside the device
    library: the RX420's ControlOff, asked for through the pipe."""

    def block_control_off(self):
        """Back once the call is under way in the library (which logs a call
        as it enters it), so a test that waits for its end knows it began."""
        self.wait_messages(["CreateRX420"])
        self.twsim({"cmd": "clearLog"},
                   {"cmd": "set", "model": "RX420", "state": {"blockOn": "ControlOff"}})
        r = self.target.vtctl("--timeout", "1000", "rx420_control_off")
        calls = lambda: [e["call"] for e in self.log("RX420")]
        self.assertTrue(wait_for(lambda: "ControlOff" in calls(), 5),
                        f"vtctl: {r.stderr!r}, RX420 calls: {calls()}")

    def new_report(self, before, kind):
        # (A report of the same minute as an earlier one takes its name.)
        found = [r for r in self.target.reports() if r not in before]
        self.assertEqual(len(found), 1, found)
        self.target.check_report(kind, *found[0])

    def test_a_stop_ends_while_a_device_call_never_returns(self):
        self.block_control_off()
        self.assertLess(self.target.stop(), 10.0)
        self.assertEqual(self.target.messages()[-1], "TWservice in OnStop")

    def crash_through_the_library(self, fault):
        self.wait_messages(["CreateRX420"])
        before = self.target.reports()
        self.twsim({"cmd": "set", "model": "RX420", "state": {fault: "ControlOff"}})
        t0 = time.monotonic()
        self.target.vtctl("rx420_control_off")
        # The crash hook's ten seconds.
        self.assertTrue(wait_for(lambda: not self.target.alive(), 10 + self.target.slack))
        print(f"\n{fault}: the process ended in {time.monotonic() - t0:.1f} s", file=sys.stderr)
        self.target.crashed()
        self.new_report(before, "crash")

    def test_a_fault_in_the_library_leaves_a_report(self):
        self.crash_through_the_library("faultOn")

    def test_a_stack_overflow_in_the_library_leaves_a_report(self):
        # The handler runs on a stack of its own: the thread's is used up.
        self.crash_through_the_library("overflowOn")

    def test_a_device_call_that_never_returns_ends_the_service_with_a_report(self):
        before = self.target.reports()
        t0 = time.monotonic()
        self.block_control_off()
        hang = "TWservice hang in RX420 GetEffectMode/SetMusicPulse/ControlOff on vt-pipe"
        self.assertTrue(wait_for(lambda: hang in self.target.messages(), 35 + self.target.slack),
                        f"entries: {self.target.messages()}")
        seen = time.monotonic() - t0
        self.assertTrue(wait_for(lambda: not self.target.alive(), self.target.hang_dump_bound))
        print(f"\nthe hang was seen at {seen:.1f} s, the process ended at "
              f"{time.monotonic() - t0:.1f} s", file=sys.stderr)
        self.target.hung()
        self.assertEqual([e for e in self.target.entries() if "hang" in e[1]], [(True, hang)])
        self.new_report(before, "hang")


if __name__ == "__main__":
    kind = sys.argv.pop(1)
    if kind == "native":
        TARGET = targets.Native
        for name in ("VTService", "twsim", "vtctl"):
            TARGET.programs[name] = sys.argv.pop(1)
    else:
        TARGET = targets.Wine
    unittest.main(verbosity=2, testLoader=WrittenOrder())
