"""The room list: the PCs of the room, one a line, its MAC and optionally its name ("52:54:00:12:34:56  LAB1-07"),
with # comments and blank lines. Only these PCs get anything from the server; the names are what the table
shows and what each PC is called."""

import re

from roomserver.macs import normal_mac
from roomserver.refusal import Refusal

_NAME = re.compile(r"[A-Za-z0-9-]{1,15}")
_WRITE = "one PC a line, its MAC and optionally its name (52:54:00:12:34:56  LAB1-07)"


def computer_name_problem(name):
    """Why Windows would refuse NAME as a computer name, or None."""
    if not _NAME.fullmatch(name) or name.isdigit():
        return "'%s' cannot be a computer name: at most 15 letters, digits and hyphens, not digits only (LAB1-07)" % (
            name[:40])
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
        with open(path, encoding="utf-8", errors="replace") as lines:
            return [line.split("#")[0].split()[0] for line in lines if line.split("#")[0].strip()]
    except FileNotFoundError:
        return []


def read(path, empty_allowed=False):
    room, where = RoomList(path), {}
    try:
        with open(path, encoding="utf-8", errors="replace") as lines:
            text = lines.read().splitlines()
    except OSError as error:
        raise Refusal("cannot read the room list %s: %s" % (path, error.strerror))
    for number, line in enumerate(text, 1):
        fields = line.split("#")[0].split()
        if not fields:
            continue
        said = "%s line %d: " % (path, number)
        mac = normal_mac(fields[0])
        if mac is None:
            raise Refusal(said + "'%s' is not a MAC address: %s" % (fields[0][:40], _WRITE))
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
