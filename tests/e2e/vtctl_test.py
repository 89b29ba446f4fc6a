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


def service_like(request):
    replies = {b"hello": b"TW_OK", b"status": b"on", b"version": b"0.400000"}
    return [replies.get(request, b"TW_FAIL")]


class Vtctl(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.TemporaryDirectory()
        self.addCleanup(self.dir.cleanup)
        self.env = checked_env(self, dict(os.environ, VTSERVICE_RUN_DIR=self.dir.name),
                               os.path.join(self.dir.name, "sanitizers"))
        self.server = None

    def tearDown(self):
        if self.server:
            self.server.close()

    def serve(self, answer):
        self.server = ScriptedServer(self.dir.name, answer)

    def vtctl(self, *args):
        r = subprocess.run([*RUN, VTCTL, *args], capture_output=True, timeout=10, env=self.env)
        assert_clean(self, r.stderr)
        return r

    def test_requests_share_one_connection_and_print_a_line_each(self):
        self.serve(service_like)
        r = self.vtctl("hello", "status", "nonsense", "version")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(r.stdout, b"TW_OK\non\nTW_FAIL\n0.400000\n")
        self.assertEqual(self.server.requests,
                         [b"hello", b"status", b"nonsense", b"version"])
        self.assertEqual(self.server.connections, 1)

    def test_raw_sends_exact_bytes_and_hex_prints_bytes(self):
        self.serve(lambda req: [b"\x00ok\xff"])
        r = self.vtctl("--raw", "--hex", r"he\x00llo\n\\\t\x7F")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual(self.server.requests, [b"he\x00llo\n\\\t\x7f"])
        self.assertEqual(r.stdout, b"00 6f 6b ff\n")

    def test_replies_in_pieces_and_a_long_request_print_a_line_per_request(self):
        # 200 bytes are two reads for the service, so two replies on its line;
        # a reply that arrives in two writes is still one reply.
        self.serve(lambda req: [b"TW_OK"] if req.startswith(b"hello") else [b"0;", b"0"])
        r = self.vtctl("--raw", "hello" + "x" * 195, "temp")
        self.assertEqual(r.returncode, 0, r.stderr)
        self.assertEqual([len(q) for q in self.server.requests], [127, 73, 4])
        self.assertEqual(r.stdout, b"TW_OK0;0\n0;0\n")

    def test_a_bad_escape_sends_nothing(self):
        self.serve(service_like)
        for bad in [r"\x4", r"\xzz", "a\\", r"\q"]:
            r = self.vtctl("--raw", bad)
            self.assertEqual(r.returncode, 3, bad)
            self.assertIn(b"bad escape", r.stderr)
        self.assertEqual(self.server.requests, [])

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

    def test_a_service_that_closes_without_replying_exits_1(self):
        self.serve(lambda req: None if req == b"status" else [b"TW_OK"])
        r = self.vtctl("hello", "status", "hello")
        self.assertEqual(r.returncode, 1)
        self.assertEqual(r.stdout, b"TW_OK\n")  # what came before still printed
        self.assertIn(b"dropped", r.stderr)
        self.assertEqual(self.server.requests, [b"hello", b"status"])

    def test_a_silent_service_times_out_with_exit_1(self):
        self.serve(lambda req: [])
        start = time.monotonic()
        r = self.vtctl("--timeout", "300", "hello")
        self.assertEqual(r.returncode, 1)
        self.assertIn(b"no reply", r.stderr)
        self.assertLess(time.monotonic() - start, 3)

    def test_bad_usage_exits_3(self):
        for args in [[], ["--bogus", "hello"], ["--timeout", "x", "hello"]]:
            self.assertEqual(self.vtctl(*args).returncode, 3, args)


if __name__ == "__main__":
    VTCTL = sys.argv.pop(1)
    unittest.main(verbosity=2)
