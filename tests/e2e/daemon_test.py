#!/usr/bin/env python3
"""The native daemon end to end: it starts in the foreground, writes its
entries, answers SIGTERM within the stop watch's period and exits 0; the
installer options point at the unit file."""
import os
import signal
import subprocess
import sys
import tempfile
import time
import unittest

EXE = None


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
        self.env = dict(os.environ, VTSERVICE_EVENTLOG_FILE=self.log)

    def tearDown(self):
        self.dir.cleanup()

    def messages(self):
        return [e[5] for e in read_entries(self.log)]

    def start(self):
        proc = subprocess.Popen([EXE], env=self.env, stdout=subprocess.PIPE,
                                stderr=subprocess.PIPE)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        ok = wait_for(lambda: "TWservice ServiceWorkerThread" in self.messages(), 10)
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
                self.assertEqual(self.messages(), ["TWService in OnStart",
                                                   "TWservice ServiceWorkerThread",
                                                   "TWservice in OnStop"])
                for entry in read_entries(self.log):
                    self.assertEqual(entry[:5], ["4", "0", "0", "VTService", "VTService"])
                self.assertTrue(out.decode().startswith("Parameters:\n"))

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
    unittest.main(verbosity=2)
