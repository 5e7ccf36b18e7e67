"""The operator's commands named as their user calls them: from a checkout serve-room, once installed
autodeploy-serve-room (this command's own name, passed by its bash, says which), and the answer file's
template where it is, and a page of docs/ as its man page.

COMMANDS is the one list of the commands (make install and the tests read it too), and `spoken` the one
renaming: bash's layout_spoken runs this file for the commands' own lines in an installed tree."""

import os
import re
import sys

COMMANDS = ("serve-room", "serve-pxe", "send-image", "make-media", "winpe-inject", "capture")
# A command's name (scripts/serve-room too), not a part of a path or of a longer word; a name that is also a word
# of the lines (capture) is the command only as scripts/capture.
_WORDS = ("capture",)
_COMMAND = re.compile(r"(?<![\w./-])(?:(?:scripts/)?(%s)|scripts/(%s))(?![\w/-])" % (
    "|".join(name for name in COMMANDS if name not in _WORDS), "|".join(_WORDS)))
_TEMPLATE = re.compile(r"(?<![\w./-])assets/unattend\.xml")
_PAGE = re.compile(r"(?<![\w./-])docs/(autodeploy-[a-z-]+)\.8\.md")
_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def spoken(text, own_name):
    if not own_name.startswith("autodeploy-"):
        return text
    text = _PAGE.sub(r"\1(8)", text)
    return _TEMPLATE.sub(lambda _: os.path.join(_ROOT, "assets", "unattend.xml"), _COMMAND.sub(
        lambda found: "autodeploy-" + (found.group(1) or found.group(2)), text))


if __name__ == "__main__":
    # Alone, the commands on one line (cmake/install-tree); with a command's own name, standard input as that
    # command says it, every other byte as it came (layout_spoken).
    if len(sys.argv) == 1:
        print(*COMMANDS)
    else:
        text = sys.stdin.buffer.read().decode(errors="surrogateescape")
        sys.stdout.buffer.write(spoken(text, sys.argv[1]).encode(errors="surrogateescape"))
