"""The state of a room over the whole road, without I/O: network boot, multicast, summary.

Builds on pxe_state's event log (seconds, KEY, kind, value; tab-separated). KEY is a PC's MAC for
the network boot's events (pxe_state's kinds, and woken: a Wake-on-LAN packet was sent to it), a
PC's IPv4 address for the multicast's (joined, dropped, received; value: the transfer's number),
and "room" for the room's own: settings (machines=N,max_wait=S,late_wait=S,size=BYTES, empty for
none), listening N (udp-sender of transfer N waits for PCs), sending N, progress PERCENT,
retransmitted SHARE, complete N, ended N (udp-sender of transfer N has exited). SenderLog turns udp-sender's output into those.

A PC that joins a transfer is found by its address among the PCs booted from the network; one that
is not there (booted from a USB medium, or its address unknown) gets a row of its own. A PC that
reaches WinPE while a transfer is being sent cannot join it (udp-sender takes no one in then): it
is late, and waits for the next transfer, which starts once no further PC has joined for late_wait
seconds. After the last transfer the room is finished once no PC has joined the next one and none
is on its way for late_wait seconds.
"""

import html
import re
import time

import pxe_state

STALL = 300  # seconds without news after which a PC on its way no longer holds the room up
WAKE_AGAIN = 120  # seconds after a wake-up without a request from the PC until the next one

_JOIN = re.compile(r"^New connection from ([\d.]+)\s+\(#(\d+)\)")
_DROP = re.compile(r"^Dropping client #(\d+) ")
_LEAVE = re.compile(r"^Disconnecting #(\d+) \(([\d.]+)\)")
_BYTES = re.compile(r"^bytes=\s*([\d ]+?)\s+re-xmits=\d+ \(\s*([\d.]+%)\)")
_IPV4 = re.compile(r"^\d{1,3}(\.\d{1,3}){3}$")
ON_ITS_WAY = ("offered", "loading", "started")


class SenderLog:
    """Turns udp-sender's lines of transfer N (SIZE bytes) into events (key, kind, value).

    ARP (a callable: {address: MAC}) names the MAC of a PC that joins, so that a PC that did
    not boot from here is shown with it."""

    def __init__(self, number, size, arp=dict):
        self.number, self.size, self.arp = str(number), max(size, 1), arp
        self.clients, self.complete, self.percent, self.share = {}, False, -1, "0.0%"

    def feed(self, line):
        line = line.strip("\r\n\a ")
        found = _JOIN.match(line)
        if found:
            self.clients[found.group(2)] = found.group(1)
            mac = self.arp().get(found.group(1))
            return ([(mac, "address", found.group(1))] if mac else []) + [(found.group(1), "joined", self.number)]
        if line.startswith("Starting transfer"):
            return [("room", "sending", self.number)]
        found = _BYTES.match(line)
        if found:
            self.share = found.group(2)
            percent = min(100, int(found.group(1).replace(" ", "")) * 100 // self.size)
            if percent > self.percent:
                self.percent = percent
                return [("room", "progress", str(percent))]
        found = _DROP.match(line)
        if found and found.group(1) in self.clients:
            return [(self.clients[found.group(1)], "dropped", self.number)]
        if line.startswith("Transfer complete"):
            self.complete = True
            return [("room", "retransmitted", self.share), ("room", "complete", self.number)]
        found = _LEAVE.match(line)
        if found and self.complete:
            return [(found.group(2), "received", self.number)]
        return []

    def end(self):
        return [("room", "ended", self.number)]


def pcs(number, kind=""):
    """"1 PC", "2 PCs"; with KIND: "1 late PC"."""
    return "%d %sPC%s" % (number, kind, "" if number == 1 else "s")


def clock(when):
    return time.strftime("%H:%M:%S", time.localtime(when))


class Room:
    """One row per PC from the whole log, the top line, the decisions, the summary and the page."""

    def __init__(self):
        self.rows, self.by_ip = {}, {}
        self.settings = {"machines": None, "max_wait": None, "late_wait": 60, "size": 0}
        self.figures, self.share = [], "0.0%"  # the sender's figures, a line per transfer
        self.transfer, self.state, self.percent = 0, "idle", 0  # state: listening, sending, done
        self.since = None  # when the current transfer began listening (or sending)
        self.first_join = self.last_join = None
        self.joined_now = 0  # PCs in the current transfer

    def _row(self, key, when):
        if key not in self.rows:
            self.rows[key] = {"mac": key if pxe_state.normal_mac(key) else "-", "ip": "-", "firmware": "-",
                              "stage": "-", "percent": 0, "offered": None, "received": None, "transfer": None,
                              "woken": 0, "woken_at": None, "answered": False, "last": when, "dropped": False}
        return self.rows[key]

    def _pc(self, ip, when):
        """The row of the PC at address IP: one booted from here, or one of its own."""
        key = self.by_ip.get(ip)
        if key is None:
            key = self.by_ip[ip] = ip
            self._row(ip, when)["ip"] = ip
        return self.rows[key]

    def apply(self, when, key, kind, value):
        if key == "room":
            self._room(when, kind, value)
            return
        if _IPV4.match(key):
            row = self._pc(key, when)
            if kind == "joined":
                row["stage"], row["transfer"], row["dropped"] = "joined", int(value), False
                self.joined_now += 1
                self.first_join = self.first_join or when
                self.last_join = when
            elif kind == "dropped":
                row["stage"], row["dropped"] = "dropped", True
            elif kind == "received":
                row["stage"], row["received"] = "received", when
            row["last"] = when
            return
        row = self._row(key, when)
        row["last"] = when
        if kind == "woken":
            row["woken"], row["woken_at"] = row["woken"] + 1, when
            return
        row["answered"] = True
        if kind == "address":
            if row["ip"] != "-" and self.by_ip.get(row["ip"]) == key:
                del self.by_ip[row["ip"]]
            self._adopt(key, value)
            row["ip"], self.by_ip[value] = value, key
        elif kind == "offered":
            row["firmware"] = pxe_state.FIRMWARE_OF_ARCH.get(value, row["firmware"])
            row["offered"] = row["offered"] or when
            if row["stage"] in ("-", "disk"):
                row["stage"] = "offered"
        elif kind == "platform":
            row["firmware"] = pxe_state.FIRMWARE_OF_PLATFORM.get(value, row["firmware"])
        elif kind in ("winpe", "loading"):
            row["stage"], row["percent"] = "loading", int(value or 0)
        elif kind == "started":
            row["stage"] = "started"
        elif kind == "disk":
            row["stage"] = "disk"

    def _adopt(self, mac, ip):
        """A PC named by its address only (ARP names its MAC later) becomes the MAC's row."""
        if self.by_ip.get(ip) == ip and ip in self.rows:
            alone = self.rows.pop(ip)
            row = self.rows[mac]
            for field in ("stage", "transfer", "received", "dropped"):
                row[field] = alone[field]

    def _room(self, when, kind, value):
        if kind == "settings":
            for pair in filter(None, value.split(",")):
                name, _, number = pair.partition("=")
                self.settings[name] = int(number) if number else None
        elif kind == "listening":
            self.transfer, self.state, self.since, self.joined_now = int(value), "listening", when, 0
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
                value, self.settings["size"], pcs(self.joined_now), took, self.settings["size"] * 8 / took / 1e6, self.share))
        if kind in ("complete", "ended") and self.state != "done":
            self.state = "done" if kind == "complete" else "ended"

    # --- what the room waits for, and what to do ---------------------------------------------------
    def _late(self, row):
        return self.state == "sending" and row["stage"] in ON_ITS_WAY

    def _on_its_way(self, now):
        return [r for r in self.rows.values() if r["stage"] in ON_ITS_WAY and now - r["last"] < STALL]

    def decision(self, now):
        """'start' (the waiting transfer sends now), 'next' (a transfer has ended: listen for
        another), 'finish' (no PC is left waiting), 'failed' (udp-sender ended without a transfer),
        or None."""
        s = self.settings
        if self.state == "listening" and self.joined_now:
            if self.transfer == 1:
                if s["machines"] and self.joined_now >= s["machines"]:
                    return "start"
                if s["max_wait"] is not None and now >= self.first_join + s["max_wait"]:
                    return "start"
            elif now >= self.last_join + s["late_wait"]:
                return "start"
        elif self.state == "listening" and self.transfer > 1:
            if not self._on_its_way(now) and now >= self.since + s["late_wait"]:
                return "finish"
        elif self.state == "done":
            return "next"
        elif self.state == "ended":
            return "failed"
        return None

    def to_wake(self, now, macs):
        """Of MACS (the wake list), those to wake now: never woken, or woken WAKE_AGAIN seconds ago
        without a word from them since."""
        out = []
        for mac in macs:
            row = self.rows.get(mac)
            if row is None or (not row["answered"] and now >= row["woken_at"] + WAKE_AGAIN):
                out.append(mac)
        return out

    def top(self, now):
        s, n, joined = self.settings, self.transfer, self.joined_now
        late = sum(1 for r in self.rows.values() if self._late(r))
        if self.state == "sending":
            text = "transfer %d: sending to %s, %d%%" % (n, pcs(joined), self.percent)
            return text + ("; %d late, waiting for the next transfer" % late if late else "")
        if self.state == "listening" and n == 1:
            starts = []
            if s["machines"]:
                starts.append("at %d" % s["machines"])
            if s["max_wait"] is not None:
                starts.append("at " + clock(self.first_join + s["max_wait"]) if self.first_join
                              else "%d s after the first joins" % s["max_wait"])
            total = "%d of %d joined" % (joined, s["machines"]) if s["machines"] else "%d joined" % joined
            return "%s; sending starts %s" % (total, " or ".join(starts))
        if self.state == "listening":
            if joined:
                return "transfer %d: %s joined; sending starts at %s unless another joins" % (
                    n, pcs(joined, "late "), clock(self.last_join + s["late_wait"]))
            return "transfer %d: waiting for late PCs until %s" % (n, clock(self.since + s["late_wait"]))
        if self.state == "idle":
            return "%s booted from the network" % pcs(sum(1 for r in self.rows.values() if r["offered"]))
        return "%d of %d PCs that joined received the whole image" % self.outcome()[1:3]

    # --- rows as text ------------------------------------------------------------------------------
    def stage(self, row):
        stage = row["stage"]
        if stage == "joined":
            if self.state == "sending" and row["transfer"] == self.transfer:
                return "receiving %d%%" % self.percent
            return "joined the multicast" + (" (transfer %d)" % row["transfer"] if row["transfer"] > 1 else "")
        text = {"-": "woken %d times, no answer yet" % row["woken"], "offered": "offered",
                "loading": "loading WinPE %d%%" % row["percent"], "started": "WinPE started",
                "received": "image received", "disk": "sent to its disk",
                "dropped": "FAILED: dropped by the sender (transfer %s)" % row["transfer"]}[stage]
        return text + ("; late: waits for the next transfer" if self._late(row) else "")

    def ordered(self):
        """Failed PCs first, then late ones, then the rest in the order they appeared."""
        def rank(row):
            return 0 if row["dropped"] else 1 if self._late(row) else 2
        return sorted(self.rows.values(), key=rank)

    def table(self, now, summary=False):
        """(header, rows) of cells: MAC, IP, firmware, stage, and in the summary the seconds."""
        head = ["PC (MAC)", "IP", "firmware", "last stage" if summary else "stage"]
        rows = []
        for row in self.ordered():
            # A PC that joined without asking here first booted from a medium of its own.
            firmware = "USB" if row["transfer"] and not row["offered"] else row["firmware"]
            cells = [row["mac"], row["ip"], firmware, self.stage(row)]
            if summary:
                took = row["received"] - row["offered"] if row["received"] and row["offered"] else None
                cells.append("-" if took is None else "%.0f" % took)
            rows.append(cells)
        return (head + ["s from offer to image"] if summary else head), rows

    def lines(self, now, summary=False):
        head, rows = self.table(now, summary)
        widths = [max(len(c[i]) for c in [head] + rows) for i in range(len(head))]
        form = "  ".join("%%-%ds" % w for w in widths[:-1]) + "  %s"
        return [self.top(now)] + [form % tuple(cells) for cells in [head] + rows]

    def outcome(self):
        """(exit status, received, joined, addresses of those that joined without the image): 0
        when at least one PC joined and every one that did received the whole image."""
        joined = [r for r in self.rows.values() if r["transfer"]]
        missed = [r["ip"] for r in joined if not r["received"]]
        return (0 if joined and not missed else 1), len(joined) - len(missed), len(joined), missed

    def page(self, now, refresh=2):
        head, rows = self.table(now)
        cells = "".join("<tr%s>%s</tr>\n" % (' class="bad"' if "FAILED" in r[3] else ' class="late"' if "late" in r[3]
                                              else "", "".join("<td>%s</td>" % html.escape(c) for c in r))
                        for r in rows)
        return ("<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\">"
                "<meta http-equiv=\"refresh\" content=\"%d\">"
                "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                "<title>serve-room</title><style>"
                "body{font-family:sans-serif;margin:.5em}table{border-collapse:collapse;width:100%%}"
                "td,th{border-bottom:1px solid #ccc;padding:.3em;text-align:left;font-size:.9em}"
                "td:first-child{font-family:monospace;font-size:.75em}td:last-child{width:45%%}.bad{background:#fcc}.late{background:#ffd}"
                "</style></head><body>\n<h1 style=\"font-size:1.1em\">%s</h1>\n"
                "<table><tr>%s</tr>\n%s</table>\n<p>%s</p></body></html>\n") % (
            refresh, html.escape(self.top(now)), "".join("<th>%s</th>" % html.escape(h) for h in head), cells,
            html.escape("as of " + clock(now)))


def room_from(path):
    return pxe_state.replay(path, Room())
