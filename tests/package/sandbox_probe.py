# Runs as a unit with the service's sandbox settings (see sandbox_test.sh)
# and writes, for each thing the daemon needs or an attacker in its place
# would try, whether the sandbox allows it.
import ctypes
import errno
import mmap
import os
import socket
import sys

libc = ctypes.CDLL(None, use_errno=True)
out = open(sys.argv[1], "w")


def attempt(name, action):
    try:
        action()
        print(f"{name}: allowed", file=out)
    except OSError as e:
        print(f"{name}: denied ({errno.errorcode.get(e.errno, e.errno)})", file=out)


def libc_call(call):
    def action():
        if call() != 0:
            e = ctypes.get_errno()
            raise OSError(e, os.strerror(e))
    return action


state = "/var/lib/vtservice/probe"
# What the daemon needs.
attempt("raw ICMP socket", lambda: socket.socket(socket.AF_INET, socket.SOCK_RAW,
                                                 socket.IPPROTO_ICMP).close())
attempt("Unix socket", lambda: socket.socket(socket.AF_UNIX, socket.SOCK_STREAM).close())
attempt("write the state folder", lambda: open(state, "w").close())
attempt("read /proc/stat", lambda: open("/proc/stat").read(10))
attempt("read another process's /proc entry", lambda: open("/proc/1/stat").read(10))
attempt("read /sys/class", lambda: os.listdir("/sys/class"))
attempt("open /dev/null", lambda: open("/dev/null", "rb").close())
# What it must not do.
attempt("IPv6 socket", lambda: socket.socket(socket.AF_INET6, socket.SOCK_DGRAM).close())
attempt("netlink socket", lambda: socket.socket(socket.AF_NETLINK, socket.SOCK_RAW, 0).close())
attempt("packet socket", lambda: socket.socket(socket.AF_PACKET, socket.SOCK_RAW, 0).close())
attempt("write /etc", lambda: open("/etc/vt-probe", "w").close())
attempt("write its program folder", lambda: open("/usr/lib/vtservice/probe", "w").close())
attempt("list /home", lambda: os.listdir("/home"))
attempt("write /proc/sys", lambda: open("/proc/sys/kernel/hostname", "w").write("x"))
attempt("chown", lambda: os.chown(state, 65534, 65534))
attempt("make a set-user-id file", lambda: os.chmod(state, 0o4755))
attempt("setuid", lambda: os.setuid(65534))
attempt("sethostname", libc_call(lambda: libc.sethostname(b"x", 1)))
attempt("new user namespace", libc_call(lambda: libc.unshare(0x10000000)))
attempt("mount", libc_call(lambda: libc.mount(b"none", b"/var/lib/vtservice", b"tmpfs", 0, None)))
attempt("writable and executable memory", lambda: mmap.mmap(
    -1, 4096, prot=mmap.PROT_READ | mmap.PROT_WRITE | mmap.PROT_EXEC))
attempt("lower its priority", lambda: os.setpriority(os.PRIO_PROCESS, 0, 5))
os.unlink(state)
