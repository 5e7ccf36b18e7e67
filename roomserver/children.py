"""The server's children: each dies with the server, however the server ends (SIGKILL and the OOM killer
included), and its standard error comes to the event loop line by line (a line ends at a line feed or a
carriage return: udp-sender redraws its progress line with the latter).

A child gets SIGKILL when the server dies (PR_SET_PDEATHSIG). The kernel clears that for a process that changes
its user, as dnsmasq does when it drops to nobody, so dnsmasq runs inside a PID namespace of its own (unshare):
its first process, a shell that keeps root and the signal, takes the whole namespace with it."""

import ctypes
import os
import select
import signal
import subprocess
import time

_PR_SET_PDEATHSIG = 1
_libc = ctypes.CDLL(None, use_errno=True)


def _dies_with(parent):
    def setup():
        _libc.prctl(_PR_SET_PDEATHSIG, signal.SIGKILL)
        if os.getppid() != parent:  # the server died before the line above
            os._exit(1)
    return setup


def in_own_pid_namespace(argv):
    """ARGV run so that nothing of it outlives the server, whatever it does with its user."""
    return ["unshare", "--pid", "--fork", "--kill-child", "sh", "-c", '"$@"; exit $?', "sh"] + argv


class Child:
    """ON_LINE(text) for each line of its standard error; ON_END(status) once it has ended. PASS_TO: a file
    descriptor that gets its standard error unchanged as it comes."""

    def __init__(self, loop, argv, on_line, on_end, stdin=subprocess.DEVNULL, pass_to=None):
        self.loop, self.on_line, self.on_end, self.pass_to = loop, on_line, on_end, pass_to
        self.partial, self.last_line = b"", ""
        # A session of its own: a Ctrl-C on the terminal reaches the server, which stops its children itself.
        self.process = subprocess.Popen(argv, stdin=stdin, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE,
                                        preexec_fn=_dies_with(os.getpid()), start_new_session=True)
        self.fd = self.process.stderr.fileno()
        os.set_blocking(self.fd, False)
        loop.add_reader(self.fd, self._readable)

    def running(self):
        return self.process.poll() is None

    def _readable(self):
        try:
            data = os.read(self.fd, 65536)
        except BlockingIOError:
            return
        if self.pass_to is not None and data:
            os.write(self.pass_to, data)
        lines = (self.partial + data).replace(b"\r", b"\n").split(b"\n")
        self.partial = lines.pop() if data else b""
        for line in lines + ([self.partial] if not data and self.partial else []):
            if line:
                self.last_line = line.decode("utf-8", "replace")
                self.on_line(self.last_line)
        if not data:
            self.loop.remove_reader(self.fd)
            self._reap()

    def _reap(self):
        if self.process.poll() is None:
            self.loop.call_later(0.1, self._reap)
        else:
            self.process.stderr.close()
            self.on_end(self.process.returncode)

    def stop(self, grace=2.0):
        """TERM, GRACE seconds at most (udp-sender blocks TERM while it sends), then KILL; waits, also for what it
        runs in a PID namespace of its own (dnsmasq): that outlives it for a moment, holding the ports, and its
        standard error until it has gone."""
        if self.process.poll() is None:
            self.process.terminate()
            deadline = time.monotonic() + grace
            while self.process.poll() is None and time.monotonic() < deadline:
                time.sleep(0.05)
            if self.process.poll() is None:
                self.process.kill()
                self.process.wait()
        deadline = time.monotonic() + grace
        while not self.process.stderr.closed and select.select([self.fd], [], [], grace)[0]:
            if not os.read(self.fd, 65536) or time.monotonic() > deadline:
                break


def wake_on_lan(interface, mac):
    """A magic packet for MAC with Debian's etherwake: a raw Ethernet frame on INTERFACE only, whatever the
    routes say, to the broadcast address, so that a switch that has forgotten a sleeping PC's port floods it.
    True when etherwake says it went."""
    try:
        return subprocess.run(["etherwake", "-b", "-i", interface, mac], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=5, preexec_fn=_dies_with(os.getpid())).returncode == 0
    except (OSError, subprocess.SubprocessError):
        return False
