"""The room, without I/O: one PC per MAC (or per address, for a PC that joins the multicast without having
booted from here), the transfers, and what to do next. Events come in with their time:

  key MAC:     woken, offered (PXE architecture), address (IPv4, from DHCP), claim (IPv4: a request or a
               receiver of the multicast came from there with this MAC), platform (iPXE's pcbios or efi), winpe (its
               WinPE script was sent), loading (percent of boot.wim), started (boot.wim went whole), disk,
               ignored (a PC not in the room list asked: left alone; value: the PXE architecture), and what
               the PC reports itself (stages.REPORTS; receiving: bytes, starting-over: the try, failed: its
               Error line)
  key address: joined, dropped, received (value: the transfer's number)
  key "room":  listening N, sending N, progress PERCENT, retransmitted SHARE, complete N, ended N

Only the room counts: with a room list, a receiver whose MAC is not on it (or not known) is shown, never
waited for or counted. A MAC claimed from a second address is held: two hosts say they are that PC, so the
server gives it nothing more (netboot.py) and its row says so until the operator acts.

A PC that reaches WinPE while a transfer is sent cannot join it (udp-sender takes no one in then): it is late
and waits for the next transfer, which starts once no further PC has joined for late_wait seconds. After the
last transfer the room is finished once no PC has joined the next one and none is on its way for late_wait.
"""

import re
import time

from roomserver import stages
from roomserver.config import Config

STALL = 300  # seconds without news after which a PC on its way no longer holds the room up
WAKE_AGAIN = 120  # seconds after a wake-up without a request from the PC until the next one
ALONE_SHOWN = 64  # PCs not in the room list shown at most: a flood of made-up MACs cannot grow the table
ROWS_AT_MOST = 2048  # PCs known besides those of the room list: whatever a segment sends, the room stays this size
CLAIMS_KEPT = 4  # addresses kept of those that claim one MAC
# A PC in WinPE on its way (it reported, or joined the multicast): a boot script or boot image for its MAC does
# not take its row back, unless its firmware asked for a network boot since (it restarted).
IN_WINPE = range(4, 15)
FIRMWARE_OF_ARCH = {"0": "BIOS", "6": "UEFI", "7": "UEFI", "9": "UEFI"}
FIRMWARE_OF_PLATFORM = {"pcbios": "BIOS", "efi": "UEFI"}
ON_ITS_WAY = ("offered", "loading", "started", "drivers-loaded", "guard-allowed", "disk-prepared", "waiting",
              "starting-over")
# A PC that reports is waited for in these until it says how it ended.
FINISHING = ("received", "applying", "drivers-added", "boot-files", "answer-file")
IPV4 = re.compile(r"(25[0-5]|2[0-4]\d|1?\d?\d)(\.(25[0-5]|2[0-4]\d|1?\d?\d)){3}")


def pcs(number, kind=""):
    """"1 PC", "2 PCs"; with KIND: "1 late PC"."""
    return "%d %sPC%s" % (number, kind, "" if number == 1 else "s")


def clock(when):
    return time.strftime("%H:%M:%S", time.localtime(when))


class PC:
    def __init__(self, mac, when, name=None):
        self.mac, self.name, self.ip, self.firmware, self.stage, self.percent = mac, name, "-", "-", "off", 0
        self.transfer = self.offered = self.started = self.received = self.woken_at = None
        self.woken, self.answered, self.dropped, self.last = 0, False, False, when
        self.unsaved = False  # served, but the list of PCs served could not be saved since
        self.reported, self.bytes, self.attempt, self.error = False, 0, 1, ""  # what the PC itself says
        self.answer_written = False
        self.booting = False  # offered a network boot while in WinPE: it restarted
        self.claims = []  # the addresses its requests came from: the first is its own, a second one a rival
        self.model, self.loaded, self.drivers = "", 0, 0  # its firmware's make and model; drivers it has
        self.rate = 0.0  # MB/s of a capture while it is written


class Room:
    """LISTED: the room list (roomlist.RoomList), or None when every PC is the room's."""

    def __init__(self, machines=None, max_wait=None, late_wait=Config.late_wait, size=0, listed=None, expected=()):
        self.pcs, self.by_ip, self.listed, self.alone_more, self.broken = {}, {}, listed, 0, set()
        self.expected, self.served, self.more = expected, (), 0  # the MACs to deploy; the list of PCs served
        self.machines, self.max_wait, self.late_wait, self.size = machines, max_wait, late_wait, size
        self.figures, self.share = [], "0.0%"  # the sender's figures, a line per transfer
        self.transfer, self.state, self.percent = 0, "idle", 0  # state: idle, listening, sending, done, ended
        self.since = self.first_join = self.last_join = None
        self.unsaved = None  # why the list of PCs served cannot be saved, while it cannot

    def pc(self, key, when):
        """The PC of KEY, made when new; None when the room is full (it is counted then, not kept)."""
        if key not in self.pcs:
            mac = None if IPV4.fullmatch(key) else key
            if len(self.pcs) >= ROWS_AT_MOST and not (self.listed and mac in self.listed.names):
                self.more += 1
                return None
            self.pcs[key] = PC(mac, when, self.listed.name(mac) if self.listed and mac else None)
        return self.pcs[key]

    def of_room(self, pc):
        """Whether PC counts: every PC without a room list, else one whose MAC it lists."""
        return self.listed is None or pc.mac in self.listed.names

    @property
    def joined_now(self):
        """The PCs of the room in the current transfer."""
        return sum(1 for pc in self.pcs.values() if pc.transfer == self.transfer and self.of_room(pc))

    def _at(self, ip, when):
        """The PC at address IP: one booted from here, or one of its own (None when the room is full)."""
        if ip not in self.by_ip:
            if not self.pc(ip, when):
                return None
            self.by_ip[ip], self.pcs[ip].ip = ip, ip
        return self.pcs[self.by_ip[ip]]

    def apply(self, when, key, kind, value=""):
        if key == "room":
            return self._room(when, kind, value)
        if kind == "ignored" and key not in self.pcs and sum(pc.stage == "alone" for pc in self.pcs.values()) \
                >= ALONE_SHOWN:
            self.alone_more += 1
            return
        pc = self._at(key, when) if IPV4.fullmatch(key) else self.pc(key, when)
        if pc is None or pc.stage in ("claimed", "claiming") and kind != "claim":
            return  # the rows of a MAC claimed twice stay as the claim left them
        if IPV4.fullmatch(key):
            self._multicast(pc, when, kind, value)
        else:
            self._network_boot(pc, key, when, kind, value)

    def _multicast(self, pc, when, kind, value):
        pc.last = when
        if kind == "joined":
            pc.stage, pc.transfer, pc.dropped = "joined", int(value), False
            if self.of_room(pc):
                self.first_join = self.first_join or when
                self.last_join = when
        elif kind == "dropped":
            pc.stage, pc.dropped = "dropped", True
        elif kind == "received":
            pc.stage, pc.received = "received", when

    def _network_boot(self, pc, mac, when, kind, value):
        pc.last = when
        if kind == "woken":
            pc.woken, pc.woken_at = pc.woken + 1, when
            return
        pc.answered = True
        if kind == "claim" and pc.claims and value not in pc.claims:
            pc.claims = (pc.claims + [value])[:CLAIMS_KEPT]
            pc.stage = "claimed"
            rival = self._at(value, when)
            if rival and rival is not pc:
                rival.stage, rival.error = "claiming", pc.name or mac
        elif kind in ("address", "claim"):
            pc.claims = pc.claims or ([value] if kind == "claim" else [])
            if self.by_ip.get(pc.ip) == mac:
                del self.by_ip[pc.ip]
            self._adopt(pc, value, when)
            pc.ip, self.by_ip[value] = value, mac
        elif kind in ("winpe", "loading", "started", "disk") and stages.place(pc.stage) in IN_WINPE and (
                not pc.booting):
            return  # asked again without a boot of its own before: the PC is in WinPE still
        elif kind == "offered":
            pc.firmware = FIRMWARE_OF_ARCH.get(value, pc.firmware)
            pc.offered, pc.booting = pc.offered or when, stages.place(pc.stage) in IN_WINPE
            if pc.stage in ("off", "disk"):
                pc.stage = "offered"
        elif kind == "platform":
            pc.firmware = FIRMWARE_OF_PLATFORM.get(value, pc.firmware)
        elif kind in ("winpe", "loading"):
            pc.stage, pc.percent, pc.booting = "loading", int(value or 0), False
        elif kind == "started":
            pc.stage, pc.started = "started", when
        elif kind == "disk":
            pc.stage, pc.booting = "disk", False
        elif kind == "model":
            pc.model = value
        elif kind == "saved":  # the server's own word on a capture: its image checked and in place
            pc.stage = kind
        elif kind == "ignored":
            pc.firmware = FIRMWARE_OF_ARCH.get(value, pc.firmware)
            pc.stage = "alone"
        elif kind in stages.REPORTS:
            self._report(pc, kind, value)

    def _report(self, pc, kind, value):
        pc.reported = True
        pc.answer_written = pc.answer_written or kind == "answer-file"
        if kind == "receiving":
            pc.bytes = int(value)
            kind = "receiving-bytes"
        elif kind in ("capture-found", "captured", "capturing"):
            pc.bytes = int(value or (pc.bytes if kind == "captured" else 0))
        if kind == "drivers-loaded":
            pc.loaded, pc.drivers = map(int, value.split("/"))
        elif kind == "drivers-added":
            pc.drivers = int(value)
        if kind == "starting-over":
            pc.attempt, pc.stage = int(value), kind
        elif kind in ("failed", "guard-refused"):
            pc.error, pc.stage = value, kind
        elif stages.place(kind) > stages.place(pc.stage) and not (kind == "receiving-bytes" and pc.stage == "joined"):
            pc.stage = kind

    def _adopt(self, pc, ip, when):
        """A PC known by its address only (ARP names its MAC later) becomes the MAC's PC: it joined now, when it
        is a PC of the room."""
        if self.by_ip.get(ip) == ip and ip in self.pcs:
            alone = self.pcs.pop(ip)
            pc.stage, pc.transfer, pc.received, pc.dropped = alone.stage, alone.transfer, alone.received, alone.dropped
            if pc.transfer == self.transfer and self.of_room(pc):
                self.first_join, self.last_join = self.first_join or when, when

    def _room(self, when, kind, value):
        if kind == "listening":
            self.transfer, self.state, self.since = int(value), "listening", when
            self.first_join = self.last_join = None
        elif kind == "sending":
            self.state, self.since, self.percent = "sending", when, 0
        elif kind == "progress":
            self.percent = int(value)
        elif kind == "retransmitted":
            self.share = value
        elif kind == "complete" and self.state == "sending":
            took = max(when - self.since, 0.001)
            self.figures.append("transfer %s: %d bytes to %s in %.1f s, %.1f Mbit/s, %s retransmitted" % (
                value, self.size, pcs(self.joined_now), took, self.size * 8 / took / 1e6, self.share))
            self.state = "done"
        elif kind == "ended" and self.state == "sending":
            # udp-sender died mid-transfer: its PCs start over by themselves and want the next transfer.
            self.figures.append("transfer %s: broke off after %.1f s at %d%% (udp-sender ended)" % (
                value, when - self.since, self.percent))
            self.broken.add(int(value))
            self.state = "done"
        elif kind == "ended" and self.state != "done":
            self.state = "ended"

    # --- what the room waits for, and what to do -----------------------------------------------------------
    def late(self, pc):
        return self.state == "sending" and pc.stage in ON_ITS_WAY

    def _on_its_way(self, now):
        """The PCs of the room it still waits for: on their way to the multicast (also those whose transfer broke
        off: they start over), or, reporting, on their way to their end."""
        def waited(pc):
            return (pc.stage in ON_ITS_WAY or pc.stage == "joined" and pc.transfer < self.transfer
                    or pc.reported and pc.stage in FINISHING)
        return [pc for pc in self.pcs.values() if waited(pc) and now - pc.last < STALL and self.of_room(pc)]

    def decision(self, now):
        """'start' (the waiting transfer sends now), 'next' (a transfer has ended: listen for another),
        'finish' (no PC is left waiting), 'failed' (udp-sender ended without a transfer), or None."""
        if self.state == "listening" and self.joined_now:
            if self.transfer > 1:
                return "start" if now >= self.last_join + self.late_wait else None
            if self.machines and self.joined_now >= self.machines:
                return "start"
            if self.max_wait is not None and now >= self.first_join + self.max_wait:
                return "start"
        elif self.state == "listening" and self.transfer > 1:
            if not self._on_its_way(now) and now >= self.since + self.late_wait:
                return "finish"
        elif self.state == "done":
            return "next"
        elif self.state == "ended":
            return "failed"
        return None

    def to_wake(self, now, macs):
        """Of MACS, those to wake now: never woken, or woken WAKE_AGAIN seconds ago without a word since."""
        return [mac for mac in macs if mac not in self.pcs
                or (not self.pcs[mac].answered and now >= self.pcs[mac].woken_at + WAKE_AGAIN)]

    def top(self, now):
        n, joined = self.transfer, self.joined_now
        if self.state == "sending":
            late = sum(1 for pc in self.pcs.values() if self.late(pc))
            text = "transfer %d: sending to %s, %d%%" % (n, pcs(joined), self.percent)
            return text + ("; %d late, waiting for the next transfer" % late if late else "")
        if self.state == "listening" and n == 1:
            starts = ["at %d" % self.machines] if self.machines else []
            if self.max_wait is not None:
                starts.append("at " + clock(self.first_join + self.max_wait) if self.first_join
                              else "%d s after the first joins" % self.max_wait)
            total = "%d of %d joined" % (joined, self.machines) if self.machines else "%d joined" % joined
            return "%s; sending starts %s" % (total, " or ".join(starts))
        if self.state == "listening":
            if joined:
                return "transfer %d: %s joined; sending starts at %s unless another joins" % (
                    n, pcs(joined, "late "), clock(self.last_join + self.late_wait))
            return "transfer %d: waiting for late PCs until %s" % (n, clock(self.since + self.late_wait))
        if self.state == "idle":
            return "%s booted from the network" % pcs(sum(1 for pc in self.pcs.values() if pc.offered))
        return "%d of %d PCs that joined %s" % (self.outcome()[1:3] + (self.done_words(),))

    def done_words(self):
        return "were deployed" if any(pc.reported for pc in self.pcs.values()) else "received the whole image"

    def stage(self, pc):
        """(label, state) of PC as it stands."""
        key = pc.stage
        if pc.transfer and not self.of_room(pc) and key in ("joined", "dropped", "received"):
            key = "outsider"
        elif key == "joined" and pc.transfer in self.broken:
            key = "broken"
        # Once the transfer is complete, a PC is still in it until udp-sender says it received everything.
        elif key == "joined" and self.state in ("sending", "done") and pc.transfer == self.transfer:
            key = "receiving"
        of_transfer = " (transfer %d)" % pc.transfer if pc.transfer and pc.transfer > 1 else ""
        text = stages.label(key, woken=pc.woken, percent=pc.percent, room_percent=self.percent,
                            transfer=pc.transfer, of_transfer=of_transfer, attempt=pc.attempt, error=pc.error,
                            megabytes="%.1f" % (pc.bytes / 1e6), claims=", ".join(pc.claims),
                            loaded=pc.loaded, drivers=pc.drivers, rate="%.1f" % pc.rate)
        if pc.unsaved and self.unsaved:
            text += "; not yet saved as served: " + self.unsaved
        if self.late(pc):
            return text + stages.LATE, "late"
        return text, stages.STAGES[key][1]

    def percent_of(self, pc):
        """How much of the image a PC has, for a bar, while it receives; else None."""
        if pc.stage == "joined" and pc.transfer == self.transfer and self.state == "sending":
            return self.percent
        if pc.stage == "receiving-bytes" and self.size:
            return min(100, pc.bytes * 100 // self.size)
        return None

    def ordered(self):
        """Failed PCs first, then late ones, then the rest in the order they came."""
        return sorted(self.pcs.values(), key=lambda pc: stages.RANK.get(self.stage(pc)[1], 2))

    def names_given(self):
        """For the summary: the name each PC's answer file gave it, and the deployed PCs that wrote none."""
        written = [pc for pc in self.pcs.values() if pc.answer_written]
        lines = []
        if any(pc.name for pc in written):
            lines.append("answer files written, each PC named as in the room list: " +
                         ", ".join(pc.name for pc in written if pc.name))
        if any(not pc.name for pc in written):
            lines.append("answer files written with ComputerName * (Windows picks a name; name them in the room "
                         "list): " + ", ".join(pc.mac or pc.ip for pc in written if not pc.name))
        bare = [pc.name or pc.mac or pc.ip for pc in self.pcs.values() if pc.stage == "deployed" and not
                pc.answer_written]
        if bare:
            lines.append("deployed without an answer file, so their first boot waits at Windows' setup screens: " +
                         ", ".join(bare))
        return lines

    def outcome(self):
        """(exit status, done, joined, PCs of the room that failed, joined without being done, or were to be
        deployed and are not): 0 when at least one PC of the room joined, every one that did is done, none
        failed and none is missing. Done: deployed, for a PC that reports; the image received, for one without
        a report channel (a USB medium without --server)."""
        def done(pc):
            return pc.stage == "deployed" if pc.reported else pc.received
        room = [pc for pc in self.pcs.values() if self.of_room(pc)]
        joined = [pc for pc in room if pc.transfer]
        missed = [pc for pc in room if stages.STAGES[pc.stage][1] == "failed" or pc.transfer and not done(pc)]
        for mac in self.expected:
            pc = self.pcs.get(mac) or PC(mac, 0, self.listed.name(mac) if self.listed else None)
            pc.stage = "unseen" if mac not in self.pcs else pc.stage
            if pc not in missed and not (pc.transfer and done(pc)):
                missed.append(pc)
        done_count = len(joined) - sum(1 for pc in missed if pc.transfer)
        return (0 if joined and not missed else 1), done_count, len(joined), missed
