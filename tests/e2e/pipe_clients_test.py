#!/usr/bin/env python3
"""The native daemon's pipe with several clients: silent, slow and greedy
clients delay nobody, a ninth client pushes out the idlest, a name held by
someone else is served once it is free, and stops under load end everything
in time with nothing running on afterwards.

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

import daemon_test
from daemon_test import DaemonHarness, read_entries, wait_for
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


def round_trip(path, request=b"hello"):
    """Seconds from sending a request on a fresh connection to its reply."""
    with connect(path) as s:
        t0 = time.monotonic()
        s.sendall(request)
        reply = s.recv(64)
        return time.monotonic() - t0, reply


class PipeClients(DaemonHarness):

    def pipe(self):
        return os.path.join(self.run_dir, "twvtservicepipe")

    def as_nobody(self, code):
        """A client program run as an unprivileged local user, as an attacker
        would run it; it prints one line once it holds the pipe."""
        if os.geteuid() != 0:
            self.skipTest("needs root to act as an unprivileged user")
        os.chmod(self.dir.name, 0o755)  # the socket itself is 0666
        proc = subprocess.Popen(
            ["setpriv", "--reuid=65534", "--regid=65534", "--clear-groups",
             sys.executable, "-c", code, self.pipe()],
            stdin=subprocess.PIPE, stdout=subprocess.PIPE, text=True)
        self.addCleanup(lambda: proc.poll() is None and proc.kill())
        self.assertEqual(proc.stdout.readline(), "holding\n")
        return proc

    def test_clients_that_hold_the_pipe_delay_nobody(self):
        proc = self.start()
        # Connects and never writes.
        self.as_nobody("import socket, sys\n"
                       "s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1])\n"
                       "print('holding', flush=True); sys.stdin.read()")
        # Writes a request a byte at a time, never reading a reply.
        self.as_nobody("import socket, sys, time\n"
                       "s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1])\n"
                       "s.send(b'h'); print('holding', flush=True)\n"
                       "while True:\n"
                       "    time.sleep(0.05); s.send(b'e')\n")
        # Sends requests as fast as it can and never reads the replies, until
        # its socket is full both ways.
        self.as_nobody("import socket, sys\n"
                       "s = socket.socket(socket.AF_UNIX); s.connect(sys.argv[1])\n"
                       "s.send(b'status'); print('holding', flush=True)\n"
                       "while True:\n"
                       "    s.send(b'status')\n")
        worst = 0.0
        for _ in range(5):
            took, reply = round_trip(self.pipe())
            self.assertEqual(reply, b"TW_OK")
            worst = max(worst, took)
        self.assertLess(worst, 0.1, f"slowest reply {worst * 1000:.1f} ms")
        r = self.vtctl("--timeout", "100", "hello", "status")
        self.assertEqual(r.stdout, "TW_OK\noff\n")
        self.stop(proc)

    def test_a_ninth_client_pushes_out_the_one_idle_the_longest(self):
        proc = self.start()
        clients = []
        for _ in range(8):
            s = connect(self.pipe())
            s.sendall(b"hello")
            self.assertEqual(s.recv(64), b"TW_OK")
            clients.append(s)
        r = self.vtctl("--timeout", "100", "hello")
        self.assertEqual(r.stdout, "TW_OK\n")
        self.assertEqual(clients[0].recv(64), b"")  # closed by the service
        for s in clients[1:]:
            s.sendall(b"version")
            self.assertEqual(s.recv(64), b"0.400000")
        for s in clients:
            s.close()
        self.stop(proc)

    def test_a_name_held_elsewhere_is_served_once_free(self):
        os.makedirs(self.run_dir)
        squatter = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        squatter.bind(self.pipe())
        squatter.listen(1)
        proc = subprocess.Popen([*daemon_test.RUN, daemon_test.EXE], env=self.env,
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
                    subprocess.run([*daemon_test.RUN, daemon_test.TWSIM, "--endpoint", self.control,
                                    json.dumps(request)], capture_output=True, timeout=20)
                except subprocess.TimeoutExpired:
                    pass  # the service stopped under it


if __name__ == "__main__":
    daemon_test.EXE = sys.argv.pop(1)
    daemon_test.TWSIM = sys.argv.pop(1)
    daemon_test.VTCTL = sys.argv.pop(1)
    HOLD_EXIT = sys.argv.pop(1)
    unittest.main(verbosity=2)
