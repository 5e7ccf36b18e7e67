"""What a PC's iPXE is sent: the script every iPXE is pointed at by DHCP, and per PC either WinPE (the first
time) or its own disk (once it has received the boot image whole: it is not wiped again)."""

LOADERS = {"pcbios": "wimboot.i386", "efi": "wimboot.x86_64.efi"}
ALONE = "#!ipxe\necho autodeploy: this PC is not in the room list; booting from its disk\nexit\n"
HELD = "#!ipxe\necho autodeploy: another host claims this PC's MAC; booting from its disk\nexit\n"


def chain_script(base):
    """BASE: http://ADDRESS:PORT. The PC asks again with its MAC and firmware."""
    return "#!ipxe\nchain %s/pc.ipxe?mac=${netX/mac}&platform=${platform}\n" % base


def boot_script(mac, platform, served, base, again_command):
    """(kind, script): kind winpe or disk. A PC whose MAC is unknown goes to its disk: what cannot be
    recorded as served could be wiped again on every boot."""
    if mac is None or mac in served:
        return "disk", ("#!ipxe\necho autodeploy: WinPE was served to this PC already; booting from its disk\n"
                        "echo (%s --again %s gives it WinPE once more)\nexit\n" % (again_command, mac or "MAC"))
    # wimboot puts a file of a name it does not know into WinPE's System32: the watch reads it there.
    script = ("#!ipxe\necho autodeploy: starting WinPE\nkernel {base}/{loader}\ninitrd {base}/boot.wim?mac={mac} "
              "boot.wim\ninitrd {base}/pc.txt?mac={mac} autodeploy-server.txt\nboot\n")
    return "winpe", script.format(base=base, loader=LOADERS[platform], mac=mac)
