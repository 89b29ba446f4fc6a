#!/usr/bin/env python3
"""The native daemon against an ordinary local user who can write to its
data folder, as on Windows any user can write to the product's folder in
ProgramData. Every step of the attacker runs as the unprivileged user 65534
(setpriv); the daemon runs as root. Whatever the user plants, the daemon
writes through no link, leaves root's files as they were, loads no library
from the user's folder and keeps running, in a few MiB, on any input file."""
import json
import os
import signal
import stat
import subprocess
import sys
import time
import unittest

from daemon_test import DaemonHarness
from targets import Native, read_entries, wait_for

NOBODY = 65534
SANITIZED = os.environ.get("VT_SANITIZED") == "1"
MIB = 1024 * 1024


def peak_rss(pid):
    """The process's peak resident size so far, in bytes."""
    with open(f"/proc/{pid}/status") as f:
        for line in f:
            if line.startswith("VmHWM:"):
                return int(line.split()[1]) * 1024
    raise AssertionError("no VmHWM")


class HostileFiles(DaemonHarness):
    def setUp(self):
        super().setUp()
        if os.geteuid() != 0:
            self.skipTest("the attacker's steps run as user 65534 and the daemon as root: "
                          "run as root to switch users")
        # The user may enter the test's folder, and owns the data folder (the
        # desktop application may have made it): under a parent of root's
        # that is no way in.
        os.chmod(self.dir.name, 0o755)
        os.chmod(self.data_dir, 0o777)
        os.chown(self.data_dir, NOBODY, NOBODY)
        # What the user must never reach through the daemon: a file of
        # root's, and a folder only root may write to.
        self.target = os.path.join(self.dir.name, "precious")
        with open(self.target, "w") as f:
            f.write("root's own file\n")
        self.vault = os.path.join(self.dir.name, "vault")
        os.mkdir(self.vault, 0o700)
        self.before = self.fingerprint()

    def fingerprint(self):
        info = os.stat(self.target)
        with open(self.target) as f:
            return f.read(), info.st_mtime_ns, info.st_ino, sorted(os.listdir(self.vault))

    def assert_nothing_reached(self):
        self.assertEqual(self.fingerprint(), self.before)

    def as_user(self, *command):
        r = subprocess.run(["setpriv", f"--reuid={NOBODY}", f"--regid={NOBODY}",
                            "--clear-groups", *command], capture_output=True, text=True,
                           timeout=60)
        self.assertEqual(r.returncode, 0, f"{command}: {r.stderr}")

    def data(self, *names):
        return os.path.join(self.data_dir, *names)

    def scenario(self, *devices):
        path = os.path.join(self.dir.name, "scenario.json")
        with open(path, "w") as f:
            json.dump({"devices": list(devices)}, f)
        self.env["TWSIM_SCENARIO"] = path

    def assert_service_folder(self, path):
        info = os.lstat(path)
        self.assertTrue(stat.S_ISDIR(info.st_mode), path)
        self.assertEqual((info.st_uid, stat.S_IMODE(info.st_mode)), (0, 0o700), path)

    def swap_service_folder(self):
        """While the daemon runs: its folder renamed away, a link to root's
        folder in its place."""
        self.as_user("mv", self.data("service_dmp"), self.data("moved"))
        self.as_user("ln", "-s", self.vault, self.data("service_dmp"))

    def aside(self):
        """The one name the daemon set its folder's former occupant aside to."""
        names = [n for n in os.listdir(self.data_dir) if n.startswith("service_dmp.aside-")]
        self.assertEqual(len(names), 1, names)
        return self.data(names[0])

    def crash(self, proc):
        """A fault inside the device library, through the RX420's ControlOff."""
        self.twsim({"cmd": "set", "model": "RX420", "state": {"faultOn": "ControlOff"}})
        self.vtctl("rx420_control_off", check=False)
        proc.communicate(timeout=15)
        self.assertEqual(proc.returncode, -signal.SIGSEGV)

    def frames(self):
        return self.twsim({"cmd": "frames"})[0]

    def test_text_screens_write_through_no_planted_link(self):
        self.scenario({"model": "RX410", "state": {"profile": 1}})
        with open(self.data("tw_service.cfg"), "w") as f:
            json.dump({"enable": True, "p1": {"cycle_order": [0], "duration": 1}}, f)
        # Links where the scratch bitmap used to be and where the service's
        # folder is made.
        self.as_user("ln", "-s", self.target, self.data("oled.bmp"))
        self.as_user("ln", "-s", self.vault, self.data("service_dmp"))
        proc = self.start()
        self.wait_messages(["Found RX410"])
        self.assertTrue(wait_for(lambda: self.frames()["count"] >= 1, 10))
        self.assertIn("1", self.frames()["pixels"])  # the text went through a bitmap
        # The planted link was set aside as it was, a new folder made.
        self.assertEqual(os.readlink(self.aside()), self.vault)
        self.assert_service_folder(self.data("service_dmp"))
        self.assertTrue(os.path.isfile(self.data("service_dmp", "oled.bmp")))
        self.assertEqual(os.readlink(self.data("oled.bmp")), self.target)

        self.swap_service_folder()
        count = self.frames()["count"]
        self.assertTrue(wait_for(lambda: self.frames()["count"] >= count + 2, 10))
        self.assertIn("1", self.frames()["pixels"])
        self.native.stop()
        self.assert_nothing_reached()
        self.assertTrue(os.path.isfile(self.data("moved", "oled.bmp")))

    def test_a_crash_writes_its_report_through_no_planted_link(self):
        self.scenario({"model": "RX420"})
        # The user's own service_dmp, with links under the report names of
        # the next few minutes.
        self.as_user("mkdir", self.data("service_dmp"))
        now = time.time()
        for minute in range(3):
            t = time.localtime(now + 60 * minute)
            name = f"{t.tm_year}{t.tm_mon}{t.tm_mday}{t.tm_hour}{t.tm_min}.txt"
            self.as_user("ln", "-s", self.target, self.data("service_dmp", name))
        proc = self.start()
        self.wait_messages(["CreateRX420"])
        aside = self.aside()
        self.assertEqual(os.lstat(aside).st_uid, NOBODY)
        self.assert_service_folder(self.data("service_dmp"))

        self.swap_service_folder()
        self.crash(proc)
        self.assert_nothing_reached()
        self.assertEqual(len(os.listdir(aside)), 3)
        reports = os.listdir(self.data("moved"))
        self.assertEqual(len(reports), 1, reports)
        info = os.lstat(self.data("moved", reports[0]))
        self.assertTrue(stat.S_ISREG(info.st_mode))
        self.assertEqual((info.st_uid, stat.S_IMODE(info.st_mode)), (0, 0o600))

    def use_data_folder(self, path):
        self.data_dir = path
        self.env["VTSERVICE_DATA_DIR"] = path

    def assert_pipe_answers(self):
        self.assertEqual(self.vtctl("status").stdout, "off\n")

    def test_nothing_is_made_below_a_parent_the_user_owns(self):
        # As a user can make the product's folder in ProgramData before it
        # is installed: the parent is the user's, the data folder in it too.
        parent = os.path.join(self.dir.name, "tarnwick")
        os.mkdir(parent, 0o755)
        os.chown(parent, NOBODY, NOBODY)
        self.use_data_folder(os.path.join(parent, "veltrace"))
        self.as_user("mkdir", self.data_dir)
        with open(os.path.join(self.dir.name, "job.cfg"), "w") as f:
            json.dump({"enable": True}, f)
        self.as_user("cp", os.path.join(self.dir.name, "job.cfg"), self.data("tw_service.cfg"))
        proc = self.start()
        self.assert_pipe_answers()
        self.vtctl("enable")
        self.wait_messages(["tw_service.cfg is in a folder others may redirect, not read"])
        self.assertEqual(os.listdir(parent), ["veltrace"])
        self.assertEqual(os.listdir(self.data_dir), ["tw_service.cfg"])
        self.native.stop()
        self.assertEqual(self.messages().count("Prepare service_dmp failed w/err 0x00000001"), 1)

    def test_a_data_folder_replaced_by_a_link_is_not_used_even_by_a_crash(self):
        # A folder everyone may add to (sticky, as /tmp), where the user put
        # a link to root's folder at the data folder's name.
        shared = os.path.join(self.dir.name, "shared")
        os.mkdir(shared)
        os.chmod(shared, 0o1777)
        os.mkdir(os.path.join(self.vault, "service_dmp"), 0o700)
        with open(os.path.join(self.vault, "file"), "w") as f:
            f.write("root's\n")
        self.before = self.fingerprint()
        self.use_data_folder(os.path.join(shared, "veltrace"))
        self.as_user("ln", "-s", self.vault, self.data_dir)
        self.scenario({"model": "RX420"})
        proc = self.start()
        self.wait_messages(["CreateRX420", "Prepare service_dmp failed w/err 0x00000028"])
        self.assert_pipe_answers()
        self.crash(proc)
        self.assert_nothing_reached()
        self.assertEqual(os.listdir(os.path.join(self.vault, "service_dmp")), [])

    def test_oversized_and_linked_input_files_are_refused_in_a_few_mib(self):
        self.scenario({"model": "RX410", "state": {"profile": 1}},
                      {"model": "CS900", "state": {"panelMode": 19}})
        settings = os.path.join(self.dir.name, "root.ini")
        with open(settings, "w") as f:
            f.write("[CS900_MODE_19]\nvalue=123\n")
        proc = self.start()
        self.wait_messages(["Disable job"])
        self.assertTrue(wait_for(lambda: self.panel_sends(), 10))
        baseline = peak_rss(proc.pid)

        # A 100 MB job file of valid JSON and a settings file that is a link.
        self.as_user(sys.executable, "-c",
                     "import sys; f = open(sys.argv[1], 'w'); "
                     "f.write('{\"enable\": true, \"p1\": {\"cycle_order\": [' + '0,' * 50000000 "
                     "+ '0]}}')", self.data("tw_service.cfg"))
        self.assertGreater(os.path.getsize(self.data("tw_service.cfg")), 100_000_000)
        self.as_user("ln", "-s", settings, self.data("localdevice.ini"))
        self.wait_messages(["localdevice.ini is a link or not a regular file, not read"])
        self.vtctl("enable")
        self.wait_messages(["tw_service.cfg is too large, not read"])
        self.assertTrue(wait_for(
            lambda: self.messages().count("Can not open tw_service.cfg") == 3, 10))
        # Then a 2 MB settings file.
        self.as_user("rm", self.data("localdevice.ini"))
        self.as_user(sys.executable, "-c",
                     "import sys; f = open(sys.argv[1], 'w'); "
                     "f.write('[CS900_MODE_19]\\nvalue=7\\n' + ';' * 2000000)",
                     self.data("localdevice.ini"))
        self.wait_messages(["localdevice.ini is too large, not read"])
        sends = len(self.panel_sends())
        self.assertTrue(wait_for(lambda: len(self.panel_sends()) >= sends + 2, 10))

        self.assertIsNone(proc.poll())
        self.assertEqual(self.vtctl("status").stdout, "off\n")
        self.assertEqual({tuple(s) for s in self.panel_sends()}, {(0, 0, 0)})
        entries = [e for e in read_entries(self.log) if "not read" in e[5]]
        self.assertEqual([(e[0], e[5]) for e in entries],
                         [("1", "localdevice.ini is a link or not a regular file, not read"),
                          ("1", "tw_service.cfg is too large, not read"),
                          ("1", "localdevice.ini is too large, not read")])
        peak = peak_rss(proc.pid)
        print(f"peak RSS {peak / MIB:.1f} MiB, {(peak - baseline) / MIB:.2f} MiB above the "
              f"peak before the files came", file=sys.stderr)
        self.assertLess(peak - baseline, 4 * MIB)
        if not SANITIZED:
            self.assertLess(peak, 20 * MIB)
        self.native.stop()

    def panel_sends(self):
        return [e["args"] for e in self.twsim({"cmd": "log"})[0]["log"]
                if e["call"] == "SendPanelData"]

    def test_no_library_from_the_current_folder(self):
        # The service alone in root's folder, started by hand from a folder
        # the user can write to, where the user put a temperature library.
        folder = os.path.join(self.dir.name, "bin")
        os.makedirs(folder)
        exe = os.path.join(folder, "VTService")
        built = os.path.dirname(Native.programs["VTService"])
        for name in ("VTService", "libtwlink.so", "libcpuidsdk.so"):
            subprocess.run(["cp", os.path.join(built, name), folder], check=True)
        cwd = self.data("work")
        self.as_user("mkdir", cwd)
        self.as_user("cp", os.path.join(built, "libtw-core-temp.so"), cwd)
        proc = self.start(exe, cwd=cwd)
        self.wait_messages(["VTService is Readly,Will While(1)"])
        self.native.stop()
        self.assertIn("Get the core temp .dll failed", self.messages())
        self.assertNotIn("Core temp lib load good", self.messages())


if __name__ == "__main__":
    for name in ("VTService", "twsim", "vtctl"):
        Native.programs[name] = sys.argv.pop(1)
    unittest.main(verbosity=2)
