#!/usr/bin/env python3
"""Clients of the daemon's socket, each one way of holding it while other
clients must still be served (the native twin of tests/wine/pipe_clients.c):

  pipe_holders.py SOCKET silent GO   connects and never writes
  pipe_holders.py SOCKET slow GO     writes a byte every 50 ms for 3 s and
                                     never reads a reply
  pipe_holders.py SOCKET greedy GO   writes requests until its socket is full
                                     both ways, never reading a reply
  pipe_holders.py SOCKET eight GO    eight clients, each with one "hello"
                                     answered; once GO exists, asks each for
                                     "version" and prints "N:closed" for the
                                     ones the service closed meanwhile

Each prints "holding" once in place, and ends once the file GO exists."""
import os
import socket
import sys
import time


def connect(path):
    s = socket.socket(socket.AF_UNIX, socket.SOCK_STREAM)
    s.connect(path)
    return s


def holding():
    print("holding", flush=True)


def wait_for(go):
    while not os.path.exists(go):
        time.sleep(0.05)


def main(path, mode, go):
    if mode in ("silent", "slow"):
        s = connect(path)
        if mode == "slow":
            s.send(b"h")
        holding()
        for _ in range(60 if mode == "slow" else 0):
            if os.path.exists(go):
                break
            time.sleep(0.05)
            s.send(b"e")
    elif mode == "greedy":
        s = connect(path)
        s.setblocking(False)
        holding()
        while not os.path.exists(go):
            try:
                s.send(b"status")
            except BlockingIOError:
                time.sleep(0.05)
    elif mode == "eight":
        clients = []
        for _ in range(8):
            c = connect(path)
            c.settimeout(5)
            c.sendall(b"hello")
            if c.recv(64) != b"TW_OK":
                sys.exit(f"client {len(clients) + 1} was not served")
            clients.append(c)
        holding()
        wait_for(go)
        for i, c in enumerate(clients, 1):
            try:
                c.sendall(b"version")
                reply = c.recv(64)
            except OSError:
                reply = b""
            print(f"{i}:" + ("closed" if not reply else
                             "open" if reply == b"0.400000" else reply.decode()))
        return
    wait_for(go)


if __name__ == "__main__":
    main(*sys.argv[1:])
