"""How the bash of serve-pxe, serve-room and send-image hands over, once it has checked and prepared the run:

  python3 -m roomserver pxe|room|send|collect|capture --name NAME [--check] [--FIELD VALUE...]
                                                   [-- UDP-SENDER ARGUMENTS...]
  python3 -m roomserver answer --name NAME --unattend FILE     the answer file for a medium (ComputerName *)

Each --FIELD is a field of config.Config (--work-dir for work_dir); what is not given keeps the config's
default. The values an operator gave are read here (the room list, the MACs and names to wake or to forget,
the answer file): with --check, only that, early, and nothing runs. A value that is not of its kind: one line
led by NAME, status 2.
"""

import argparse
import asyncio
import os
import sys

from roomserver import roomlist, unattend
from roomserver.config import Config
from roomserver.journal import escaped
from roomserver.macs import normal_mac, pc_mac_problem
from roomserver.refusal import Refusal
from roomserver.server import Server
from roomserver.served import ServedList
from roomserver.spoken import spoken

_TEXTS = ("interface", "address", "subnet", "dhcp", "ipxe", "wimboot", "work-dir", "journal", "image", "wake", "again",
          "room", "unattend", "pc", "output", "capture-name", "boot-image")
_NUMBERS = ("port", "machines", "max-wait", "late-wait", "retries")


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        raise Refusal(message)


def mac_list(option, given, allow_all=False, room=None):
    """The MACs of GIVEN: MAC[,MAC...] or a file with one a line (its first word; blank lines and # comments
    aside: the list of PCs served and a room list are such files); 'all' where ALLOW_ALL; names of ROOM's PCs
    for their MACs."""
    if allow_all and given == "all":
        return "all"
    if os.path.isfile(given):
        try:
            entries = roomlist.first_words(given)
        except OSError as error:
            raise Refusal("cannot read %s: %s" % (given, error.strerror))
    else:
        entries = given.split(",")
    macs = []
    for entry in entries:
        mac = normal_mac(entry) or (room.by_name(entry) if room else None)
        if not mac:
            raise Refusal("%s needs MACs (52:54:00:12:34:56)%s separated by commas, %sor a file of them one a line; "
                          "got '%s'" % (option, " or names of the room list" if room else "", "all, " if allow_all
                                        else "", escaped(entry)))
        if pc_mac_problem(mac):
            raise Refusal("%s: %s" % (option, pc_mac_problem(mac)))
        macs.append(mac)
    return macs


def parse(argv):
    """(Config, whether to check only)."""
    sender = argv[argv.index("--") + 1:] if "--" in argv else []
    argv = argv[:argv.index("--")] if "--" in argv else argv
    parser = _Parser(add_help=False, argument_default=argparse.SUPPRESS)
    parser.add_argument("mode", choices=("pxe", "room", "send", "collect", "answer", "capture"))
    parser.add_argument("--name", required=True)
    for name in _TEXTS:
        parser.add_argument("--" + name)
    for name in _NUMBERS:
        parser.add_argument("--" + name, type=int)
    for name in ("nokbd", "wake-listed", "check", "not-generalized"):
        parser.add_argument("--" + name, action="store_true")
    parser.add_argument("--remove", action="append")
    given = vars(parser.parse_args(argv))
    check, wake_listed = given.pop("check", False), given.pop("wake_listed", False)
    config = Config(sender=sender, **given)
    collect = config.mode == "collect"
    if config.room and (not collect or os.path.exists(config.room)):
        config.listed = roomlist.read(config.room, empty_allowed=collect)
    elif collect:
        config.listed = roomlist.RoomList(config.room)
    if wake_listed and not config.listed:
        raise Refusal("--wake without MACs wakes the PCs of the room list: give --room FILE, or the MACs to wake")
    config.wake = list(config.listed.names) if wake_listed else mac_list("--wake", config.wake, room=config.listed) \
        if config.wake else []
    config.again = mac_list("--again", config.again, True, config.listed) if config.again else []
    config.unattend = unattend.read(config.unattend) if config.unattend else None
    if config.mode == "capture":
        _one_pc(config)
    if config.mode == "room" and config.listed:
        config.expected = _to_deploy(config)
        config.machines = config.machines or len(config.expected)
    return config, check


def _one_pc(config):
    """A capture serves one PC, named by its MAC or by its name in the room list: the run's room list holds it
    alone, so that every other PC of the segment is left alone."""
    mac = normal_mac(config.pc or "") or (config.listed.by_name(config.pc) if config.listed else None)
    if not mac:
        raise Refusal("--pc needs the MAC of the PC to capture (52:54:00:12:34:56)%s; got '%s'" % (
            " or its name in %s" % config.room if config.listed else ", or its name with --room FILE",
            escaped(config.pc or "")))
    if pc_mac_problem(mac):
        raise Refusal("--pc: %s" % pc_mac_problem(mac))
    name = config.listed.name(mac) if config.listed else None
    config.listed = roomlist.RoomList(config.room)
    config.listed.add(mac, name)
    config.pc, config.pc_shown, config.expected = mac, "%s (%s)" % (name, mac) if name else mac, [mac]


def _to_deploy(config):
    """The MACs of the room list that the room waits for: those not deployed yet, and those to image again."""
    try:
        deployed = ServedList(os.path.join(config.work_dir, "deployed"))
    except OSError:  # the work folder's own check says why
        deployed = set()
    expected = [mac for mac in config.listed.names if mac not in deployed or config.again == "all"
                or mac in config.again]
    if not expected and not config.machines:
        raise Refusal("every PC of the room list %s is deployed already (%s/deployed): give those to image again "
                      "with --again NAME,... or --again all" % (config.room, config.work_dir))
    return expected


def main(argv):
    name = argv[argv.index("--name") + 1] if "--name" in argv[:-1] else "roomserver"
    try:
        config, check = parse(argv)
    except Refusal as refusal:
        print("%s: %s" % (name, spoken(str(refusal), name)), file=sys.stderr)
        return 2
    if check:
        return 0
    if config.mode == "answer":
        sys.stdout.write(unattend.for_pc(config.unattend, None))
        return 0
    try:
        return asyncio.run(Server(config).run())
    except Exception as error:  # a fault of ours: what the run made is gone already (Server.finish)
        print("%s: the server failed: %r" % (name, error), file=sys.stderr)
        return 1
