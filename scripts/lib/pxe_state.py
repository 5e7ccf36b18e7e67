"""The state of a room that boots from the network, without any I/O but the served list's file.

What a PC is sent when it asks for its boot script (WinPE the first time, its own disk once it has
received boot.wim whole), the list of PCs served, dnsmasq's --log-dhcp lines and the event log turned
into one row per PC, and those rows as text. scripts/lib/pxe_service.py does the serving around it.

An event log line is: seconds since the epoch, MAC, kind, value (tab-separated). Kinds: offered
(value: the PXE architecture, 0 BIOS, 7 or 9 UEFI), address (IPv4), platform (iPXE's pcbios or
efi), winpe (its WinPE script was sent), loading (percent of boot.wim sent), started (boot.wim sent
whole: wimboot starts WinPE's boot manager), disk (sent on to its local disk).
"""

import os
import re

_MAC = re.compile(r"^[0-9a-f]{2}([:-][0-9a-f]{2}){5}$")
_ARCH = re.compile(r"^\S+: (\d+) vendor class: PXEClient:Arch:(\d{5})")
_PROXY = re.compile(r"^\S+: (\d+) PXE\(\S+\) (?:[\d.]+ )?([0-9a-f:]{17}) proxy")
_LEASE = re.compile(r"^\S+: (\d+) DHCP(OFFER|ACK)\(\S+\) ([\d.]+) ([0-9a-f:]{17})")
FIRMWARE_OF_ARCH = {"0": "BIOS", "6": "UEFI", "7": "UEFI", "9": "UEFI"}
FIRMWARE_OF_PLATFORM = {"pcbios": "BIOS", "efi": "UEFI"}
LOADERS = {"BIOS": "wimboot.i386", "UEFI": "wimboot.x86_64.efi"}


def normal_mac(text):
    """The MAC in lower case with colons, or None when TEXT is not one."""
    text = text.strip().lower()
    return text.replace("-", ":") if _MAC.match(text) else None


def boot_script(mac, platform, served, base):
    """(kind, iPXE script) for a PC asking at BASE (http://ADDRESS:PORT): kind winpe or disk.

    A PC whose MAC is unknown or unreadable goes to its disk: what cannot be recorded as served
    could be wiped again on every boot."""
    if mac is None or mac in served:
        return "disk", (
            "#!ipxe\necho autodeploy: WinPE was served to this PC already; booting from its disk\n"
            "echo (serve-pxe --again %s gives it WinPE once more)\nexit\n" % (mac or "MAC"))
    loader = LOADERS.get(FIRMWARE_OF_PLATFORM.get(platform, "UEFI"))
    return "winpe", (
        "#!ipxe\necho autodeploy: starting WinPE\n"
        "kernel %s/%s\ninitrd %s/boot.wim?mac=%s boot.wim\nboot\n" % (base, loader, base, mac))


def chain_script(base):
    """The script every iPXE is pointed at by DHCP: it asks again with its MAC and firmware."""
    return "#!ipxe\nchain %s/pc.ipxe?mac=${netX/mac}&platform=${platform}\n" % base


class ServedList:
    """The MACs that have received boot.wim whole, one a line in PATH, kept across runs."""

    def __init__(self, path):
        self.path = path
        self.macs = set()
        if os.path.exists(path):
            with open(path, encoding="ascii") as lines:
                self.macs = {m for m in (normal_mac(line) for line in lines) if m}

    def _save(self):
        partial = self.path + ".part"
        with open(partial, "w", encoding="ascii") as out:
            out.writelines(m + "\n" for m in sorted(self.macs))
        os.replace(partial, self.path)

    def add(self, mac):
        if mac not in self.macs:
            self.macs.add(mac)
            self._save()

    def forget(self, macs):
        """Forgets MACS (a list, or 'all'); returns those that were served, sorted."""
        gone = set(self.macs) if macs == "all" else self.macs & set(macs)
        self.macs -= gone
        self._save()
        return sorted(gone)


class DnsmasqLog:
    """Turns dnsmasq's --log-dhcp lines into events: (mac, kind, value) tuples.

    A request counts as offered only when it came from a PXE client (its vendor class names an
    architecture): WinPE's own DHCP later must not take a PC back to 'offered'."""

    def __init__(self):
        self.arch = {}

    def feed(self, line):
        found = _ARCH.match(line)
        if found:
            self.arch[found.group(1)] = str(int(found.group(2)))
            return []
        found = _PROXY.match(line)
        if found and found.group(1) in self.arch:
            return [(found.group(2), "offered", self.arch[found.group(1)])]
        found = _LEASE.match(line)
        if found:
            events = [(found.group(4), "address", found.group(3))]
            if found.group(2) == "OFFER" and found.group(1) in self.arch:
                events.insert(0, (found.group(4), "offered", self.arch[found.group(1)]))
            return events
        return []


def event_line(when, mac, kind, value=""):
    return "%.3f\t%s\t%s\t%s\n" % (when, mac, kind, value)


def parse_event(line):
    parts = line.rstrip("\n").split("\t")
    if len(parts) != 4:
        return None
    try:
        return float(parts[0]), parts[1], parts[2], parts[3]
    except ValueError:
        return None


def replay(path, room):
    """Applies every event of the log at PATH to ROOM, in order; returns ROOM."""
    with open(path, encoding="ascii") as lines:
        for line in lines:
            event = parse_event(line)
            if event:
                room.apply(*event)
    return room


class Room:
    """One row per PC (MAC, IP, firmware, stage), from events in the order they happened."""

    def __init__(self):
        self.rows = {}

    def apply(self, when, mac, kind, value):
        row = self.rows.setdefault(mac, {"mac": mac, "ip": "-", "firmware": "-", "stage": "-",
                                         "offered": None, "seconds": None})
        if kind == "offered":
            row["stage"], row["offered"], row["seconds"] = "offered", when, None
            row["firmware"] = FIRMWARE_OF_ARCH.get(value, row["firmware"])
        elif kind == "address":
            row["ip"] = value
        elif kind == "platform":
            row["firmware"] = FIRMWARE_OF_PLATFORM.get(value, row["firmware"])
        elif kind == "winpe":
            row["stage"] = "loading WinPE 0%"
        elif kind == "loading":
            row["stage"] = "loading WinPE %s%%" % value
        elif kind == "started":
            row["stage"] = "WinPE started"
            if row["offered"] is not None:
                row["seconds"] = when - row["offered"]
        elif kind == "disk":
            row["stage"] = "sent to its disk"
        return row

    def lines(self):
        """The table: a header, then a line per PC in the order they first appeared."""
        out = ["%-17s  %-15s  %-8s  %s" % ("PC (MAC)", "IP", "firmware", "stage")]
        for row in self.rows.values():
            stage = row["stage"]
            if row["seconds"] is not None:
                stage += " (%.0f s after its first offer)" % row["seconds"]
            out.append("%-17s  %-15s  %-8s  %s" % (row["mac"], row["ip"], row["firmware"], stage))
        return out
