"""A test's probe: the DHCP discover a BIOS PC's PXE firmware sends, from INTERFACE with MAC as its hardware
address. Prints "answered by ADDRESS" for each server that answers within 3 s; exit status 0 when one did, 1
when none. With COUNT: that many discovers from 1,000 MACs made up from MAC's first three bytes, none waited for.
Usage: dhcp_probe.py INTERFACE MAC [COUNT]"""
import os
import socket
import struct
import sys
import time

interface, mac, count = (sys.argv[1:] + [0])[:3]
xid = os.urandom(4)
options = [(53, b"\x01"), (60, b"PXEClient:Arch:00000:UNDI:002001"), (93, b"\x00\x00"), (94, b"\x01\x02\x01"),
           (97, b"\x00" * 17), (55, bytes([1, 3, 43, 60, 66, 67]))]
discover = (struct.pack("!BBBB4sHH4s4s4s4s16s64s128sI", 1, 1, 6, 0, xid, 0, 0x8000, b"", b"", b"", b"",
                        bytes.fromhex(mac.replace(":", "")), b"", b"", 0x63825363)
            + b"".join(bytes([code, len(value)]) + value for code, value in options) + b"\xff")
answered = False
with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
    s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BROADCAST, 1)
    s.setsockopt(socket.SOL_SOCKET, socket.SO_BINDTODEVICE, interface.encode())
    s.bind(("0.0.0.0", 68))
    for n in range(int(count)):
        made_up = bytes.fromhex(mac.replace(":", ""))[:3] + (n % 1000).to_bytes(3, "big")
        s.sendto(discover[:28] + made_up + discover[34:], ("255.255.255.255", 67))
        time.sleep(0.0002)
    if count:
        sys.exit(0)
    s.sendto(discover, ("255.255.255.255", 67))
    deadline = time.monotonic() + 3
    while (left := deadline - time.monotonic()) > 0:
        s.settimeout(left)
        try:
            data, (address, _) = s.recvfrom(4096)
        except socket.timeout:
            break
        if len(data) > 240 and data[0] == 2 and data[4:8] == xid:
            print("answered by", address)
            answered = True
sys.exit(0 if answered else 1)
