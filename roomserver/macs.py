"""The one reader of MAC addresses: what an operator writes (any case, colons or hyphens) and what the network
sends, as lower case with colons."""

import re

_MAC = re.compile(r"[0-9a-f]{2}([:-][0-9a-f]{2}){5}")


def normal_mac(text):
    """TEXT as lower case with colons, or None when it is no MAC."""
    text = text.strip().lower()
    return text.replace("-", ":") if _MAC.fullmatch(text) else None
