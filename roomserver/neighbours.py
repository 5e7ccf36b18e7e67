"""Whom an address belongs to: the MAC this machine's neighbour table holds for it on the room's interface.
A PC that talks to us over TCP has been resolved there, so a request that names another MAC is not its own."""

from roomserver.macs import normal_mac


def mac_of(ip, interface, table="/proc/net/arp"):
    return macs_of(interface, table).get(ip)


def macs_of(interface, table="/proc/net/arp"):
    """{address: MAC} of every neighbour resolved on INTERFACE."""
    found = {}
    try:
        with open(table, encoding="ascii", errors="replace") as lines:
            for line in list(lines)[1:]:
                parts = line.split()
                # IP address, HW type, flags (0x0: not resolved), HW address, mask, device
                if len(parts) >= 6 and parts[5] == interface and parts[2] != "0x0" and normal_mac(parts[3]):
                    found[parts[0]] = normal_mac(parts[3])
    except OSError:
        pass
    return found
