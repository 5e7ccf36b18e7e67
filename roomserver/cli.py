"""How the bash of serve-pxe, serve-room and send-image hands over, once it has checked and prepared the run:

  python3 -m roomserver pxe|room|send --name NAME [options] [-- UDP-SENDER ARGUMENTS...]
  python3 -m roomserver check --name NAME [--wake ...] [--again ...]    the values an operator gave, early

Options: --interface IF --address A --port P --dhcp MODE --run DIR (dnsmasq.conf, tftp/, http/) --work-dir DIR
(served) --journal FILE --lock-fd N (held for the whole run) --remove PATH (at the end; repeated) --image FILE
--machines N --max-wait S --late-wait S --nokbd --retries N --wake MACS|FILE --again MACS|FILE|all.
A value an operator gave that is not of its kind: one line led by NAME, status 2.
"""

import argparse
import asyncio
import os
import sys

from roomserver.macs import normal_mac
from roomserver.server import Server


class Refusal(Exception):
    pass


class _Parser(argparse.ArgumentParser):
    def error(self, message):
        raise Refusal(message)


def mac_list(option, given, allow_all=False):
    """The MACs of GIVEN: MAC[,MAC...] or a file with one a line (its first word; blank lines and # comments
    aside: the list of PCs served is one); 'all' where ALLOW_ALL."""
    if allow_all and given == "all":
        return "all"
    if os.path.isfile(given):
        try:
            with open(given, encoding="utf-8", errors="replace") as lines:
                entries = [line.split("#")[0].split()[0] for line in lines if line.split("#")[0].strip()]
        except OSError as error:
            raise Refusal("cannot read %s: %s" % (given, error.strerror))
    else:
        entries = given.split(",")
    macs = []
    for entry in entries:
        if not normal_mac(entry):
            raise Refusal("%s needs MACs (52:54:00:12:34:56) separated by commas, %sor a file of them one a line; "
                          "got '%s'" % (option, "all, " if allow_all else "", entry))
        macs.append(normal_mac(entry))
    return macs


def parse(argv):
    sender = argv[argv.index("--") + 1:] if "--" in argv else []
    argv = argv[:argv.index("--")] if "--" in argv else argv
    parser = _Parser(add_help=False)
    parser.add_argument("mode", choices=("pxe", "room", "send", "check"))
    parser.add_argument("--name", required=True)
    for name in ("interface", "address", "dhcp", "run", "work-dir", "journal", "image", "wake", "again"):
        parser.add_argument("--" + name)
    for name in ("port", "lock-fd", "machines", "max-wait", "retries"):
        parser.add_argument("--" + name, type=int)
    parser.add_argument("--late-wait", type=int, default=60)
    parser.add_argument("--nokbd", action="store_true")
    parser.add_argument("--remove", action="append", default=[])
    config = parser.parse_args(argv)
    config.sender = sender
    config.wake = mac_list("--wake", config.wake) if config.wake else []
    config.again = mac_list("--again", config.again, allow_all=True) if config.again else []
    return config


def main(argv):
    name = argv[argv.index("--name") + 1] if "--name" in argv[:-1] else "roomserver"
    try:
        config = parse(argv)
    except Refusal as refusal:
        print("%s: %s" % (name, refusal), file=sys.stderr)
        return 2
    if config.mode == "check":
        return 0
    return asyncio.run(Server(config).run())
