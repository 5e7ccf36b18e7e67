"""The record of a run: one line per event, "SECONDS<TAB>KEY<TAB>KIND<TAB>VALUE", written as it happens and
never read back to decide anything. The run before is kept as FILE.1."""

import os
import re
import unicodedata

_UNSAFE = re.compile(r"[^\x20-\x7e]")


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
        self.file = None
        if path:
            if os.path.lexists(path):
                os.replace(path, path + ".1")
            self.file = open(os.open(path, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW, 0o644), "w",
                             encoding="ascii")

    def write(self, when, key, kind, value=""):
        if self.file:
            self.file.write("%.3f\t%s\t%s\t%s\n" % (when, clean(key), clean(kind), clean(value)))
            self.file.flush()
