#!/usr/bin/env python3
"""The native daemon's socket under pressure only a Linux process meets: a
name held by someone else is served once it is free, and stops under load
end everything in time with nothing running on afterwards. (Clients that
hold the pipe are behaviour_test.py's, on both systems.)

  pipe_clients_test.py VTService twsim vtctl libvt_hold_exit.so
"""
import json
import os
import signal
import socket
import subprocess
import sys
import threading
import time
import unittest

from daemon_test import DaemonHarness
from targets import Native, read_entries
from sanitizers import assert_clean, reports

HOLD_EXIT = None


def connect(path, timeout=5.0):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.settimeout(timeout)
    try:
        s.connect(path)
    except OSError:
        s.close()
        raise
    return s


class PipeClients(DaemonHarness):

    def pipe(self):
        return os.path.join(self.run_dir, "twvtservicepipe")

    def test_a_name_held_elsewhere_is_served_once_free(self):
        os.makedirs(self.run_dir)
        squatter = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        squatter.bind(self.pipe())
        squatter.listen(1)
        proc = subprocess.Popen([*Native.run, Native.programs["VTService"]], env=self.env,
                                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        invalid = "TWservice PipeWorkerThread Invalid handle"
        self.wait_messages([invalid])
        # Retried every two seconds: still one entry after another try.
        time.sleep(2.5)
        self.assertEqual(self.messages().count(invalid), 1)
        self.assertEqual([e[0] for e in read_entries(self.log) if e[5] == invalid], ["1"])
        self.assertNotIn("VTService is Readly,Will While(1)", self.messages())
        squatter.close()  # its socket file stays behind, as after a crash
        self.wait_messages(["VTService is Readly,Will While(1)"], timeout=5)
        self.assertEqual(self.vtctl("hello").stdout, "TW_OK\n")
        proc.send_signal(signal.SIGTERM)
        _, err = proc.communicate(timeout=10)
        assert_clean(self, err)
        self.assertEqual(proc.returncode, 0, err.decode(errors="replace")[-2000:])

    def test_stops_under_load_end_everything_in_time(self):
        """Twenty stops while a client hammers requests and devices come and
        go; some of them while a device's creation sits in its pause before
        the second attempt. The process is held after the service object is
        gone, so anything still running would be caught touching it."""
        del self.env["TWSIM_SCENARIO"]
        mark = os.path.join(self.dir.name, "exit-mark")
        self.env.update(LD_PRELOAD=HOLD_EXIT, VT_HOLD_EXIT_MARK=mark,
                        ASAN_OPTIONS=self.env["ASAN_OPTIONS"] + ":verify_asan_link_order=0")
        stops = []
        for round_ in range(20):
            self.quiet = threading.Event()
            with self.subTest(round=round_):
                in_pause = round_ % 5 == 4
                # Long enough to cover what a creation's pause would have left.
                hold_ms = 2000 if in_pause else 300
                self.env["VT_HOLD_EXIT_MS"] = str(hold_ms)
                for stale in (self.log, mark):
                    if os.path.exists(stale):
                        os.remove(stale)
                proc = self.start()
                done = threading.Event()
                threads = [threading.Thread(target=self.hammer, args=(done,)),
                           threading.Thread(target=self.plug, args=(done, in_pause))]
                for t in threads:
                    t.start()
                time.sleep(0.3 + 0.05 * (round_ % 4))
                # No new request to the simulator from here: its own control
                # threads do not outlive the process's exit (only the one
                # in flight, usually an attach inside its pause, runs on).
                self.quiet.set()
                stop_at = time.time()
                proc.send_signal(signal.SIGTERM)
                try:
                    proc.communicate(timeout=15)
                finally:
                    done.set()
                    for t in threads:
                        t.join()
                # Standard error went to the sanitizer folder (see start()).
                found = reports(self.sanitizers)
                self.assertEqual(found, [], found[0][:3000] if found else "")
                self.assertEqual(proc.returncode, 0)
                self.assertTrue(os.path.exists(mark))
                stops.append(os.stat(mark).st_mtime - stop_at)
                self.assertLess(stops[-1], 3.0)
        print(f"\n{len(stops)} stops: longest {max(stops):.2f} s, "
              f"mean {sum(stops) / len(stops):.2f} s", file=sys.stderr)

    def hammer(self, done):
        requests = [b"enable", b"hello", b"disable",
                    b'{"mod":"kb709","func":"setSystemStatusEffect","param":{"type":3}}',
                    b'{"mod":"cs900","func":"GetVersion","param":"all"}', b"status"]
        while not done.is_set():
            try:
                with connect(self.pipe(), timeout=2) as s:
                    for i in range(1000):
                        s.sendall(requests[i % len(requests)])
                        if not s.recv(64) or done.is_set():
                            break
            except OSError:
                time.sleep(0.01)  # the service is starting or gone

    def plug(self, done, in_pause):
        """Detaches and re-attaches the HV230 in a loop; with `in_pause` its
        factory first fails once, so the creation waits before retrying."""
        model = {"model": "HV230"}
        if in_pause:
            model["state"] = {"failFactory": 1}
        while not self.quiet.is_set():
            for request in ({"cmd": "detach", "model": "HV230"},
                            {"cmd": "attach", "device": model}):
                if self.quiet.is_set():
                    return
                try:
                    subprocess.run([*Native.run, Native.programs["twsim"], "--endpoint", self.control,
                                    json.dumps(request)], capture_output=True, timeout=20)
                except subprocess.TimeoutExpired:
                    pass  # the service stopped under it


if __name__ == "__main__":
    for name in ("VTService", "twsim", "vtctl"):
        Native.programs[name] = sys.argv.pop(1)
    HOLD_EXIT = sys.argv.pop(1)
    unittest.main(verbosity=2)
