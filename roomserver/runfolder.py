"""The folder a run serves from, under /run, gone when the run ends (what a server killed outright left, the
next one removes): dnsmasq's configuration and its TFTP root with iPXE's loaders, the files the HTTP server
sends (wimboot and the prepared boot image, as links), `known`, the MACs dnsmasq answers, and a capture's smbd
configuration and state (share.py)."""

import glob
import ipaddress
import os
import shutil
import tempfile
import time

from roomserver import boot

IPXE_LOADERS = {"bios": "undionly.kpxe", "uefi": "snponly.efi"}  # sent by TFTP to the PXE firmware
KINDS = ("serve-pxe", "serve-room", "capture")  # the commands that serve from such a folder, checkout or installed name
_MAKING = 60  # seconds a folder without its pid file is taken to be in the making


def sweep(root="/run"):
    """Removes the folders of runs whose server is gone."""
    for folder in glob.glob(os.path.join(root, "*.*")):
        kind = os.path.basename(folder).rpartition(".")[0].rpartition("autodeploy-")[2]
        if kind in KINDS and os.path.isdir(folder) and not os.path.islink(folder) and _gone(folder):
            shutil.rmtree(folder, ignore_errors=True)


def _gone(folder):
    try:
        with open(os.path.join(folder, "pid"), encoding="ascii") as pid:
            os.kill(int(pid.read()), 0)
    except FileNotFoundError:
        return time.time() - os.lstat(folder).st_mtime > _MAKING
    except ProcessLookupError:
        return True
    except (OSError, ValueError):
        return False
    return False


def make(config, answered, root="/run"):
    """A new run folder for CONFIG, filled; its path. ANSWERED: the MACs dnsmasq answers (None: every PC's).
    OSError when it cannot be."""
    run = tempfile.mkdtemp(prefix=config.name + ".", dir=root)
    try:
        with open(os.path.join(run, "pid"), "w", encoding="ascii") as pid:
            pid.write("%d\n" % os.getpid())
        # dnsmasq drops to the user nobody: its TFTP root is a folder of its own, open to everyone.
        os.chmod(run, 0o755)
        for folder in ("tftp", "http"):
            os.mkdir(os.path.join(run, folder), 0o755)
        for loader in IPXE_LOADERS.values():
            shutil.copyfile(os.path.join(config.ipxe, loader), os.path.join(run, "tftp", loader))
            os.chmod(os.path.join(run, "tftp", loader), 0o644)
        if config.work_dir:
            for loader in boot.LOADERS.values():
                os.symlink(os.path.join(config.wimboot, loader), os.path.join(run, "http", loader))
            image = os.path.realpath(os.path.join(config.work_dir, config.boot_image))
            os.symlink(image, os.path.join(run, "http", "boot.wim"))
        known = os.path.join(run, "known") if answered is not None else None
        if known:
            with open(known, "w", encoding="ascii") as lines:
                lines.writelines(mac + "\n" for mac in answered)
        with open(os.path.join(run, "dnsmasq.conf"), "w", encoding="ascii") as conf:
            conf.write(dnsmasq_config(config, os.path.join(run, "tftp"), os.path.join(run, "leases"), known))
    except OSError:
        shutil.rmtree(run, ignore_errors=True)
        raise
    return run


def dnsmasq_config(config, tftp, leases, known=None):
    """DHCP (proxy beside the site's server, or a range of its own) and TFTP on the room's interface only, no
    DNS; with KNOWN (a file of MACs), only those PCs are answered."""
    subnet = ipaddress.ip_interface(config.subnet).network
    url = "http://%s:%d/boot.ipxe" % (config.address, config.port)
    lines = ["# No DNS; DHCP (proxy or a range) and TFTP on %s only." % config.interface, "port=0",
             "interface=" + config.interface, "bind-interfaces", "log-dhcp", "pid-file=", "dhcp-leasefile=" + leases,
             "enable-tftp", "tftp-root=" + tftp,
             "# iPXE says who it is (option 175, user class iPXE): it gets the HTTP script, never a loader again.",
             "dhcp-match=set:ipxe,175", "dhcp-userclass=set:ipxe,iPXE",
             'pxe-service=tag:!ipxe,x86PC,"autodeploy",' + IPXE_LOADERS["bios"],
             "# The server address after the empty name: without it iPXE on BIOS finds nothing to boot.",
             "dhcp-boot=tag:ipxe,%s,,%s" % (url, config.address)]
    if known:  # a listed MAC gets the tag "known" in every range, proxy ones too; the others no answer at all
        lines += ["dhcp-hostsfile=" + known, "dhcp-ignore=tag:!known"]
    if config.dhcp == "proxy":
        lines += ['pxe-service=tag:!ipxe,%s,"autodeploy",%s' % (arch, IPXE_LOADERS["uefi"])
                  for arch in ("X86-64_EFI", "BC_EFI")]
        lines.append("dhcp-range=%s,proxy,%s" % (subnet.network_address, subnet.netmask))
    else:
        # dnsmasq sends a UEFI PC's loader (pxe-service) only from a proxy, on port 4011: with a range of its
        # own the loader goes into the offer itself.
        first, last = config.dhcp.split(",")
        lines += ["dhcp-match=set:efi,option:client-arch,%d" % arch for arch in (7, 9)]
        lines += ["dhcp-boot=tag:efi,tag:!ipxe,%s,,%s" % (IPXE_LOADERS["uefi"], config.address),
                  "dhcp-range=%s,%s,%s,1h" % (first, last, subnet.netmask)]
    return "\n".join(lines) + "\n"
