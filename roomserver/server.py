"""The serving phase of serve-pxe (the network boot), serve-room (the network boot and the multicast, the whole
road), send-image (the multicast alone), serve-pxe --collect (the room list) and scripts/capture (the network boot
of one PC and a share for its image): each run is made of parts
(core.py) on one thread, composed below; this is only their loop and their end."""

import asyncio
import shutil
import signal
import time

from roomserver.collect import Collect
from roomserver.core import Core
from roomserver.multicast import Multicast
from roomserver.netboot import NetBoot
from roomserver.sending import Sending
from roomserver.share import Share
from roomserver.terminal import Terminal

SECURE_BOOT = ("UEFI PCs with Secure Boot on refuse the unsigned network loaders: turn Secure Boot off for the room, "
               "or boot them from make-media's USB medium.")
CAPTURE_HELP = ("Power on %(pc_shown)s to boot from the network (PXE), or start it from a capture medium (make-media "
                "--capture); every other PC is left alone. Ctrl-C stops, and no image is kept.", SECURE_BOOT)
PXE_HELP = ("Power on the PCs to boot from the network (PXE); Ctrl-C stops serving.", SECURE_BOOT)
ROOM_HELP = ("Power on the PCs to boot from the network (PXE), or start them from the USB medium; the table is also "
             "at http://%(address)s:%(port)d/. Ctrl-C stops, with a summary.", SECURE_BOOT)
# Each kind of run: its parts, in the order they start, and the table its operator sees (send-image has none: it
# passes udp-sender's own lines on).
RUNS = {
    "pxe": lambda core: ([NetBoot(core)], Terminal(core, PXE_HELP, since_offer=True)),
    "room": lambda core: ([NetBoot(core, page_said=True), Multicast(core)], Terminal(core, ROOM_HELP, outcome=True)),
    "send": lambda core: ([Sending(core)], None),
    "collect": lambda core: ([Collect(core)], None),
    "capture": lambda core: _capture(core),
}
SIGNAL_STATUS = {signal.SIGHUP: 129, signal.SIGINT: 130, signal.SIGTERM: 143}


def _capture(core):
    netboot = NetBoot(core)
    return [netboot, Share(core, netboot)], Terminal(core, CAPTURE_HELP, since_offer=True)


class Server:
    def __init__(self, config):
        self.core = Core(config)
        self.parts, self.terminal = RUNS[config.mode](self.core)
        self.core.listeners = [part.heard for part in self.parts] + ([self.terminal.heard] if self.terminal else [])

    async def run(self):
        loop, core = asyncio.get_running_loop(), self.core
        core.ended = loop.create_future()
        for number, status in SIGNAL_STATUS.items():
            loop.add_signal_handler(number, self.signalled, status)
        loop.set_exception_handler(lambda _, context: core.crash(context.get("exception") or context["message"]))
        try:
            for part in self.parts:
                if not await part.start(loop):
                    return core.status
            if self.terminal:
                self.terminal.start()
            while not core.ended.done():
                self.tick(time.time())
                await asyncio.wait([core.ended], timeout=1.0)
        finally:
            self.finish()
        return core.status

    def tick(self, now):
        for part in self.parts:
            part.tick(now)
        if self.terminal:
            self.terminal.show(now)

    def signalled(self, status):
        """A signal ends the run with what its parts make of it (serve-pxe 0, serve-room the room's outcome)."""
        for part in self.parts:
            status = part.at_signal(status)
        self.core.end(status)

    def finish(self):
        """Nothing of the run goes on: its children, the HTTP server, the run's files; then the summary."""
        for part in reversed(self.parts):
            part.stop()
        if self.terminal:
            self.terminal.summary()
        for part in self.parts:
            for text in part.farewell():
                self.core.say(text)
        for path in self.core.config.remove:
            shutil.rmtree(path, ignore_errors=True)
