"""Every setting of a run, with its default, once: cli.py fills it from what the bash hands over (checked);
tests and benchmarks build it with keywords."""

import dataclasses


@dataclasses.dataclass
class Config:
    mode: str  # pxe, room, send, collect or capture: which parts the run is made of (server.py)
    name: str = "roomserver"  # the command, as its user calls it: every line the run says starts with it
    # The network boot: the interface that faces the PCs, its address and subnet, dnsmasq's DHCP (proxy or
    # FIRST,LAST), the HTTP port, where iPXE's loaders and wimboot are.
    interface: str = None
    address: str = None
    subnet: str = None  # A.B.C.D/N, the interface's
    dhcp: str = "proxy"
    port: int = 8080
    ipxe: str = "/usr/lib/ipxe"
    wimboot: str = None
    work_dir: str = None  # boot.wim, and the lists of PCs served, deployed and seen, kept across runs
    journal: str = None
    room: str = None  # the room list's file (for collect: the file it writes)
    listed: object = None  # the room list read (roomlist.RoomList); None: every PC is the room's
    expected: list = dataclasses.field(default_factory=list)  # the MACs of the list to deploy in this run
    again: object = dataclasses.field(default_factory=list)  # MACs to forget as served, or "all"
    unattend: str = None  # the answer file's template, checked
    # The multicast: the image, udp-sender's command line, and when to send.
    image: str = None
    sender: list = dataclasses.field(default_factory=list)
    machines: int = None
    max_wait: int = None
    late_wait: int = 60
    nokbd: bool = False
    retries: int = None  # udp-sender's --retries-until-drop, for what send-image says of a PC that stalls
    wake: list = dataclasses.field(default_factory=list)
    remove: list = dataclasses.field(default_factory=list)  # paths the bash made for this run, gone at its end
    boot_image: str = "boot.wim"  # the boot image in the work folder that the PCs get (a capture's has its own)
    # The capture of one PC: its MAC, the file its image becomes, dism's name for it, whether the operator takes a
    # Windows that was not generalized.
    pc: str = None
    pc_shown: str = None  # its name and MAC, as the operator reads them
    output: str = None
    capture_name: str = "Windows"
    not_generalized: bool = False
