"""The multicast of serve-room: udp-sender's transfers as the room decides them (the first when enough PCs
have joined, the next ones for the PCs that came late or started over, the end when none is left on its way),
and Wake-on-LAN for the PCs to wake."""

import asyncio
import subprocess

from roomserver import children, neighbours
from roomserver.core import Part
from roomserver.sender_log import SenderLog


class Multicast(Part):
    def __init__(self, core):
        super().__init__(core)
        self.sender, self.said, self.failed = None, set(), None

    async def start(self, loop):
        self._listen(1)
        return True

    def _listen(self, number):
        self.core.event("room", "listening", str(number))
        log = SenderLog(number, self.room.size, lambda ip: neighbours.mac_of(ip, self.config.interface))

        def line(text):
            for event in log.feed(text):
                self.core.event(*event)
        self.sender = children.Child(asyncio.get_running_loop(), self.config.sender, line,
                                     lambda status: [self.core.event(*e) for e in log.end()], stdin=subprocess.PIPE)

    def tick(self, now):
        self._wake(now)
        self._name_receivers()
        self._decide(now)

    def _name_receivers(self):
        """A receiver whose MAC the neighbour table did not know yet when it joined is named as soon as it does:
        only then can it count as a PC of the room."""
        unnamed = [pc.ip for pc in self.room.pcs.values() if pc.transfer and not pc.mac]
        known = neighbours.macs_of(self.config.interface) if unnamed and self.config.listed else {}
        for ip in unnamed:
            if ip in known:
                self.core.event(known[ip], "claim", ip)

    def _decide(self, now):
        decision, transfer = self.room.decision(now), self.room.transfer
        if decision == "next" and self.sender.running():
            if now - self.room.since > 10:  # it has sent; one that does not end is ended
                self.sender.stop()
            return
        if not decision or (decision, transfer) in self.said:
            return
        self.said.add((decision, transfer))
        if decision == "start":
            self.sender.process.stdin.write(b"\n")
            self.sender.process.stdin.flush()
        elif decision == "next":
            self._listen(transfer + 1)
        elif decision == "finish":
            self.core.end(self.room.outcome()[0])
        elif decision == "failed":
            self.failed = self.sender.last_line or "no reason given"
            self.core.end(1)

    def _wake(self, now):
        for mac in self.room.to_wake(now, self.config.wake):
            self.core.event(mac, "woken")
            if not children.wake_on_lan(self.config.interface, mac):
                self.core.say("etherwake failed on %s" % self.config.interface, error=True)

    def at_signal(self, status):
        return self.room.outcome()[0]  # stopped early, the room is judged as it stands

    def stop(self):
        if self.sender:
            self.sender.stop()

    def farewell(self):
        return ["udp-sender ended without sending: %s" % self.failed] if self.failed else []
