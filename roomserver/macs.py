"""The one reader of MAC addresses: what an operator writes (any case, colons or hyphens) and what the network
sends, as lower case with colons."""

import re

_MAC = re.compile(r"[0-9a-f]{2}([:-][0-9a-f]{2}){5}")


def normal_mac(text):
    """TEXT as lower case with colons, or None when it is no MAC."""
    text = text.strip().lower()
    return text.replace("-", ":") if _MAC.fullmatch(text) else None


def pc_mac_problem(mac):
    """Why MAC (as normal_mac writes it) cannot be a PC's network card, or None: the broadcast address, a
    multicast one (the lowest bit of its first octet set) or all zeros is no card's own."""
    why = ("the broadcast address" if mac == "ff:ff:ff:ff:ff:ff" else "a multicast address (its first octet is odd)"
           if int(mac[:2], 16) & 1 else "all zeros" if mac == "00:00:00:00:00:00" else None)
    return why and "%s is %s, no PC's: give the MAC of the PC's network card" % (mac, why)
