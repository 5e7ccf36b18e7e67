"""What a PC's iPXE is sent: the script every iPXE is pointed at by DHCP, and per PC either WinPE (the first
time) or its own disk (once it has received the boot image whole: it is not wiped again)."""

LOADERS = {"pcbios": "wimboot.i386", "efi": "wimboot.x86_64.efi"}
ALONE = "#!ipxe\necho autodeploy: this PC is not in the room list; booting from its disk\nexit\n"


def chain_script(base):
    """BASE: http://ADDRESS:PORT. The PC asks again with its MAC and firmware."""
    return "#!ipxe\nchain %s/pc.ipxe?mac=${netX/mac}&platform=${platform}\n" % base


def boot_script(mac, platform, served, base, again_command):
    """(kind, script): kind winpe or disk. A PC whose MAC is unknown goes to its disk: what cannot be
    recorded as served could be wiped again on every boot."""
    if mac is None or mac in served:
        return "disk", ("#!ipxe\necho autodeploy: WinPE was served to this PC already; booting from its disk\n"
                        "echo (%s --again %s gives it WinPE once more)\nexit\n" % (again_command, mac or "MAC"))
    return "winpe", ("#!ipxe\necho autodeploy: starting WinPE\nkernel %s/%s\ninitrd %s/boot.wim?mac=%s boot.wim\nboot\n"
                     % (base, LOADERS[platform], base, mac))
