"""The room list, made by powering the room on once: dnsmasq answers nobody, and each PC that asks for a
network boot is written to the list being collected, once, in the order they came."""

from roomserver.netboot import SEEN_AT_MOST, NetBoot, append


class Collect(NetBoot):
    def __init__(self, core):
        super().__init__(core)
        self.listed, self.before = self.config.listed, len(self.config.listed.names)

    async def start(self, loop):
        if not (self._folder(answered=()) and await self._start_dnsmasq(loop)):
            return False
        c = self.config
        self.core.say("collecting on %s (%s): power on the room's PCs to boot from the network; each one that asks is "
                      "written to %s and left alone; Ctrl-C ends" % (c.interface, c.address, c.room))
        return True

    def left_alone(self, mac, firmware):
        if mac not in self.listed.names and len(self.listed.names) < SEEN_AT_MOST:
            self.listed.add(mac)
            append(self.config.room, mac + "\n")
            self.core.say("%s (%s) asked for a network boot: written to %s (%d PCs)" % (
                mac, firmware, self.config.room, len(self.listed.names)))

    def farewell(self):
        count, room = len(self.listed.names), self.config.room
        return ["%d PCs in %s (%d new): give each its name there (52:54:00:12:34:56  LAB1-07), then start serve-room "
                "with --room %s" % (count, room, count - self.before, room)]
