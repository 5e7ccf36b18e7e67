"""The answer file: the operator's template, checked once, and each PC's own copy with its name as ComputerName.
Windows reads it at the first boot from C:\\Windows\\Panther\\unattend.xml, where the PC's watch writes it."""

import re
import xml.etree.ElementTree as ElementTree

from roomserver.refusal import Refusal

NAMESPACE = "{urn:schemas-microsoft-com:unattend}"
PLACEHOLDER = "CHANGE-ME"
_COMPUTER_NAME = re.compile(r"(<ComputerName>)[^<]*(</ComputerName>)")


def read(path):
    """The template's text, or a Refusal saying what to mend."""
    try:
        with open(path, encoding="utf-8") as template:
            text = template.read(1 << 20)
    except OSError as error:
        raise Refusal("cannot read the answer file %s: %s" % (path, error.strerror))
    except UnicodeDecodeError as error:
        raise Refusal("the answer file %s is not UTF-8 text (byte %d): save it as UTF-8, or start again from "
                      "assets/unattend.xml" % (path, error.start + 1))
    try:
        root = ElementTree.fromstring(text)
    except ElementTree.ParseError as error:
        raise Refusal("the answer file %s is not well-formed XML (%s): mend it, or start again from "
                      "assets/unattend.xml" % (path, error))
    if root.tag != NAMESPACE + "unattend":
        raise Refusal("the answer file %s is no answer file: its root must be <unattend xmlns=\"urn:schemas-"
                      "microsoft-com:unattend\">" % path)
    if len(root.findall(".//%sComputerName" % NAMESPACE)) != 1 or len(_COMPUTER_NAME.findall(text)) != 1:
        raise Refusal("the answer file %s has no <ComputerName> to fill in (one, in the specialize pass's "
                      "Microsoft-Windows-Shell-Setup): add <ComputerName>*</ComputerName> there" % path)
    if any((value.text or "").strip() == PLACEHOLDER for value in root.iter(NAMESPACE + "Value")):
        raise Refusal("the answer file %s still has the password %s: set your own (it crosses the room's network "
                      "unencrypted; docs/autodeploy-serve-room.8.md says how to use one for the first logon only)"
                      % (path, PLACEHOLDER))
    return text


def for_pc(template, name):
    """The template with NAME (a checked computer name) as ComputerName; '*', Windows' random name, for none."""
    return _COMPUTER_NAME.sub(lambda found: found.group(1) + (name or "*") + found.group(2), template)
