"""The record of a run: one line per event, "SECONDS<TAB>KEY<TAB>KIND<TAB>VALUE", written as it happens and
never read back to decide anything. The run before is kept as FILE.1. Bounded whatever a segment sends: a host
the room leaves alone is written once (the first ONCE_KEYS of them), and a file that reaches FILE_BYTES goes on
as a new one, the full one kept as FILE.0 (the run before's removed): a run's record takes at most
twice FILE_BYTES, 64 MiB."""

import os
import re
import unicodedata

_UNSAFE = re.compile(r"[^\x20-\x7e]")
FILE_BYTES = 32 << 20
ONCE_KEYS = 10000


def clean(text, limit=300):
    """TEXT with every character that is not printable ASCII as '?', at most LIMIT long: safe for a terminal,
    a tab-separated line and a log reader."""
    return _UNSAFE.sub("?", str(text))[:limit]


def _unseen(c):
    """Whether C is a control, format or separator character other than the space: an escape sequence, a
    bidirectional override, a line break, a character that shows as nothing."""
    return unicodedata.category(c)[0] in "CZ" and c != " "


def printable(text, limit=300):
    """TEXT with every unseen character as '?', at most LIMIT long: for the terminal and the page, in any
    script."""
    return "".join("?" if _unseen(c) else c for c in text[:limit])


def escaped(text, limit=40):
    """The first LIMIT characters of TEXT with every unseen character written as Python writes it (ESC as \\x1b,
    a right-to-left override as \\u202e): a field of the operator's echoed in a refusal, as the file holds it,
    that can neither move the terminal's cursor nor turn its text around."""
    return "".join(c.encode("unicode_escape").decode("ascii") if _unseen(c) else c for c in text[:limit])


class Journal:
    def __init__(self, path):
        self.file, self.path, self.once = None, path, set()
        if path:
            if os.path.lexists(path + ".0"):  # the first part of a full one before: gone with its run
                os.unlink(path + ".0")
            if os.path.lexists(path):
                os.replace(path, path + ".1")
            self._open()

    def _open(self):
        self.file = open(os.open(self.path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW, 0o644), "w",
                         encoding="ascii")

    def write(self, when, key, kind, value=""):
        if not self.file or kind == "ignored" and (key in self.once or len(self.once) >= ONCE_KEYS):
            return
        if kind == "ignored":
            self.once.add(key)
        if self.file.tell() >= FILE_BYTES:
            self.file.close()
            os.replace(self.path, self.path + ".0")
            self._open()
        self.file.write("%.3f\t%s\t%s\t%s\n" % (when, clean(key), clean(kind), clean(value)))
        self.file.flush()
