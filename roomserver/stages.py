"""Every stage a PC is shown in, once: its label (filled in from the PC's fields), its state, which orders
the rows, colours them on the page and counts them at its top, and its place on the road: a PC's own report
never takes it back to an earlier place (reports and udp-sender's lines arrive in any order). The text
itself is never read back."""

STAGES = {
    # key: (label, state, place)
    "off": ("woken {woken} times, no answer yet", "waiting", 0),
    "offered": ("offered", "booting", 1),
    "loading": ("loading WinPE {percent}%", "booting", 2),
    "started": ("WinPE started", "booting", 3),
    "guard-allowed": ("disk guard: disk 0 may be wiped", "booting", 4),
    "guard-refused": ("FAILED: the disk guard refused disk 0 (the PC holds)", "failed", 14),
    "disk-prepared": ("disk prepared", "booting", 5),
    "starting-over": ("transfer broke off: starting over (try {attempt})", "waiting", 5),
    "waiting": ("waiting for the image", "waiting", 6),
    "joined": ("joined the multicast{of_transfer}", "waiting", 7),
    "broken": ("transfer {transfer} broke off: it starts over by itself", "waiting", 7),
    "receiving": ("receiving {room_percent}%", "receiving", 8),
    "receiving-bytes": ("receiving: {megabytes} MB", "receiving", 8),
    "received": ("image received", "receiving", 9),
    "applying": ("applying image", "receiving", 10),
    "boot-files": ("writing boot files", "receiving", 11),
    "answer-file": ("answer file written", "receiving", 12),
    "deployed": ("deployed: restarting", "deployed", 13),
    "failed": ("FAILED: {error}", "failed", 14),
    "dropped": ("FAILED: dropped by the sender (transfer {transfer})", "failed", 14),
    "disk": ("sent to its disk", "deployed", 1),  # a boot of its own begins: what it reports then moves it on
    "alone": ("not in the room list: left alone", "alone", 16),
    "outsider": ("not in the room list: joined the multicast", "alone", 16),
    "unseen": ("never asked the server", "waiting", 0),
    "claimed": ("FAILED: two hosts claim its MAC ({claims}): it gets nothing more", "failed", 14),
    "claiming": ("FAILED: claims the MAC of {error} too: it gets nothing", "failed", 14),
}
REPORTS = ("guard-allowed", "guard-refused", "disk-prepared", "waiting", "receiving", "applying", "boot-files",
           "answer-file", "deployed", "failed", "starting-over")
LATE = "; late: waits for the next transfer"
# Rows in this order: failed first, then late ones, then the rest as they came.
RANK = {"failed": 0, "late": 1}
# The page's counts, in this order.
COUNTED = ("deployed", "receiving", "waiting", "late", "failed")


def label(key, **fields):
    return STAGES[key][0].format(**fields)


def place(key):
    return STAGES[key][2]
