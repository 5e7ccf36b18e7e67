"""dnsmasq's --log-dhcp lines turned into events (MAC, kind, value). A request counts as offered only when it
came from a PXE client (its vendor class names an architecture): WinPE's own DHCP later must not take a PC back
to 'offered'. A PC that dnsmasq does not answer (dhcp-ignore) is 'ignored'. What a client sends reaches us
only through these patterns."""

import collections
import re

from roomserver.macs import normal_mac

_ARCH = re.compile(r"\S+: (\d+) vendor class: PXEClient:Arch:(\d{5})")
_PROXY = re.compile(r"\S+: (\d+) PXE\(\S+\) (?:[\d.]+ )?([0-9a-f:]{17}) proxy(-ignored)?\s*$")
_IGNORED = re.compile(r"\S+: (\d+) DHCPDISCOVER\(\S+\) ([0-9a-f:]{17}) ignored\s*$")
_LEASE = re.compile(r"\S+: (\d+) DHCP(OFFER|ACK)\(\S+\) ([\d.]+) ([0-9a-f:]{17})")
_KEPT = 1024  # architectures of this many recent requests: a flood of requests cannot grow the memory


class DnsmasqLog:
    def __init__(self):
        self.arch = collections.OrderedDict()

    def feed(self, line):
        found = _ARCH.match(line)
        if found:
            self.arch[found.group(1)] = str(int(found.group(2)))
            while len(self.arch) > _KEPT:
                self.arch.popitem(last=False)
            return []
        found = _PROXY.match(line)
        if found and found.group(1) in self.arch and normal_mac(found.group(2)):
            return [(found.group(2), "ignored" if found.group(3) else "offered", self.arch[found.group(1)])]
        found = _IGNORED.match(line)
        if found and found.group(1) in self.arch and normal_mac(found.group(2)):
            return [(found.group(2), "ignored", self.arch[found.group(1)])]
        found = _LEASE.match(line)
        if found and normal_mac(found.group(4)):
            events = [(found.group(4), "address", found.group(3))]
            if found.group(2) == "OFFER" and found.group(1) in self.arch:
                events.insert(0, (found.group(4), "offered", self.arch[found.group(1)]))
            return events
        return []
