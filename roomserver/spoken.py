"""The operator's commands named as their user calls them: from a checkout serve-room, once installed
autodeploy-serve-room (this command's own name, passed by its bash, says which), and the answer file's
template where it is, and a page of docs/ as its man page."""

import os
import re

_COMMAND = re.compile(r"(?<![\w./-])(serve-room|serve-pxe|send-image|make-media|winpe-inject)(?![\w/-])")
_TEMPLATE = re.compile(r"(?<![\w./-])assets/unattend\.xml")
_PAGE = re.compile(r"(?<![\w./-])docs/(autodeploy-[a-z-]+)\.8\.md")
_ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def spoken(text, own_name):
    if not own_name.startswith("autodeploy-"):
        return text
    text = _PAGE.sub(r"\1(8)", text)
    return _TEMPLATE.sub(lambda _: os.path.join(_ROOT, "assets", "unattend.xml"), _COMMAND.sub(r"autodeploy-\1", text))
