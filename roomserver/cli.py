"""How the bash of serve-pxe, serve-room and send-image hands over, once it has checked and prepared the run:

  python3 -m roomserver pxe|room|send|collect --name NAME [--check] [options] [-- UDP-SENDER ARGUMENTS...]
  python3 -m roomserver answer --name NAME --unattend FILE     the answer file for a medium (ComputerName *)

With --check, the values an operator gave are checked, early, and nothing runs.

Options: --interface IF --address A --port P --dhcp MODE --run DIR (dnsmasq.conf, tftp/, http/) --work-dir DIR
(served) --journal FILE --remove PATH (at the end; repeated) --image FILE --machines N --max-wait S --late-wait S
--nokbd --retries N --room FILE (the room list; for collect, the file it writes) --wake MACS|FILE --wake-listed
--again MACS|NAMES|FILE|all --unattend FILE (the answer file's template). A value an operator gave that is not
of its kind: one line led by NAME, status 2.
"""

import argparse
import asyncio
import os
import sys

from roomserver import roomlist, unattend
from roomserver.macs import normal_mac
from roomserver.roomlist import Refusal
from roomserver.server import Server
from roomserver.served import ServedList
from roomserver.spoken import spoken


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
                                        else "", entry[:40]))
        macs.append(mac)
    return macs


def parse(argv):
    sender = argv[argv.index("--") + 1:] if "--" in argv else []
    argv = argv[:argv.index("--")] if "--" in argv else argv
    parser = _Parser(add_help=False)
    parser.add_argument("mode", choices=("pxe", "room", "send", "collect", "answer"))
    parser.add_argument("--name", required=True)
    for name in ("interface", "address", "dhcp", "run", "work-dir", "journal", "image", "wake", "again", "room",
                 "unattend"):
        parser.add_argument("--" + name)
    for name in ("port", "machines", "max-wait", "retries"):
        parser.add_argument("--" + name, type=int)
    parser.add_argument("--late-wait", type=int, default=60)
    parser.add_argument("--nokbd", action="store_true")
    parser.add_argument("--wake-listed", action="store_true")
    parser.add_argument("--check", action="store_true")
    parser.add_argument("--remove", action="append", default=[])
    config = parser.parse_args(argv)
    config.sender = sender
    if config.room and (config.mode != "collect" or os.path.exists(config.room)):
        config.listed = roomlist.read(config.room, empty_allowed=config.mode == "collect")
    else:
        config.listed = roomlist.RoomList(config.room) if config.mode == "collect" else None
    if config.wake_listed and not config.listed:
        raise Refusal("--wake without MACs wakes the PCs of the room list: give --room FILE, or the MACs to wake")
    config.wake = mac_list("--wake", config.wake, room=config.listed) if config.wake else []
    if config.wake_listed:
        config.wake = list(config.listed.names)
    config.again = mac_list("--again", config.again, True, config.listed) if config.again else []
    config.unattend = unattend.read(config.unattend) if config.unattend else None
    if config.mode == "room" and config.listed and not config.machines:
        try:
            deployed = ServedList(os.path.join(config.work_dir, "deployed"))
        except OSError:  # the work folder's own check says why
            deployed = set()
        config.machines = sum(1 for mac in config.listed.names if mac not in deployed or config.again == "all"
                              or mac in config.again)
        if not config.machines:
            raise Refusal("every PC of the room list %s is deployed already (%s/deployed): give those to image "
                          "again with --again NAME,... or --again all" % (config.room, config.work_dir))
    return config


def main(argv):
    name = argv[argv.index("--name") + 1] if "--name" in argv[:-1] else "roomserver"
    try:
        config = parse(argv)
    except Refusal as refusal:
        print("%s: %s" % (name, spoken(str(refusal), name)), file=sys.stderr)
        return 2
    if config.check:
        return 0
    if config.mode == "answer":
        sys.stdout.write(unattend.for_pc(config.unattend, None))
        return 0
    try:
        return asyncio.run(Server(config).run())
    except Exception as error:  # a fault of ours: what the run made is gone already (Server.finish)
        print("%s: the server failed: %r" % (name, error), file=sys.stderr)
        return 1
