"""udp-sender's lines (udpcast 20120424, on its standard error) turned into events (key, kind, value) of
transfer N: "New connection from ADDRESS (#N)" for each PC that joins, "Starting transfer", the progress line
"bytes= ... re-xmits=... (SHARE)", "Timeout notAnswered=[N,...]" while PC #N holds the room up, "Dropping
client #N" when it gives up on one, "Transfer complete." and then "Disconnecting #N (ADDRESS)" for each PC that
was still taking part, that is each PC that received everything."""

import re

from roomserver.room import IPV4

_JOIN = re.compile(r"New connection from ([\d.]+)\s+\(#(\d+)\)")
_BYTES = re.compile(r"bytes=\s*([\d ]+?)\s+re-xmits=\d+ \(\s*([\d.]+%)\)")
_STALL = re.compile(r"Timeout notAnswered=\[([\d,]+)\]")
_DROP = re.compile(r"Dropping client #(\d+) ")
_LEAVE = re.compile(r"Disconnecting #(\d+) \(([\d.]+)\)")


class SenderLog:
    """ARP (a callable: address -> MAC or None) names the MAC of a PC that joins: a PC booted from here keeps its
    row, and a receiver that is no PC of the room is known as such."""

    def __init__(self, number, size, arp=lambda ip: None):
        self.number, self.size, self.arp = str(number), max(size, 1), arp
        self.clients, self.complete, self.percent, self.share = {}, False, -1, "0.0%"

    def feed(self, line):
        line = line.strip("\r\n\a ")
        found = _JOIN.match(line)
        if found and IPV4.fullmatch(found.group(1)):
            ip = self.clients[found.group(2)] = found.group(1)
            mac = self.arp(ip)
            return ([(mac, "claim", ip)] if mac else []) + [(ip, "joined", self.number)]
        if line.startswith("Starting transfer"):
            return [("room", "sending", self.number)]
        found = _BYTES.match(line)
        if found:
            self.share = found.group(2)
            percent = min(100, int(found.group(1).replace(" ", "")) * 100 // self.size)
            if percent > self.percent:
                self.percent = percent
                return [("room", "progress", str(percent))]
            return []
        found = _STALL.match(line)
        if found:
            return [(self.clients[n], "stalling", self.number) for n in found.group(1).split(",") if n in self.clients]
        found = _DROP.match(line)
        if found and found.group(1) in self.clients:
            return [(self.clients[found.group(1)], "dropped", self.number)]
        if line.startswith("Transfer complete"):
            self.complete = True
            return [("room", "retransmitted", self.share), ("room", "complete", self.number)]
        found = _LEAVE.match(line)
        if found and self.complete and IPV4.fullmatch(found.group(2)):
            return [(found.group(2), "received", self.number)]
        return []

    def end(self):
        return [("room", "ended", self.number)]
