"""driver_packages.py: an operator's driver folder, checked before anything is made, and what wimlib is told to add.

A driver package is a folder holding a .inf and its files, at any depth. Everything under DIR is for every PC but
DIR/by-model/MAKE/MODEL/..., which is for the PCs whose firmware names that make and model.

  check DIR            one line "PACKAGES INF-FILES BYTES" (folders holding a .inf, .inf files, bytes of all files)
  commands DIR TARGET  wimupdate's commands that add DIR at TARGET (a path inside the image, e.g.
                       /Windows/System32/autodeploy-drivers), one a line: add "DIR/ENTRY" "TARGET/all/ENTRY" for
                       each top-level entry but by-model, add "DIR/by-model" "TARGET/by-model"; DIR made absolute,
                       each path in double quotes, or single ones when it holds a double quote (wimupdate has no
                       escapes)
  digest DIR           the SHA-256 of DIR's names and contents, to know a boot image made from the same folder

Status 0; status 1 and one line per refusal (at most 20, then how many more), each naming its path (control and
format characters escaped as wim_images.py shows names), when DIR is refused; status 2 for a wrong call.
Refused: DIR not a folder or without a .inf (case-insensitive extension); a .inf without a models section for
x64 (a [Manufacturer] entry decorated NTamd64...), read as UTF-16 with a BOM, UTF-8 or an 8-bit code page,
binary, over 4 MiB or unreadable; a file directly in by-model/ or by-model/MAKE/; by-model spelled in another
case; any symbolic link (never followed: a link could lead out of DIR) or device, FIFO or socket; a name that
Windows cannot hold (control characters, \\ : * ? " < > |) or that is not UTF-8; a DIR path with both kinds
of quote.
From Python (this folder on sys.path): checked(DIR) is the walk (.refusals, .infs, .packages, .bytes, .entries),
commands(walk, TARGET) and digest(walk) as above, quoted(PATH) one token of wimupdate's commands."""

import hashlib
import os
import re
import stat
import sys

from wim_images import shown

INF_LIMIT = 4 << 20
SHOWN_REFUSALS = 20
BY_MODEL = "by-model"
_CONTROL = re.compile("[\x00-\x1f\x7f-\x9f]")
_NOT_FOR_WINDOWS = re.compile('[\x00-\x1f\x7f-\x9f\\\\:*?"<>|]')
_ARCHITECTURES = {"x86": "x86", "arm64": "ARM64", "arm": "ARM", "ia64": "Itanium"}
# Controls that no text has (a tab, line ends and DOS's end of file, Ctrl-Z, aside).
_BINARY = re.compile("[\x00-\x08\x0b\x0c\x0e-\x19\x1b-\x1f]")
_BOMS = ((b"\xff\xfe", "utf-16-le"), (b"\xfe\xff", "utf-16-be"), (b"\xef\xbb\xbf", "utf-8"))


def inf_text(data):
    """The text of a .inf's bytes, or None when they are not text."""
    encoding = next((encoding for bom, encoding in _BOMS if data.startswith(bom)), None)
    try:
        text = data.decode(encoding + "-sig" if encoding == "utf-8" else encoding or "utf-8")
        text = text[1:] if encoding and encoding != "utf-8" else text
    except UnicodeDecodeError:
        if encoding:
            return None
        # An 8-bit code page: the sections and decorations are ASCII in every one of them.
        text = data.decode("latin-1")
    return None if _BINARY.search(text) else text


def _without_comment(line):
    """LINE up to its comment (a ; outside double quotes)."""
    quoted = False
    for at, character in enumerate(line):
        if character == '"':
            quoted = not quoted
        elif character == ";" and not quoted:
            return line[:at]
    return line


def decorations(text):
    """The decorations (NTamd64, NTx86.6.1, ...) that the [Manufacturer] sections of TEXT name, or None without one."""
    found, inside = None, False
    for line in re.sub(r"\\[ \t]*\r?\n", "", text).splitlines():
        line = _without_comment(line).strip()
        header = re.fullmatch(r"\[(.*)\]", line)
        if header:
            inside = header.group(1).strip().lower() == "manufacturer"
            found = [] if inside and found is None else found
        elif inside and "=" in line:
            found += [part.strip() for part in line.split("=", 1)[1].split(",")[1:]]
    return found


def inf_problem(data):
    """Why a .inf of these bytes cannot serve a 64-bit WinPE or Windows, or None."""
    text = inf_text(data)
    if text is None:
        return "not a text file (a .inf is UTF-16 with a byte order mark, UTF-8 or an 8-bit code page)"
    named = decorations(text)
    if named is None:
        return "no [Manufacturer] section: not a driver's .inf"
    if any(name.lower().startswith("ntamd64") for name in named):
        return None
    kinds = sorted({_ARCHITECTURES.get(kind, kind) for kind in
                    (re.sub(r"^nt([a-z0-9]*).*", r"\1", name.lower()) for name in named) if kind})
    named = "%s only" % ", ".join(kinds) if kinds else "undecorated models only"
    return "no models for x64: its [Manufacturer] section names %s (no NTamd64): give the x64 driver" % named


class Folder:
    """What a walk of DIR found: refusals, .inf files, the folders holding them, bytes, and every entry."""

    def __init__(self, root):
        self.root = root
        self.refusals, self.infs, self.packages, self.entries = [], 0, set(), []
        self.bytes = 0

    def refuse(self, relative, why):
        self.refusals.append("%s: %s" % (shown(os.path.join(self.root, relative)), why))

    def walk(self, relative=""):
        try:
            names = sorted(os.listdir(os.path.join(self.root, relative) if relative else self.root))
        except OSError as error:
            self.refuse(relative, "cannot read the folder (%s)" % error.strerror)
            return
        for name in names:
            self.entry(os.path.join(relative, name) if relative else name, name)

    def entry(self, relative, name):
        path = os.path.join(self.root, relative)
        try:
            status = os.lstat(path)
        except OSError as error:
            self.refuse(relative, "cannot read it (%s)" % error.strerror)
            return
        problem = name_problem(name)
        if problem:
            self.refuse(relative, problem)
            return
        self.entries.append((relative, status))
        depth = relative.split(os.sep)
        if stat.S_ISDIR(status.st_mode):
            if depth[0].lower() == BY_MODEL and depth[0] != BY_MODEL:
                self.refuse(relative, "call it %s (the folder of the drivers for some makes and models)" % BY_MODEL)
            else:
                self.walk(relative)
        elif stat.S_ISLNK(status.st_mode):
            self.refuse(relative, "a symbolic link (not followed): put the file or folder itself there")
        elif not stat.S_ISREG(status.st_mode):
            self.refuse(relative, "not a file or a folder")
        elif depth[0] == BY_MODEL and len(depth) <= 3:
            self.refuse(relative, "a file where the folders %s/MAKE/MODEL belong" % BY_MODEL)
        else:
            self.bytes += status.st_size
            if name.lower().endswith(".inf"):
                self.inf(relative)

    def inf(self, relative):
        self.infs += 1
        self.packages.add(os.path.dirname(relative))
        try:
            descriptor = os.open(os.path.join(self.root, relative), os.O_RDONLY | os.O_NOFOLLOW)
            with os.fdopen(descriptor, "rb") as file:
                data = file.read(INF_LIMIT + 1)
        except OSError as error:
            self.refuse(relative, "cannot read it (%s)" % error.strerror)
            return
        problem = "over %d MiB: not a driver's .inf" % (INF_LIMIT >> 20) if len(data) > INF_LIMIT else inf_problem(data)
        if problem:
            self.refuse(relative, problem)


def name_problem(name):
    """Why NAME cannot be a file's name in WinPE, or None."""
    try:
        name.encode("utf-8")
    except UnicodeEncodeError:
        return "its name is not UTF-8, which the image cannot hold"
    if _NOT_FOR_WINDOWS.search(name):
        return 'its name holds a control character or one of \\ : * ? " < > |, which Windows file names cannot'
    return None


def checked(root):
    """The walk of ROOT, its refusals filled in."""
    folder = Folder(root)
    if not os.path.isdir(root):
        folder.refusals.append("%s: %s" % (shown(root), "not a folder" if os.path.exists(root) else "no such folder"))
        return folder
    folder.walk()
    if not folder.infs and not folder.refusals:
        folder.refusals.append("%s: no .inf file in it: not a folder of drivers" % shown(root))
    return folder


def quoted(path):
    """PATH as one token of wimupdate's commands (in quotes of a kind it does not hold; it has no escapes), or None."""
    if _CONTROL.search(path):
        return None
    for quote in "\"'":
        if quote not in path:
            return quote + path + quote
    return None


def commands(folder, target):
    """wimupdate's add commands for FOLDER at TARGET, or None when a path cannot be quoted."""
    root = os.path.abspath(folder.root)
    lines = []
    for relative, _ in folder.entries:
        if os.sep in relative:
            continue
        inside = relative if relative == BY_MODEL else "all/" + relative
        source, destination = quoted(os.path.join(root, relative)), quoted(target.rstrip("/") + "/" + inside)
        if source is None or destination is None:
            return None
        lines.append("add %s %s\n" % (source, destination))
    return "".join(lines)


def digest(folder):
    """SHA-256 of the names, kinds and contents of FOLDER's entries."""
    whole = hashlib.sha256()
    for relative, status in folder.entries:
        whole.update(b"%s\0%d\0%d\0" % (os.fsencode(relative), stat.S_ISDIR(status.st_mode), status.st_size))
        if stat.S_ISREG(status.st_mode):
            with open(os.path.join(folder.root, relative), "rb") as file:
                for block in iter(lambda: file.read(1 << 20), b""):
                    whole.update(block)
    return whole.hexdigest()


def main(arguments):
    # A folder's path that is not UTF-8 goes to wimupdate as the bytes it is.
    sys.stdout.reconfigure(errors="surrogateescape")
    if not (arguments[:1] in (["check"], ["digest"]) and len(arguments) == 2 or
            arguments[:1] == ["commands"] and len(arguments) == 3):
        print("usage: driver_packages.py check DIR | commands DIR TARGET | digest DIR", file=sys.stderr)
        return 2
    folder = checked(arguments[1])
    refusals = folder.refusals
    if not refusals and arguments[0] == "commands":
        made = commands(folder, arguments[2])
        if made is None:
            refusals = ["%s: its path holds both kinds of quote or a control character, which wimupdate cannot be "
                        "given: move it" % shown(os.path.abspath(folder.root))]
    if refusals:
        more = len(refusals) - SHOWN_REFUSALS
        print("".join(line + "\n" for line in refusals[:SHOWN_REFUSALS]), end="")
        if more > 0:
            print("and %d more refused" % more)
        return 1
    if arguments[0] == "check":
        print("%d %d %d" % (len(folder.packages), folder.infs, folder.bytes))
    elif arguments[0] == "commands":
        print(made, end="")
    else:
        print(digest(folder))
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
