"""The capture of one PC: Debian's smbd, a child of the run as dnsmasq is, shares one folder (WORK_DIR/capture,
the user nobody's, made empty by the bash) to one user made for this run, with a random password, on the room's
interface only, SMB2 or later, no guest. The PC of the run (and only it) gets the share, the user and the
password in its server file; dism on the PC writes its image there. The PC reports capture-found (the bytes its
Windows holds: the room for them is checked before dism starts), capturing, and captured; then smbd is stopped,
the file is checked with wimlib and moved into place as the output in one step, never over a file there."""

import asyncio
import ipaddress
import os
import secrets
import shutil
import socket
import subprocess
import tempfile
import time

from roomserver import children
from roomserver.core import Part
from roomserver.journal import clean

SHARE = "capture"
FILE = "capture.wim"
SHOWN = 10  # seconds between two figures of a capture in its row
STALL = 900  # seconds without a byte written after which a capture is taken for broken off (the PC is off)
_SMB_PORT = 445  # the only port Windows' own client uses


class Share(Part):
    def __init__(self, core, netboot):
        super().__init__(core)
        self.netboot, netboot.capture = netboot, self
        self.folder = os.path.join(self.config.work_dir, SHARE)
        self.file = os.path.join(self.folder, FILE)
        self.user, self.password = "capture-" + secrets.token_hex(4), secrets.token_urlsafe(18)
        self.smbd = self.checking = None
        self.ready = self.no_room = False
        self.started = self.grown = None  # when dism began writing; when the file last grew
        self.shown = 0  # when its row last got new figures
        self.written, self.outcome = 0, None  # outcome: None while it runs, then "saved" or why it failed
        self.finished = self.ending = None  # when the PC said captured; when the run ends (the PC told first)
        self.kept = False  # an image checked that could not be moved stays where it is

    # --- the run -------------------------------------------------------------------------------------------
    async def start(self, loop):
        smb = os.path.join(self.netboot.run, "smb")
        try:
            os.mkdir(smb, 0o700)
            for folder in ("private", "lock", "state", "cache", "pid", "ncalrpc"):
                os.mkdir(os.path.join(smb, folder), 0o700)
            with open(os.path.join(smb, "users.map"), "w", encoding="ascii") as users:
                users.write("nobody = %s\n" % self.user)
            with open(os.path.join(smb, "smb.conf"), "w", encoding="ascii") as conf:
                conf.write(smb_config(self.config, smb, self.folder))
        except OSError as error:
            return self.core.refuse("cannot fill a folder in /run: %s" % (error.strerror or error))
        conf = os.path.join(smb, "smb.conf")
        try:
            added = subprocess.run(["pdbedit", "-s", conf, "-a", "-u", "nobody", "-t"], input="%s\n%s\n" % (
                self.password, self.password), capture_output=True, text=True, timeout=60)
        except (OSError, subprocess.SubprocessError) as error:
            return self.core.refuse("pdbedit could not add the share's user: %s" % error)
        if added.returncode:
            return self.core.refuse("pdbedit could not add the share's user: %s" % clean(added.stderr.strip()))

        def gone(status):
            if not self.core.ended.done() and self.ready and not self.checking:
                self.core.crash("smbd ended (status %s): %s" % (status, self.smbd.last_line))

        self.smbd = children.Child(loop, children.in_own_pid_namespace(
            ["smbd", "--foreground", "--no-process-group", "--configfile=" + conf]), lambda _: None, gone)
        deadline = time.monotonic() + 20
        while not _listens(self.config.address) and self.smbd.running() and time.monotonic() < deadline:
            await asyncio.sleep(0.2)
        if not _listens(self.config.address):
            return self.core.refuse("smbd did not start: %s" % clean(self.smbd.last_line or "no word from it"))
        self.ready = True
        self.core.say("sharing \\\\%s\\%s (%s) with the PC only, as a user made for this run" % (
            self.config.address, SHARE, self.folder))
        return True

    def server_lines(self, mac, ip):
        """The lines of the PC's server file that give it the share: the PC asked from its own address. Nothing
        before smbd is up: the file still goes out (iPXE that failed to fetch it would boot the PC's own disk
        and spend its sysprep), and the capture program asks again for the lines it lacks."""
        if not self.ready or self.outcome:
            return ""
        self.core.event(mac, "share-given", ip)
        lines = ["capture=\\\\%s\\%s\\%s" % (self.config.address, SHARE, FILE), "user=" + self.user,
                 "password=" + self.password, "capture-name=" + self.config.capture_name]
        return "".join(line + "\r\n" for line in lines + ["not-generalized=yes"] * self.config.not_generalized)

    def heard(self, now, key, kind, value):
        if key != self.config.pc or self.outcome:
            return
        if kind == "capture-found":
            self.no_room = self._no_room(int(value))
        elif kind == "capturing":
            self.started = self.grown = now
        elif kind == "captured" and self.finished is None:  # once: a report sent again is not a second image
            self.finished = now
            asyncio.get_running_loop().create_task(self._check())
        elif kind == "failed":
            self._end("the PC stopped: %s" % value)

    def tick(self, now):
        if self.ending and now >= self.ending:
            self.core.end(0 if self.outcome == "saved" else 1)
        pc = self.room.pcs.get(self.config.pc)
        if not self.started or self.outcome or self.checking or not pc or pc.stage != "capturing":
            return
        try:
            written = os.lstat(self.file).st_size
        except OSError:
            written = 0
        if written > self.written:
            self.written, self.grown = written, now
        # Shown every SHOWN seconds while it grows: a log off a terminal gets a line then, not one a second.
        if self.written > pc.bytes and now - self.shown >= SHOWN:
            pc.bytes, pc.rate, self.shown = self.written, self.written / max(now - self.started, 1) / 1e6, now
        if now - self.grown > STALL:
            self._fail("nothing written for %d minutes: the PC is off or its network is gone" % (STALL // 60))

    def at_signal(self, status):
        """A capture stopped before its image was saved has failed, whatever the network boot makes of it."""
        if not self.outcome:
            self.outcome = "broken off by a signal"
        return 0 if self.outcome == "saved" else 1

    def stop(self):
        if self.smbd:
            self.smbd.stop()
        if self.checking:
            self.checking.stop()
        if self.outcome != "saved" and not self.kept:
            _empty(self.folder)

    def farewell(self):
        c = self.config
        if self.outcome == "saved":
            took = max(self.finished - (self.started or self.finished), 0.001)
            return ["captured %s: %.1f MB in %.0f s (%.1f MB/s through the share), checked by wimlib" % (
                c.output, self.written / 1e6, took, self.written / took / 1e6),
                "next: deploy it to the room with: serve-room --room FILE --unattend FILE %s" % c.output]
        return ["no image was captured (%s): %s was not written" % (self.outcome or "the run ended", c.output)]

    # --- the end of a capture ------------------------------------------------------------------------------
    def _no_room(self, size):
        """Whether the work folder (and the output's folder, on another file system) lacks room for SIZE bytes,
        the most an image of that Windows takes: said, and the PC told."""
        places = [self.folder] + [os.path.dirname(self.config.output)] * (not _same_disk(
            self.folder, os.path.dirname(self.config.output)))
        for place in places:
            free = shutil.disk_usage(place).free
            if free < size:
                self._fail("no room for its image: %s has %.1f GB free, its Windows holds %.1f GB" % (
                    place, free / 1e9, size / 1e9))
                return True
        return False

    async def _check(self):
        """smbd stopped (nothing more is written), the file checked with wimverify, then moved into place."""
        self.checking = True
        self.smbd.stop()
        self.room.pcs[self.config.pc].bytes = self.written = _size(self.file)
        loop, verified = asyncio.get_running_loop(), asyncio.get_running_loop().create_future()
        self.checking = children.Child(loop, ["wimverify", self.file], lambda _: None, verified.set_result)
        if not os.path.isfile(self.file) or os.path.islink(self.file):
            problem = "no file %s was written" % FILE
        elif await verified:
            problem = "wimlib's check failed: %s" % clean(self.checking.last_line or "wimverify failed")
        else:
            problem = await loop.run_in_executor(None, _move, self.file, self.config.output)
            self.kept = bool(problem)
        self.checking = None
        if problem:
            self._fail("its image: " + problem)
        else:
            self.core.event(self.config.pc, "saved")
            self._end("saved")

    def _fail(self, why):
        """The capture failed: said in the PC's row and the journal; the run ends once the PC has been told."""
        self._end(why)
        self.core.event(self.config.pc, "failed", why)

    def _end(self, outcome):
        self.outcome, self.ending = outcome, time.time() + 2


def smb_config(config, smb, folder):
    """smbd for one share on the room's interface alone: SMB2 or later, a user of its own, no guest, no printers,
    no NetBIOS, its state in SMB (the run's folder)."""
    lines = ["[global]", "server role = standalone server", "netbios name = AUTODEPLOY", "workgroup = WORKGROUP",
             "interfaces = %s" % config.interface, "bind interfaces only = yes", "smb ports = %d" % _SMB_PORT,
             "disable netbios = yes", "server min protocol = SMB2_10", "map to guest = Never", "restrict anonymous = 2",
             "guest account = nobody", "hosts allow = %s" % ipaddress.ip_interface(config.subnet).network,
             "hosts deny = ALL",
             "passdb backend = tdbsam:%s/private/passdb.tdb" % smb, "username map = %s/users.map" % smb,
             "load printers = no", "printing = bsd", "printcap name = /dev/null", "disable spoolss = yes",
             "usershare path =", "logging = stderr", "log level = 1", "server signing = mandatory"]
    lines += ["%s = %s/%s" % (key, smb, sub) for key, sub in (
        ("private dir", "private"), ("binddns dir", "private"), ("lock directory", "lock"),
        ("state directory", "state"), ("cache directory", "cache"), ("pid directory", "pid"),
        ("ncalrpc dir", "ncalrpc"))]
    lines += ["[%s]" % SHARE, "path = %s" % folder, "valid users = nobody", "read only = no", "guest ok = no",
              "browseable = no", "create mask = 0600", "directory mask = 0700", "follow symlinks = no"]
    return "\n".join(lines) + "\n"


def _listens(address):
    try:
        with socket.create_connection((address, _SMB_PORT), timeout=1):
            return True
    except OSError:
        return False


def _same_disk(one, other):
    return os.stat(one).st_dev == os.stat(other).st_dev


def _size(path):
    try:
        return os.lstat(path).st_size
    except OSError:
        return 0


def _move(captured, output):
    """CAPTURED as OUTPUT, root's and readable, in one step that never replaces a file there (a link made, then
    the old name removed; through a copy beside OUTPUT when it is on another file system): None, or why not."""
    try:
        os.chown(captured, 0, 0, follow_symlinks=False)
        os.chmod(captured, 0o644)
        fd = os.open(captured, os.O_RDONLY | os.O_NOFOLLOW)
        try:
            os.fsync(fd)
        finally:
            os.close(fd)
        if _same_disk(captured, os.path.dirname(output)):
            os.link(captured, output)
            os.unlink(captured)
            return None
        copy = tempfile.NamedTemporaryFile(dir=os.path.dirname(output), prefix=".capture.", delete=False)
        try:
            with copy, open(captured, "rb") as source:
                shutil.copyfileobj(source, copy, 1 << 20)
                copy.flush()
                os.fsync(copy.fileno())
            os.chmod(copy.name, 0o644)
            os.link(copy.name, output)
        finally:
            os.unlink(copy.name)
        os.unlink(captured)
    except FileExistsError:
        return "%s exists (made while the capture ran): the image stays in %s; move it yourself" % (output, captured)
    except OSError as error:
        return "cannot move it to %s: %s" % (output, error.strerror or error)
    return None


def _empty(folder):
    """What a capture left in its share: a part of an image is no image."""
    try:
        names = os.listdir(folder)
    except OSError:
        return
    for name in names:
        path = os.path.join(folder, name)
        if os.path.isdir(path) and not os.path.islink(path):
            shutil.rmtree(path, ignore_errors=True)
        else:
            try:
                os.unlink(path)
            except OSError:
                pass
