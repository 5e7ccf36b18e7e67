"""What the operator sees of serve-pxe and serve-room: on a terminal the whole table, redrawn each second
under the run's help; elsewhere (a log, a pipe) the help once, then each line of the table that changed, once,
as it changes; at the end the summary."""

import sys
import time

from roomserver import stages, views
from roomserver.spoken import spoken

# Events that change a PC's stage or the top line: off a terminal each is shown as it comes (else once a second).
STAGE_EVENTS = ("offered", "winpe", "started", "disk", "joined", "dropped", "received", "listening", "sending") + tuple(
    kind for kind in stages.REPORTS if kind != "receiving")


class Terminal:
    """HELP: lines filled in from the config. SINCE_OFFER: a PC's start is told in seconds from its first offer
    (serve-pxe); OUTCOME: the summary says how the room ended (serve-room)."""

    def __init__(self, core, help_lines, since_offer=False, outcome=False):
        self.core, self.since_offer, self.outcome = core, since_offer, outcome
        self.help = spoken("\n".join(help_lines) % vars(core.config), core.config.name)
        self.shown = {}  # key of a row: its text as last printed

    def start(self):
        if not self.core.tty:
            print(self.help, flush=True)

    def heard(self, now, key, kind, value):
        if kind in STAGE_EVENTS and not self.core.tty:
            self.show(now)

    def show(self, now):
        rows = views.lines(self.core.room, now, since_offer=self.since_offer)
        if self.core.tty:
            sys.stdout.write("\033[H\033[J" + "\n".join([self.help, ""] + [text for _, text in rows]) + "\n")
        else:
            for key, text in rows:
                if key != "head" and self.shown.get(key) != text:
                    self.shown[key] = text
                    sys.stdout.write(text + "\n")
        sys.stdout.flush()

    def summary(self):
        room, c = self.core.room, self.core.config
        if room.pcs:
            print("\n%s: summary" % c.name)
            print(spoken("\n".join(views.summary(room, time.time(), c.name, self.outcome, self.since_offer,
                                                 listed=bool(c.room), answer_files=bool(c.unattend))), c.name),
                  flush=True)
