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
    "drivers-loaded": ("drivers loaded: {loaded} of {drivers}", "booting", 4),
    "guard-allowed": ("disk guard: disk 0 may be wiped", "booting", 5),
    "capture-found": ("Windows found: {megabytes} MB to capture", "booting", 5),
    "guard-refused": ("FAILED: the disk guard refused disk 0 (the PC holds)", "failed", 16),
    "disk-prepared": ("disk prepared", "booting", 6),
    "starting-over": ("transfer broke off: starting over (try {attempt})", "waiting", 6),
    "waiting": ("waiting for the image", "waiting", 7),
    "joined": ("joined the multicast{of_transfer}", "waiting", 8),
    "broken": ("transfer {transfer} broke off: it starts over by itself", "waiting", 8),
    "receiving": ("receiving {room_percent}%", "receiving", 9),
    "receiving-bytes": ("receiving: {megabytes} MB", "receiving", 9),
    "capturing": ("capturing: {megabytes} MB written, {rate} MB/s", "receiving", 9),
    "received": ("image received", "receiving", 10),
    "captured": ("captured: {megabytes} MB; checking the image", "receiving", 10),
    "applying": ("applying image", "receiving", 11),
    "drivers-added": ("drivers added: {drivers}", "receiving", 12),
    "answer-file": ("answer file written", "receiving", 13),
    "boot-files": ("writing boot files", "receiving", 14),
    "deployed": ("deployed: restarting", "deployed", 15),
    "saved": ("captured: the image checked and saved; the PC shuts down", "deployed", 15),
    "failed": ("FAILED: {error}", "failed", 16),
    "dropped": ("FAILED: dropped by the sender (transfer {transfer})", "failed", 16),
    "disk": ("sent to its disk", "deployed", 1),  # a boot of its own begins: what it reports then moves it on
    "alone": ("not in the room list: left alone", "alone", 18),
    "outsider": ("not in the room list: joined the multicast", "alone", 18),
    "unseen": ("never asked the server", "waiting", 0),
    "claimed": ("FAILED: two hosts claim its MAC ({claims}): it gets nothing more", "failed", 16),
    "claiming": ("FAILED: claims the MAC of {error} too: it gets nothing", "failed", 16),
}
REPORTS = ("guard-allowed", "guard-refused", "disk-prepared", "waiting", "receiving", "applying", "boot-files",
           "answer-file", "deployed", "failed", "starting-over",
           "drivers-loaded", "drivers-added", "capture-found", "capturing", "captured")
LATE = "; late: waits for the next transfer"
# Rows in this order: failed first, then late ones, then the rest as they came.
RANK = {"failed": 0, "late": 1}
# The page's counts, in this order.
COUNTED = ("deployed", "receiving", "waiting", "late", "failed")


def label(key, **fields):
    return STAGES[key][0].format(**fields)


def place(key):
    return STAGES[key][2]
