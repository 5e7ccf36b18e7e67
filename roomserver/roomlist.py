"""The room list: the PCs of the room, one a line, its MAC and optionally its name ("52:54:00:12:34:56  LAB1-07"),
with # comments and blank lines. Only these PCs get anything from the server; the names are what the table
shows and what each PC is called."""

import errno
import os
import re
import stat

from roomserver.journal import escaped
from roomserver.macs import normal_mac, pc_mac_problem
from roomserver.refusal import Refusal

_NAME = re.compile(r"[A-Za-z0-9][A-Za-z0-9-]{0,14}")
_WRITE = "one PC a line, its MAC and optionally its name (52:54:00:12:34:56  LAB1-07)"
_MOST = 32 << 20  # bytes: 300,000 named PCs take 11 MiB; a larger file is no room list
_NOT_A_FILE = {stat.S_IFIFO: "a FIFO", stat.S_IFCHR: "a device", stat.S_IFBLK: "a device"}  # as fstat says
_NOT_OPENED = {errno.ELOOP: "a symbolic link", errno.ENXIO: "a socket"}  # as open(O_NOFOLLOW) says
# Every control character but the tab, and the line and paragraph separators: an editor shows none of them as
# text, and some of them as a line's end.
_CONTROL = re.compile(r"[\x00-\x08\x0a-\x1f\x7f-\x9f\u2028\u2029]")


def computer_name_problem(name):
    """Why Windows would refuse NAME as a computer name, or None."""
    if not _NAME.fullmatch(name) or name.isdigit():
        return "'%s' cannot be a computer name: at most 15 letters, digits and hyphens, not digits only, not a " \
            "hyphen first (LAB1-07)" % escaped(name)
    return None


class RoomList:
    def __init__(self, path=None):
        self.path, self.names = path, {}  # names: MAC -> name or None, in the list's order

    def name(self, mac):
        return self.names.get(mac)

    def by_name(self, name):
        """The MAC of the PC called NAME (whatever its case), or None."""
        return next((mac for mac, known in self.names.items() if known and known.lower() == name.lower()), None)

    def add(self, mac, name=None):
        self.names[mac] = name


def first_words(path):
    """The first word of each line of PATH that has one (# comments aside); nothing when there is no PATH."""
    try:
        with open(path, encoding="utf-8-sig", errors="replace") as lines:
            return [line.split("#")[0].split()[0] for line in lines if line.split("#")[0].strip()]
    except FileNotFoundError:
        return []


def _lines(path):
    """The lines of the room list PATH as an editor numbers them: a regular file of at most _MOST bytes, UTF-8
    with or without a byte order mark, lines ending in LF or CR LF. Never through a link, never waiting on a
    FIFO or a device."""
    try:
        with open(os.open(path, os.O_RDONLY | os.O_NOFOLLOW | os.O_NONBLOCK), "rb") as opened:
            kind = _NOT_A_FILE.get(stat.S_IFMT(os.fstat(opened.fileno()).st_mode))
            data = b"" if kind else opened.read(_MOST + 1)
    except OSError as error:
        kind = _NOT_OPENED.get(error.errno)
        if not kind:
            raise Refusal("cannot read the room list %s: %s" % (path, error.strerror))
    if kind or len(data) > _MOST:
        raise Refusal("the room list %s is %s: give a regular file of at most %d MiB, %s" % (
            path, kind or "larger than %d MiB" % (_MOST >> 20), _MOST >> 20, _WRITE))
    return [line.removesuffix("\r") for line in data.decode("utf-8-sig", errors="replace").split("\n")]


def read(path, empty_allowed=False):
    room, where = RoomList(path), {}
    for number, line in enumerate(_lines(path), 1):
        said = "%s line %d: " % (path, number)
        control = _CONTROL.search(line)
        if control:
            raise Refusal(said + "a control character '%s' at column %d: %s" % (
                escaped(control.group()), control.start() + 1, _WRITE))
        fields = line.split("#")[0].split()
        if not fields:
            continue
        mac = normal_mac(fields[0])
        if mac is None:
            raise Refusal(said + "'%s' is not a MAC address: %s" % (escaped(fields[0]), _WRITE))
        if pc_mac_problem(mac):
            raise Refusal(said + pc_mac_problem(mac))
        if len(fields) > 2:
            raise Refusal(said + "more than a MAC and a name: " + _WRITE)
        if mac in where:
            raise Refusal(said + "%s is on line %d already: each PC once" % (mac, where[mac]))
        name = fields[1] if len(fields) > 1 else None
        if name and computer_name_problem(name):
            raise Refusal(said + computer_name_problem(name))
        if name and name.lower() in where:
            raise Refusal(said + "the name %s is on line %d already (a name is the same in any case): give each PC "
                          "a name of its own" % (name, where[name.lower()]))
        where[mac] = number
        where.update({name.lower(): number} if name else {})
        room.add(mac, name)
    if not room.names and not empty_allowed:
        raise Refusal("%s lists no PC: %s; serve-pxe --collect %s writes the MACs of the PCs that boot from the "
                      "network" % (path, _WRITE, path))
    return room
