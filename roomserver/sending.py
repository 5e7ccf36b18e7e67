"""send-image's run: udp-sender decides when to send (its own options, or Enter); this passes its lines on
unchanged, says who joined, who holds the room up and who was dropped, and judges the end."""

import sys

from roomserver import children
from roomserver.core import Part
from roomserver.room import pcs
from roomserver.sender_log import SenderLog


class Sending(Part):
    def __init__(self, core):
        super().__init__(core)
        self.sender, self.said = None, set()

    async def start(self, loop):
        log = SenderLog(1, self.room.size)

        def line(text):
            for event in log.feed(text):
                self.core.event(*event)
        self.sender = children.Child(loop, self.config.sender, line, self._ended, stdin=None,
                                     pass_to=sys.stderr.fileno())
        return True

    def heard(self, now, ip, kind, value):
        if kind in ("joined", "stalling"):  # once for each PC
            if (ip, kind) in self.said:
                return
            self.said.add((ip, kind))
        if kind == "joined":
            joined = len(self.room.pcs)
            self.core.say("%s %s joined (the latest: %s); sending starts %s" % (
                pcs(joined), "has" if joined == 1 else "have", ip, self._starts(joined)))
        elif kind == "stalling":
            retries = self.config.retries
            self.core.say("%s does not answer and holds up the room: udp-sender drops it after about %d s of silence "
                          "(--retries-until-drop %d)" % (ip, retries - 10 if retries > 10 else 1, retries))
        elif kind == "dropped":
            self.core.say("dropped %s: it stopped answering; the others go on (run send-image again for it)" % ip)

    def _starts(self, joined):
        c = self.config
        if c.machines and joined >= c.machines:
            return "now"
        starts = ["when %d have joined" % c.machines] if c.machines else []
        starts += ["%d seconds after the first joined" % c.max_wait] if c.max_wait else []
        starts += [] if c.nokbd else ["when you press Enter (once every PC has joined)"]
        return " or ".join(starts)

    def _ended(self, status):
        if status:
            self.core.say("udp-sender exited with status %d" % status, error=True)
            return self.core.end(status)
        _, received, joined, missed = self.room.outcome()
        if not received:
            self.core.say("no PC received the image (%d joined); start the PCs in WinPE, wait until they have joined, "
                          "then run send-image again" % joined, error=True)
            return self.core.end(1)
        self.core.say("transfer complete: %d of %d PCs received all of it%s" % (received, joined, "; not: %s (run "
                      "send-image again for them)" % " ".join(pc.ip for pc in missed) if missed else ""))
        self.core.end(0)

    def stop(self):
        if self.sender:
            self.sender.stop()
