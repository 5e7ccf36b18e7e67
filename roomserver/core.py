"""The run's one thread: its config, the room and the journal, and what every part of the run shares. Every
event goes to the journal, then to the room, then to each part that listens, in that order."""

import os
import sys
import time

from roomserver.journal import Journal
from roomserver.room import Room
from roomserver.spoken import spoken


class Core:
    def __init__(self, config):
        self.config = c = config
        self.room = Room(c.machines, c.max_wait, c.late_wait, os.path.getsize(c.image) if c.image else 0, c.listed,
                         c.expected)
        self.journal = Journal(c.journal)
        self.listeners = []  # (now, key, kind, value) for each event, after the room has it
        self.ended = None  # the future the run waits on, once it runs
        self.status = None
        self.tty = sys.stdout.isatty()

    def say(self, text, error=False):
        print("%s: %s" % (self.config.name, spoken(text, self.config.name)),
              file=sys.stderr if error else sys.stdout, flush=True)

    def event(self, key, kind, value=""):
        now = time.time()
        self.journal.write(now, key, kind, value)
        self.room.apply(now, key, kind, value)
        for listener in self.listeners:
            listener(now, key, kind, value)

    def end(self, status):
        if not self.ended.done():
            self.status = status
            self.ended.set_result(status)

    def crash(self, error):
        if self.ended and self.ended.done():
            return  # what a stopping run cancels (its connections) is no crash: the summary stays the last word
        self.say("the server failed: %r; stopping" % (error,), error=True)
        self.end(1)

    def refuse(self, text):
        """TEXT said as the reason the run cannot start; False."""
        self.say(text, error=True)
        self.status = 1
        if self.ended:  # what the parts started before it end as the run does, not as a crash
            self.end(1)
        return False


class Part:
    """One job of a run (the network boot, the multicast, the sending). The server starts its parts in order,
    ticks them each second and stops them all at the end, however the run ends."""

    def __init__(self, core):
        self.core, self.config, self.room = core, core.config, core.room

    async def start(self, loop):
        """False when the run cannot go on (the reason said)."""
        return True

    def tick(self, now):
        pass

    def heard(self, now, key, kind, value):
        """Each event of the run, once the room has it."""

    def at_signal(self, status):
        """The run's exit status when a signal ends it, given what the parts before made of it."""
        return status

    def stop(self):
        """Ends what the part runs: it must be safe after a start that failed or never came."""

    def farewell(self):
        """Lines to say at the end, after the summary."""
        return []
