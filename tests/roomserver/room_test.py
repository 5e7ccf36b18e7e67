"""The room's road as a table of steps (events, stages, top line, decision), and the parsers of udp-sender's
and dnsmasq's lines that feed it."""
import contextlib
import io
import os
import stat
import sys
import tempfile
import time
import unittest

os.environ["TZ"] = "UTC"
time.tzset()
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../.."))
from roomserver import cli, views  # noqa: E402
from roomserver.config import Config  # noqa: E402
from roomserver.core import Core  # noqa: E402
from roomserver.dnsmasq_log import DnsmasqLog  # noqa: E402
from roomserver.room import Room  # noqa: E402
from roomserver.roomlist import Refusal, RoomList, read  # noqa: E402
from roomserver.sender_log import SenderLog  # noqa: E402
from roomserver.terminal import Terminal  # noqa: E402

A, B, C, D, E = "52:54:00:00:00:0a", "52:54:00:00:00:0b", "52:54:00:00:00:0c", "52:54:00:00:00:0d", "52:54:00:00:00:0e"
A1, A2, A3 = "52:54:00:9a:00:01", "52:54:00:9a:00:02", "52:54:00:9a:00:03"
USB = "10.0.0.50"
# now, key, kind, value (None: nothing happens), then the stages of the PCs named, the top line, the decision.
ROAD = [
    (0, A, "woken", "", {A: "woken 1 times, no answer yet"}, None, None),
    (0, "room", "listening", "1", {}, "0 of 2 joined; sending starts at 2 or 300 s after the first joins", None),
    (10, A, "offered", "0", {A: "offered"}, None, None),
    (11, A, "address", "10.0.0.11", {}, None, None),
    (13, A, "loading", "50", {A: "loading WinPE 50%"}, None, None),
    (20, A, "started", "", {A: "WinPE started"}, None, None),
    (30, "10.0.0.11", "joined", "1", {A: "joined the multicast"}, "1 of 2 joined; sending starts at 2 or at 00:05:30",
     None),
    (40, E, "claim", USB, {}, None, None),
    (40, USB, "joined", "1", {E: "joined the multicast"}, "2 of 2 joined; sending starts at 2 or at 00:05:30",
     "start"),
    (41, "room", "sending", "1", {A: "receiving 0%"}, "transfer 1: sending to 2 PCs, 0%", None),
    (50, B, "offered", "7", {B: "offered; late: waits for the next transfer"}, None, None),
    (55, B, "address", "10.0.0.12", {}, None, None),
    (56, B, "started", "", {B: "WinPE started; late: waits for the next transfer"},
     "transfer 1: sending to 2 PCs, 0%; 1 late, waiting for the next transfer", None),
    (60, "room", "progress", "40", {A: "receiving 40%", E: "receiving 40%"}, None, None),
    (70, USB, "dropped", "1", {E: "FAILED: dropped by the sender (transfer 1)"}, None, None),
    (80, "room", "complete", "1", {}, None, "next"),
    (80, "10.0.0.11", "received", "1", {A: "image received"}, None, "next"),
    (81, "room", "ended", "1", {}, "1 of 2 PCs that joined received the whole image", "next"),
    (82, "room", "listening", "2", {B: "WinPE started"}, "transfer 2: waiting for late PCs until 00:02:22", None),
    (90, "10.0.0.12", "joined", "2", {B: "joined the multicast (transfer 2)"},
     "transfer 2: 1 late PC joined; sending starts at 00:02:30 unless another joins", None),
    (149, None, None, None, {}, None, None),
    (150, None, None, None, {}, None, "start"),
    (151, "room", "sending", "2", {B: "receiving 0%"}, None, None),
    (190, "room", "complete", "2", {}, None, "next"),
    (190, "10.0.0.12", "received", "2", {B: "image received"}, None, "next"),
    (200, "room", "listening", "3", {}, None, None),
    (230, A, "offered", "0", {A: "image received"}, None, None),
    (231, A, "disk", "", {A: "sent to its disk"}, None, None),
    (240, C, "offered", "0", {C: "offered"}, None, None),
    (260, None, None, None, {}, None, None),
    (261, C, "disk", "", {C: "sent to its disk"}, None, "finish"),
    (262, D, "ignored", "7", {D: "not in the room list: left alone"}, None, "finish"),
]
CLAIMED = "FAILED: two hosts claim its MAC (10.0.0.12, 10.0.0.66): it gets nothing more"
# A hostile segment: an outsider that joins, a MAC claimed twice, a PC asking again for what it has had. The room
# lists A to D and is to deploy A, B and C.
HOSTILE_ROAD = [
    (0, "room", "listening", "1", {}, "0 of 1 joined; sending starts at 1", None),
    (1, "10.0.0.66", "joined", "1", {"10.0.0.66": "not in the room list: joined the multicast"},
     "0 of 1 joined; sending starts at 1", None),
    (2, A, "claim", "10.0.0.11", {}, None, None),
    (2, A, "offered", "0", {A: "offered"}, None, None),
    (2, A, "winpe", "", {A: "loading WinPE 0%"}, None, None),
    (3, A, "waiting", "", {A: "waiting for the image"}, None, None),
    (4, A, "winpe", "", {A: "waiting for the image"}, None, None),
    (5, "10.0.0.11", "joined", "1", {A: "joined the multicast"}, "1 of 1 joined; sending starts at 1", "start"),
    (6, B, "claim", "10.0.0.12", {}, None, "start"),
    (7, B, "claim", "10.0.0.66", {B: CLAIMED, "10.0.0.66": "FAILED: claims the MAC of LAB1-02 too: it gets nothing"},
     None, "start"),
    (8, B, "waiting", "", {B: CLAIMED}, None, "start"),
    (9, D, "disk", "", {D: "sent to its disk"}, None, "start"),
    (9, D, "model", "Dell Inc. OptiPlex 7090", {D: "sent to its disk"}, None, "start"),
    (9, D, "drivers-loaded", "3/4", {D: "drivers loaded: 3 of 4"}, None, "start"),
    (10, D, "guard-allowed", "", {D: "disk guard: disk 0 may be wiped"}, None, "start"),
    (10, D, "applying", "", {D: "applying image"}, None, "start"),
    (10, D, "drivers-added", "5", {D: "drivers added: 5"}, None, "start"),
    (10, D, "answer-file", "", {D: "answer file written"}, None, "start"),
    (10, D, "drivers-loaded", "3/4", {D: "answer file written"}, None, "start"),
    (11, "room", "sending", "1", {}, None, None),
    (12, "room", "complete", "1", {}, None, "next"),
    (12, "10.0.0.11", "received", "1", {A: "image received"}, None, "next"),
    (12, "10.0.0.66", "received", "1", {"10.0.0.66": "FAILED: claims the MAC of LAB1-02 too: it gets nothing"},
     "0 of 1 PCs that joined were deployed", "next"),
]


WRITE = "one PC a line, its MAC and optionally its name (52:54:00:12:34:56  LAB1-07)"
ROOM_FILES = [  # a room list (or what makes the file), and what it reads as (MAC: name) or its refusal
    ("\ufeff# room 1\n52-54-00-AA-00-01  LAB1-01\r\n\n 52:54:00:aa:00:02  # by the door\n52:54:00:aa:00:03 9lives\n",
     {"52:54:00:aa:00:01": "LAB1-01", "52:54:00:aa:00:02": None, "52:54:00:aa:00:03": "9lives"}),
    ("LAB1-01 52:54:00:aa:00:01\n", "line 1: 'LAB1-01' is not a MAC address: " + WRITE),
    ("52:54:00:aa:00:01\n52:54:00:aa:00:0 LAB1-02\n", "line 2: '52:54:00:aa:00:0' is not a MAC address: " + WRITE),
    ("52:54:00:aa:00:01 LAB1 01\n", "line 1: more than a MAC and a name: " + WRITE),
    ("52:54:00:aa:00:01\n#\n52-54-00-AA-00-01\n", "line 3: 52:54:00:aa:00:01 is on line 1 already: each PC once"),
    ("52:54:00:aa:00:01 lab1-01\n52:54:00:aa:00:02 LAB1-01\n", "line 2: the name LAB1-01 is on line 1 already (a "
     "name is the same in any case): give each PC a name of its own"),
    ("52:54:00:aa:00:01\n\ufeff52:54:00:aa:00:02\n", "line 2: '\\ufeff52:54:00:aa:00:02' is not a MAC address: "
     + WRITE),
    ("52:54:00:aa:00:01\n52:54:00:aa:00:02 LAB1-02\x0b\x1b[2J\n", "line 2: a control character '\\x0b' at column 26: "
     + WRITE),
    ("52:54:00:aa:00:01\n".ljust(32 << 20, "#"), {"52:54:00:aa:00:01": None}),
] + [(make, "the room list FILE is %s: give a regular file of at most 32 MiB, %s" % (kind, WRITE)) for make, kind in (
    (os.mkfifo, "a FIFO"), (lambda path: os.symlink("/dev/zero", path), "a symbolic link"),
    (lambda _: "/dev/zero", "a device"), (lambda path: os.mknod(path, stat.S_IFSOCK), "a socket"),
    (lambda path: os.truncate(write(path, ""), (32 << 20) + 1), "larger than 32 MiB"))] + [
    ("%s LAB1-01\n" % mac, "line 1: %s is %s, no PC's: give the MAC of the PC's network card" % (mac.lower(), why))
    for mac, why in (("FF:FF:FF:FF:FF:FF", "the broadcast address"), ("00:00:00:00:00:00", "all zeros"),
                     ("01:00:5E:00:00:01", "a multicast address (its first octet is odd)"))] + [
    ("52:54:00:aa:00:01 %s\n" % name, "line 1: '%s' cannot be a computer name: at most 15 letters, digits and "
     "hyphens, not digits only, not a hyphen first (LAB1-07)" % name.replace("\u202e", "\\u202e"))
    for name in ("LAB1_01", "1234", "LAB-ROOM-1-PC-01", "PC.7", "-LAB", "\u202eLAB1-01")] + [
    ("# nobody yet\n", "lists no PC: %s; serve-pxe --collect FILE writes the MACs of the PCs that boot from the network"
     % WRITE)]


def write(path, text):
    with open(path, "w", encoding="utf-8") as out:
        out.write(text)
    return path


class RoomState(unittest.TestCase):
    def test_room_lists(self):
        with tempfile.TemporaryDirectory() as work:
            for number, (text, expected) in enumerate(ROOM_FILES):
                path = "%s/%d" % (work, number)
                path = text(path) or path if callable(text) else write(path, text)
                try:
                    got = read(path).names
                except Refusal as refusal:
                    got = str(refusal).replace(path, "FILE").removeprefix("FILE ")
                self.assertEqual(got, expected, text if callable(text) else text[:100])
            # The list is the room: the PCs to wait for and to wake, names for MACs; a MAC list file is read alike.
            room, _ = write(work + "/room", ROOM_FILES[0][0]), write(work + "/deployed", "52:54:00:aa:00:03\n")
            config, _ = cli.parse(["room", "--name", "serve-room", "--work-dir", work, "--room", room, "--wake-listed"])
            self.assertEqual((config.machines, config.wake), (2, list(ROOM_FILES[0][1])))
            again, _ = cli.parse(["room", "--name", "serve-room", "--work-dir", work, "--room", room, "--again",
                                  "lab1-01,52:54:00:AA:00:03"])
            self.assertEqual((again.machines, again.again), (3, ["52:54:00:aa:00:01", "52:54:00:aa:00:03"]))
            self.assertEqual(cli.mac_list("--wake", room), list(ROOM_FILES[0][1]))
            for given, said in (
                    ("door\x1b", "--wake needs MACs (52:54:00:12:34:56) separated by commas, or a file of them one a "
                     "line; got 'door\\x1b'"),
                    ("FF-FF-FF-FF-FF-FF", "--wake: ff:ff:ff:ff:ff:ff is the broadcast address, no PC's: give the MAC "
                     "of the PC's network card")):
                with self.assertRaises(cli.Refusal) as refused:
                    cli.mac_list("--wake", "52:54:00:aa:00:03," + given)
                self.assertEqual(str(refused.exception), said)

    def test_sender_lines(self):
        log = SenderLog(2, 4000, arp={"10.0.0.5": A}.get)
        for line, events in [
                ("New connection from 10.0.0.5  (#0) 00000009\n",
                 [(A, "claim", "10.0.0.5"), ("10.0.0.5", "joined", "2")]),
                ("New connection from 10.0.0.6  (#1) 00000009\n", [("10.0.0.6", "joined", "2")]),
                ("Starting transfer: 00000009\n", [("room", "sending", "2")]),
                ("bytes=  1 000 re-xmits=0000000 (  0.0%) slice=0112 -   0\r", [("room", "progress", "25")]),
                ("bytes=  1 020 re-xmits=0000000 (  0.0%) slice=0112 -   0\r", []),
                ("Timeout notAnswered=[0,1] notReady=[] nrAns=0 nrRead=0 nrPart=2 avg=10000\n",
                 [("10.0.0.5", "stalling", "2"), ("10.0.0.6", "stalling", "2")]),
                ("Dropping client #1 because of timeout\n", [("10.0.0.6", "dropped", "2")]),
                ("Disconnecting #0 (10.0.0.5)\n", []),
                ("Transfer complete.\a\n", [("room", "retransmitted", "0.0%"), ("room", "complete", "2")]),
                ("Disconnecting #0 (10.0.0.5)\n", [("10.0.0.5", "received", "2")])]:
            self.assertEqual(log.feed(line), events, line)
        self.assertEqual(log.end(), [("room", "ended", "2")])

    def test_dnsmasq_lines(self):
        """Lines recorded from dnsmasq 2.90 with the known PCs 01 and 02 (dhcp-ignore=tag:!known): in proxy mode
        beside a site's DHCP server, a BIOS PC (iPXE ROM), a UEFI PC (OVMF's PXE, then snponly.efi's iPXE) and PC 03
        ignored; then with a range of its own, the same PCs."""
        log = DnsmasqLog()
        with open(os.path.join(os.path.dirname(os.path.abspath(__file__)), "dnsmasq.log"), encoding="utf-8") as lines:
            events = [event for line in lines for event in log.feed(line)]
        self.assertEqual(events, [(A1, "offered", "0"), (A3, "ignored", "0")] + [(A2, "offered", "7")] * 2 + [
            (A1, "offered", "0"), (A1, "address", "10.99.0.209"), (A3, "ignored", "0"), (A1, "address", "10.99.0.209"),
            (A2, "offered", "7"), (A2, "address", "10.99.0.210"), (A2, "address", "10.99.0.210")])

    def walk(self, room, road):
        for now, key, kind, value, stages, top, decision in road:
            if key:
                room.apply(now, key, kind, value)
            rows = {pc.mac or pc.ip: room.stage(pc)[0] for pc in room.pcs.values()}
            self.assertEqual({pc: rows.get(pc) for pc in stages}, stages, (now, kind))
            if top:
                self.assertEqual(room.top(now), top, (now, kind))
            self.assertEqual(room.decision(now), decision, (now, kind))
            if now == 70:
                self.assertEqual([pc.ip for pc in room.ordered()][:2], [USB, "10.0.0.12"])  # failed, late first

    def test_road(self):
        listed = RoomList()
        for mac, name in ((A, "LAB1-01"), (B, "LAB1-02"), (C, None), (E, None)):
            listed.add(mac, name)
        room = Room(machines=2, max_wait=300, late_wait=60, size=2000000, listed=listed)
        self.walk(room, ROAD)
        self.assertEqual(room.outcome()[:3], (1, 2, 3))
        self.assertEqual([pc.ip for pc in room.outcome()[3]], [USB])
        self.assertEqual(views.summary(room, 262, "serve-room", outcome=True), [
            "PC       MAC                IP         firmware  last stage                                  "
            "s from offer to image",
            "-        52:54:00:00:00:0e  10.0.0.50  USB       FAILED: dropped by the sender (transfer 1)  -",
            "LAB1-01  52:54:00:00:00:0a  10.0.0.11  BIOS      sent to its disk                            70",
            "LAB1-02  52:54:00:00:00:0b  10.0.0.12  UEFI      image received                              140",
            "-        52:54:00:00:00:0c  -          BIOS      sent to its disk                            -",
            "-        52:54:00:00:00:0d  -          UEFI      not in the room list: left alone            -",
            "transfer 1: 2000000 bytes to 2 PCs in 39.0 s, 0.4 Mbit/s, 0.0% retransmitted",
            "transfer 2: 2000000 bytes to 1 PC in 39.0 s, 0.4 Mbit/s, 0.0% retransmitted",
            "2 of 3 PCs that joined received the whole image; not: 52:54:00:00:00:0e (FAILED: dropped by the sender "
            "(transfer 1))", "Start the USB PCs from the medium again while serve-room runs"])

    def test_only_the_room_counts(self):
        listed = RoomList()
        for mac, name in ((A, "LAB1-01"), (B, "LAB1-02"), (C, "LAB1-03"), (D, "LAB1-04")):
            listed.add(mac, name)
        room = Room(machines=1, listed=listed, expected=[A, B, C])
        room.served = [A]
        self.walk(room, HOSTILE_ROAD)
        self.assertEqual(views.summary(room, 13, "serve-room", outcome=True)[-4:], [
            "0 of 1 PCs that joined were deployed; not: LAB1-01 (image received), LAB1-02 (%s), LAB1-03 (never asked "
            "the server)" % CLAIMED, "Two hosts claimed the MAC of LAB1-02 (the journal names their addresses): find "
            "the other host, then run serve-room again", "They are in the list of PCs served, so a network boot sends "
            "them to their (wiped) disk: run serve-room again with --again LAB1-01 and power them on",
            "Not served yet, so a network boot starts WinPE on them: run serve-room again and power on LAB1-03"])
        self.assertEqual(room.outcome()[0], 1)
        said = dict(views.lines(room, 13))  # a make and model said: a column of its own, "-" without
        self.assertEqual([said["head"], said[A], said[D]], [
            "PC       MAC                IP         firmware  make and model           stage",
            "LAB1-01  52:54:00:00:00:0a  10.0.0.11  BIOS      -                        image received",
            "LAB1-04  52:54:00:00:00:0d  -          -         Dell Inc. OptiPlex 7090  answer file written"])
        self.assertIn("<td>Dell Inc. OptiPlex 7090</td><td>answer file written", views.page(room, 13, "room"))

    def test_broken_transfer_and_pcs_that_report(self):
        """udp-sender dies mid-transfer: the next transfer, for the PCs that start over; the room waits for a PC
        that reports until it says how it ended, and the summary names what the answer files named. The first
        transfer starts max_wait after the first PC joins."""
        listed = RoomList()
        for mac, name in ((A, None), (B, "LAB1-02"), (C, "LAB1-03")):
            listed.add(mac, name)
        room = Room(max_wait=5, late_wait=10, size=1000, listed=listed)
        apply = lambda *events: [room.apply(*event) for event in events]  # noqa: E731
        apply((0, "room", "listening", "1"), (1, A, "address", "10.0.0.11"), (1, A, "waiting", ""),
              (1, "10.0.0.11", "joined", "1"))
        self.assertEqual((room.decision(5), room.decision(6)), (None, "start"))
        apply((6, "room", "sending", "1"), (8, "room", "ended", "1"))
        self.assertEqual((room.decision(8), room.stage(room.pcs[A])),
                         ("next", ("transfer 1 broke off: it starts over by itself", "waiting")))
        apply((9, "room", "listening", "2"), (20, A, "starting-over", "2"))
        self.assertEqual((room.decision(20), room.stage(room.pcs[A])[0]),
                         (None, "transfer broke off: starting over (try 2)"))
        apply((21, "10.0.0.11", "joined", "2"), (31, "room", "sending", "2"), (40, "room", "complete", "2"),
              (40, "10.0.0.11", "received", "2"), (41, "room", "listening", "3"), (42, A, "applying", ""),
              (43, A, "disk-prepared", ""))  # a report that came late does not take the PC back
        self.assertEqual((room.decision(60), room.outcome()[:3], room.stage(room.pcs[A])[0]),
                         (None, (1, 0, 1), "applying image"))
        room.apply(61, A, "deployed", "")
        self.assertEqual((room.decision(61), room.outcome()), ("finish", (0, 1, 1, [])))
        self.assertEqual(Room().outcome(), (1, 0, 0, []))  # no PC joined: no success
        for mac in (B, C, D):  # D is not in the room list: Windows picks its name
            apply((62, mac, "answer-file"), (63, mac, "deployed"))
        self.assertEqual(views.summary(room, 64, "serve-room", True, answer_files=True)[-3:], [
            "answer files written, each PC named as in the room list: LAB1-02, LAB1-03",
            "answer files written with ComputerName * (Windows picks a name; name them in the room list): "
            "52:54:00:00:00:0d",
            "deployed without an answer file, so their first boot waits at Windows' setup screens: "
            "52:54:00:00:00:0a"])

    def test_lines_off_a_terminal(self):
        """In a log, each line that changed, once: two USB PCs, known by their addresses alone, a row each."""
        core = Core(Config(mode="room", machines=3))
        terminal, core.tty, out = Terminal(core, ["help"]), False, io.StringIO()
        core.listeners = [terminal.heard]
        with contextlib.redirect_stdout(out):
            for key, kind in [("room", "listening"), ("10.0.0.50", "joined"), ("10.0.0.51", "joined"), (None, None),
                              ("10.0.0.51", "dropped"), (None, None)]:
                if key:
                    core.event(key, kind, "1")
                terminal.show(0)
        self.assertEqual(out.getvalue().splitlines(), [
            "0 of 3 joined; sending starts at 3", "1 of 3 joined; sending starts at 3",
            "-   -    10.0.0.50  USB       joined the multicast", "2 of 3 joined; sending starts at 3",
            "-   -    10.0.0.51  USB       joined the multicast",
            "-   -    10.0.0.51  USB       FAILED: dropped by the sender (transfer 1)"])

    def test_wake(self):
        room = Room()
        self.assertEqual(room.to_wake(0, [A, C]), [A, C])
        room.apply(0, A, "woken", "")
        room.apply(0, C, "woken", "")
        room.apply(30, A, "offered", "7")
        for now, wake in [(119, []), (120, [C]), (500, [C])]:
            self.assertEqual(room.to_wake(now, [A, C]), wake, now)


if __name__ == "__main__":
    unittest.main()
