"""wim_images.py: the images of a WIM as data, from its XML (`wiminfo --xml WIM` on the standard input,
UTF-16 as wimlib prints it), never from wiminfo's lines, where a name holding a line break would make rows.
A name is shown with what a terminal acts on escaped (a line break as \\n, U+202E as \\u202e), so that no name
makes another row or turns the text around it; it is matched as it really is. Run by install.sh and wim.sh:

  list            each image, one a line: "  INDEX  NAME  SIZE"
  name INDEX      image INDEX's name
  pick EDITION    the index of the image EDITION names (its whole name in any case; without "Windows" and the
                  version, when only one is so named; else a part that only one name has), or "none", or
                  "several" when more than one name has that part

Status 1 and nothing printed when the XML cannot be read."""

import re
import sys
import unicodedata
import xml.etree.ElementTree as ElementTree

# What a terminal acts on: controls (line breaks among them), format characters (the turning U+202E),
# line and paragraph separators, private use, surrogates and unassigned code points.
_ACTED_ON = {"Cc", "Cf", "Zl", "Zp", "Co", "Cs", "Cn"}
_NAMED = {"\n": "\\n", "\r": "\\r", "\t": "\\t", "\\": "\\\\"}


def shown(name):
    """NAME for a terminal: each character a terminal acts on escaped, a backslash doubled."""
    return "".join(_NAMED.get(c) or (_escaped(c) if unicodedata.category(c) in _ACTED_ON else c) for c in name)


def _escaped(character):
    code = ord(character)
    return "\\x%02x" % code if code < 0x100 else "\\u%04x" % code if code < 0x10000 else "\\U%08x" % code


def images(xml):
    """(index, name, total bytes) of each image of the XML text, by index."""
    found = []
    for image in ElementTree.fromstring(xml).findall("IMAGE"):
        found.append((int(image.get("INDEX")), image.findtext("NAME") or "", int(image.findtext("TOTALBYTES") or 0)))
    return sorted(found)


def size(total):
    return "%.1f GB" % (total / 1e9) if total >= 1e9 else "%.0f MB" % (total / 1e6)


def pick(found, edition):
    """The index EDITION names among FOUND, "none" or "several"."""
    wanted = edition.lower()
    exact = [index for index, name, _ in found if name.lower() == wanted]
    short = [index for index, name, _ in found if re.sub(r"^windows [0-9.]+ ", "", name.lower()) == wanted]
    partial = [index for index, name, _ in found if wanted in name.lower()]
    for chosen in (exact[:1], short, partial):
        if len(chosen) == 1:
            return str(chosen[0])
    return "several" if partial else "none"


def main(arguments):
    try:
        found = images(sys.stdin.buffer.read().decode("utf-16"))
    except (ValueError, TypeError, ElementTree.ParseError):
        return 1
    if arguments[:1] == ["list"]:
        print("".join("  %d  %s  %s\n" % (index, shown(name), size(total)) for index, name, total in found), end="")
    elif arguments[:1] == ["name"]:
        print("".join(shown(name) + "\n" for index, name, _ in found if str(index) == arguments[1]), end="")
    else:
        print(pick(found, arguments[1]))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
