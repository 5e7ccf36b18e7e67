"""Every stage a PC is shown in, once: its label (filled in from the PC's fields) and its state, which orders
the rows and colours them on the page; the text itself is never read back."""

STAGES = {
    # key: (label, state)
    "off": ("woken {woken} times, no answer yet", "waiting"),
    "offered": ("offered", "booting"),
    "loading": ("loading WinPE {percent}%", "booting"),
    "started": ("WinPE started", "booting"),
    "joined": ("joined the multicast{of_transfer}", "waiting"),
    "receiving": ("receiving {room_percent}%", "receiving"),
    "received": ("image received", "done"),
    "disk": ("sent to its disk", "done"),
    "dropped": ("FAILED: dropped by the sender (transfer {transfer})", "failed"),
    "alone": ("not in the room list: left alone", "alone"),
}
LATE = "; late: waits for the next transfer"
# Rows in this order: failed first, then late ones, then the rest as they came.
RANK = {"failed": 0, "late": 1}


def label(key, **fields):
    return STAGES[key][0].format(**fields)
