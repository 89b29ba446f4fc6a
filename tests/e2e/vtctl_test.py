#!/usr/bin/env python3
"""vtctl against a scripted server on the service's socket: one connection
for all requests, exact bytes out, one reply per line, and the exit status
for an unreachable, a closing and a silent service."""
import os
import shlex
import socket
import subprocess
import sys
import tempfile
import threading
import time
import unittest

from sanitizers import assert_clean, checked_env

VTCTL = None
RUN = shlex.split(os.environ.get("VT_TEST_EMULATOR", ""))  # an emulated build's emulator
READ_SIZE = 127  # what the service reads per request


class ScriptedServer:
    """Serves clients on <run dir>/twvtservicepipe the way the service does:
    one read of at most 127 bytes is one request; `answer` maps the request
    bytes to the reply chunks to write (None closes the connection)."""

    def __init__(self, run_dir, answer):
        self.path = os.path.join(run_dir, "twvtservicepipe")
        self.answer = answer
        self.requests = []
        self.connections = 0
        self.sock = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
        self.sock.bind(self.path)
        self.sock.listen(4)
        self.sock.settimeout(0.05)  # so that close() is noticed soon
        self.stopping = False
        self.thread = threading.Thread(target=self.serve, daemon=True)
        self.thread.start()

    def serve(self):
        while True:
            try:
                conn, _ = self.sock.accept()
                break
            except socket.timeout:
                if self.stopping:
                    return
            except OSError:
                return
        self.connections += 1
        conn.settimeout(None)
        with conn:
            while True:
                data = conn.recv(READ_SIZE)
                if not data:
                    return
                self.requests.append(data)
                chunks = self.answer(data)
                if chunks is None:
                    return
                for i, chunk in enumerate(chunks):
                    if i:
                        time.sleep(0.03)  # a reply that arrives in pieces
                    conn.sendall(chunk)

    def close(self):
        self.stopping = True
        self.sock.close()
        self.thread.join(5)
        os.unlink(self.path)


def service_like(request):
    replies = {b"hello": b"TW_OK", b"status": b"on", b"version": b"0.400000"}
    return [replies.get(request, b"TW_FAIL")]


# What the server answers, vtctl's arguments; then its exit status, standard
# output, the requests the server read and a piece of standard error.
CASES = [
    ("requests share one connection and print a line each", service_like,
     ["hello", "status", "nonsense", "version"],
     0, b"TW_OK\non\nTW_FAIL\n0.400000\n", [b"hello", b"status", b"nonsense", b"version"], b""),
    ("--raw sends exact bytes, --hex prints bytes", lambda req: [b"\x00ok\xff"],
     ["--raw", "--hex", r"he\x00llo\n\\\t\x7F"], 0, b"00 6f 6b ff\n", [b"he\x00llo\n\\\t\x7f"], b""),
    # 200 bytes are two reads for the service, so two replies on its line;
    # a reply that arrives in two writes is still one reply.
    ("replies in pieces, a long request", lambda req: [b"TW_OK"] if req.startswith(b"hello")
     else [b"0;", b"0"], ["--raw", "hello" + "x" * 195, "temp"],
     0, b"TW_OK0;0\n0;0\n", [b"hello" + b"x" * 122, b"x" * 73, b"temp"], b""),
    # What came before a dropped connection is still printed.
    ("a service that closes without replying", lambda req: None if req == b"status" else [b"TW_OK"],
     ["hello", "status", "hello"], 1, b"TW_OK\n", [b"hello", b"status"], b"dropped"),
    ("a silent service", lambda req: [], ["--timeout", "300", "hello"], 1, b"", [b"hello"],
     b"no reply"),
] + [("a bad escape sends nothing", service_like, ["--raw", bad], 3, b"", [], b"bad escape")
     for bad in [r"\x4", r"\xzz", "a\\", r"\q"]] + [
    ("bad usage", service_like, args, 3, b"", [], b"") for args in
    [[], ["--bogus", "hello"], ["--timeout", "x", "hello"]]]


class Vtctl(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.env = checked_env(self, dict(os.environ, VTSERVICE_RUN_DIR=self.dir.name),
                               os.path.join(self.dir.name, "sanitizers"))

    def vtctl(self, *args):
        r = subprocess.run([*RUN, VTCTL, *args], capture_output=True, timeout=10, env=self.env)
        assert_clean(self, r.stderr)
        return r

    def test_against_a_scripted_service(self):
        for name, answer, args, status, out, requests, err in CASES:
            with self.subTest(name, args=args):
                server = ScriptedServer(self.dir.name, answer)
                start = time.monotonic()
                try:
                    r = self.vtctl(*args)
                finally:
                    server.close()
                self.assertEqual(r.returncode, status, r.stderr)
                self.assertEqual(r.stdout, out)
                self.assertEqual(server.requests, requests)
                self.assertEqual(server.connections, 1 if requests else server.connections)
                self.assertIn(err, r.stderr)
                self.assertLess(time.monotonic() - start, 3)

    def test_an_unreachable_service_exits_2_with_the_endpoint(self):
        missing = os.path.join(self.dir.name, "nobody-here")
        r = self.vtctl("--pipe", missing, "hello")
        self.assertEqual(r.returncode, 2)
        self.assertEqual(r.stdout, b"")
        self.assertRegex(r.stderr.decode(),
                         r"^vtctl: cannot reach the service at " + missing + r": .+\n$")
        # The default endpoint lives in the run folder.
        r = self.vtctl("hello")
        self.assertEqual(r.returncode, 2)
        self.assertIn(os.path.join(self.dir.name, "twvtservicepipe").encode(), r.stderr)


if __name__ == "__main__":
    VTCTL = sys.argv.pop(1)
    unittest.main(verbosity=2)
