#!/usr/bin/env python3
"""The native daemon as an administrator runs it, measured from outside.

  daemon_bench.py --build DIR [--idle SECONDS] [--settle SECONDS]
                  [--soak REQUESTS] [--results FILE]
  daemon_bench.py --summary FILE

It starts DIR/VTService with the device simulator's default scenario beside
it (every run in a temporary folder of its own: pipe socket, data folder,
event entries, simulator control socket), and then:

  --idle S   after --settle seconds (past the companion program's first
             start), counts for S seconds the context switches (voluntary
             and involuntary) and the CPU time of every thread of the
             process, the device simulator's threads apart, and prints the
             per-thread breakdown;
  --soak N   sends N requests over the pipe (a new connection every 100) with
             the simulator's call log switched off, and prints the service's
             private memory (RssAnon) and open descriptors before and after.

Each figure also goes to --results as one JSON line (name, value, unit,
goal, pass; pass is null for a figure shown for information); --summary prints those lines as one table and exits 1 when any
figure missed its goal.
"""
import argparse
import json
import os
import shutil
import signal
import socket
import subprocess
import sys
import tempfile
import time

# Threads the device simulator starts name themselves so; every other
# thread of the process is the service's.
SIMULATOR_PREFIX = "twsim"
IDLE_WAKEUPS_GOAL = 2.0        # per second, whole process
IDLE_CPU_GOAL = 0.05           # percent of one core
SOAK_PER_CONNECTION = 100
SOAK_WARMUP = 2000
# Requests whose replies are fixed, so each round trip reads exactly its
# reply and no quiet period is waited for.
SOAK_REQUESTS = [
    (b"hello", b"TW_OK"),
    (b"status", b"off"),
    (b"version", b"0.400000"),
    (b"heartbeat", b"TW_OK"),
    (b'{"mod":"kb709","func":"setSystemStatusEffect","param":{"type":3}}', b"TW_OK"),
    (b"nonsense", b"TW_FAIL"),
]


def die(text):
    print(f"daemon_bench: {text}", file=sys.stderr)
    sys.exit(1)


class Results:
    def __init__(self, path):
        self.path = path

    def add(self, name, value, unit, goal, passed):
        if self.path:
            with open(self.path, "a", encoding="utf-8") as f:
                f.write(json.dumps({"name": name, "value": value, "unit": unit,
                                    "goal": goal, "pass": passed}) + "\n")


class Daemon:
    """VTService in the foreground with its stand-ins, in a folder of its own."""

    def __init__(self, build):
        self.build = os.path.abspath(build)
        self.folder = tempfile.mkdtemp(prefix="vtbench-")
        self.run_dir = os.path.join(self.folder, "run")
        self.data_dir = os.path.join(self.folder, "data")
        os.makedirs(self.run_dir)
        os.makedirs(self.data_dir)
        self.control = os.path.join(self.folder, "twsim.sock")
        self.pipe = os.path.join(self.run_dir, "twvtservicepipe")
        env = dict(os.environ)
        env.update({
            "VTSERVICE_RUN_DIR": self.run_dir,
            "VTSERVICE_DATA_DIR": self.data_dir,
            "VTSERVICE_EVENTLOG_FILE": os.path.join(self.folder, "events.tsv"),
            "VTSERVICE_PROBE_TARGET": "127.0.0.1",
            "TWSIM_CONTROL": self.control,
        })
        env.pop("TWSIM_SCENARIO", None)
        self.stderr = open(os.path.join(self.folder, "stderr.txt"), "wb")
        self.process = subprocess.Popen([os.path.join(self.build, "VTService")], env=env,
                                        stdout=subprocess.DEVNULL, stderr=self.stderr)
        self.pid = self.process.pid
        deadline = time.monotonic() + 20
        while not os.path.exists(self.pipe):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.close()
                die("the daemon did not open its pipe")
            time.sleep(0.05)

    def close(self):
        if self.process.poll() is None:
            self.process.send_signal(signal.SIGTERM)
            try:
                self.process.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
        self.stderr.close()
        shutil.rmtree(self.folder, ignore_errors=True)

    def simulator(self, request):
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(10)
            s.connect(self.control)
            s.sendall(json.dumps(request).encode() + b"\n")
            reply = b""
            while not reply.endswith(b"\n"):
                chunk = s.recv(65536)
                if not chunk:
                    break
                reply += chunk
        answer = json.loads(reply)
        if not answer.get("ok"):
            die(f"simulator refused {request}: {answer}")
        return answer


def read_threads(pid):
    """tid -> (name, voluntary, involuntary, cpu ns) for every live thread."""
    threads = {}
    task = f"/proc/{pid}/task"
    for tid in os.listdir(task):
        try:
            with open(f"{task}/{tid}/status", encoding="utf-8") as f:
                fields = dict(line.rstrip("\n").split(":\t", 1) for line in f if ":\t" in line)
            with open(f"{task}/{tid}/schedstat", encoding="utf-8") as f:
                cpu_ns = int(f.read().split()[0])
        except (FileNotFoundError, ProcessLookupError):
            continue  # ended between the listing and the read
        threads[int(tid)] = (fields["Name"].strip(), int(fields["voluntary_ctxt_switches"]),
                             int(fields["nonvoluntary_ctxt_switches"]), cpu_ns)
    return threads


def measure_idle(daemon, seconds, settle, results):
    time.sleep(settle)
    before = read_threads(daemon.pid)
    start = time.monotonic()
    time.sleep(seconds)
    after = read_threads(daemon.pid)
    elapsed = time.monotonic() - start
    if daemon.process.poll() is not None:
        die("the daemon ended during the idle measurement")
    rows = []
    for tid in sorted(set(before) | set(after)):
        name, v0, i0, c0 = before.get(tid, (after[tid][0], 0, 0, 0))
        _, v1, i1, c1 = after.get(tid, (name, v0, i0, c0))
        rows.append((tid, name, v1 - v0, i1 - i0, c1 - c0))
    print(f"\nidle, {elapsed:.1f} s after {settle:.0f} s of settling, pid {daemon.pid}:")
    print(f"  {'thread':>8}  {'name':<16} {'voluntary':>9} {'involuntary':>11} "
          f"{'wakeups/s':>9} {'cpu ms':>8}")
    totals = {"service": [0, 0, 0], "simulator": [0, 0, 0]}
    for tid, name, vol, invol, cpu in rows:
        side = "simulator" if name.startswith(SIMULATOR_PREFIX) else "service"
        t = totals[side]
        t[0] += vol
        t[1] += invol
        t[2] += cpu
        print(f"  {tid:>8}  {name:<16} {vol:>9} {invol:>11} "
              f"{(vol + invol) / elapsed:>9.2f} {cpu / 1e6:>8.2f}")
    for side, (vol, invol, cpu) in totals.items():
        print(f"  {'':>8}  {side + ' threads':<16} {vol:>9} {invol:>11} "
              f"{(vol + invol) / elapsed:>9.2f} {cpu / 1e6:>8.2f}")
    switches = sum(t[0] + t[1] for t in totals.values())
    cpu_ns = sum(t[2] for t in totals.values())
    rate = switches / elapsed
    percent = cpu_ns / 1e9 / elapsed * 100
    sim_rate = (totals["simulator"][0] + totals["simulator"][1]) / elapsed
    print(f"  whole process: {rate:.2f} wake-ups/s ({sim_rate:.2f} the simulator's), "
          f"{percent:.4f} % of one core")
    results.add("idle wake-ups, whole process", round(rate, 2), "/s",
                f"<= {IDLE_WAKEUPS_GOAL:g}", rate <= IDLE_WAKEUPS_GOAL)
    results.add("idle wake-ups, of them the simulator's", round(sim_rate, 2), "/s",
                "(part of the above)", None)
    results.add("idle CPU, whole process", round(percent, 4), "% of a core",
                f"< {IDLE_CPU_GOAL:g}", percent < IDLE_CPU_GOAL)


def private_memory(pid):
    with open(f"/proc/{pid}/status", encoding="utf-8") as f:
        for line in f:
            if line.startswith("RssAnon:"):
                return int(line.split()[1])
    die("no RssAnon in /proc/PID/status")


def open_descriptors(pid):
    return len(os.listdir(f"/proc/{pid}/fd"))


def send_requests(path, count):
    sent = 0
    while sent < count:
        with socket.socket(socket.AF_UNIX, socket.SOCK_STREAM) as s:
            s.settimeout(10)
            s.connect(path)
            for _ in range(min(SOAK_PER_CONNECTION, count - sent)):
                request, reply = SOAK_REQUESTS[sent % len(SOAK_REQUESTS)]
                s.sendall(request)
                got = b""
                while len(got) < len(reply):
                    chunk = s.recv(len(reply) - len(got))
                    if not chunk:
                        die(f"the connection dropped after {sent} requests")
                    got += chunk
                if got != reply:
                    die(f"{request!r} answered {got!r}, not {reply!r}")
                sent += 1


def soak(daemon, count, results):
    # The simulator lives in the service's process: its call log (capped at
    # 10,000 entries) is not the service's memory, so it keeps nothing now.
    daemon.simulator({"cmd": "callLog", "on": False})
    daemon.simulator({"cmd": "clearLog"})
    send_requests(daemon.pipe, SOAK_WARMUP)  # first-use allocations
    memory0, fds0 = private_memory(daemon.pid), open_descriptors(daemon.pid)
    start = time.monotonic()
    send_requests(daemon.pipe, count)
    elapsed = time.monotonic() - start
    time.sleep(0.5)  # the server sees the last client leave
    memory1, fds1 = private_memory(daemon.pid), open_descriptors(daemon.pid)
    print(f"\nsoak: {count} requests in {elapsed:.1f} s ({count / elapsed:.0f}/s), "
          f"{SOAK_PER_CONNECTION} per connection, after {SOAK_WARMUP} to warm up:")
    print(f"  RssAnon {memory0} kB -> {memory1} kB; open descriptors {fds0} -> {fds1}")
    results.add(f"soak RssAnon after {count} requests", f"{memory0} -> {memory1}", "kB",
                "no growth", memory1 <= memory0)
    results.add(f"soak open descriptors after {count} requests", f"{fds0} -> {fds1}", "",
                "no growth", fds1 <= fds0)


def summary(path):
    with open(path, encoding="utf-8") as f:
        rows = [json.loads(line) for line in f if line.strip()]
    verdicts = {True: "pass", False: "FAIL", None: "-"}
    cells = [(r["name"], f'{r["value"]} {r["unit"]}'.strip(), r["goal"], verdicts[r["pass"]])
             for r in rows]
    head = ("figure", "value", "goal", "")
    widths = [max(len(str(c[i])) for c in cells + [head]) for i in range(4)]
    line = "  ".join("-" * w for w in widths)
    print("\nsummary")
    print(line)
    print("  ".join(h.ljust(w) for h, w in zip(head, widths)).rstrip())
    print(line)
    for c in cells:
        print("  ".join(str(x).ljust(w) for x, w in zip(c, widths)).rstrip())
    print(line)
    return 1 if any(r["pass"] is False for r in rows) else 0


def main():
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("--build")
    parser.add_argument("--idle", type=float, default=0)
    parser.add_argument("--settle", type=float, default=20)
    parser.add_argument("--soak", type=int, default=0)
    parser.add_argument("--results")
    parser.add_argument("--summary")
    args = parser.parse_args()
    if args.summary:
        return summary(args.summary)
    if not args.build:
        parser.error("--build is needed")
    results = Results(args.results)
    daemon = Daemon(args.build)
    try:
        if args.idle > 0:
            measure_idle(daemon, args.idle, args.settle, results)
        if args.soak > 0:
            soak(daemon, args.soak, results)
    finally:
        daemon.close()
    return 0


if __name__ == "__main__":
    sys.exit(main())
