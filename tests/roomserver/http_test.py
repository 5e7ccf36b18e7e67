"""The room server's HTTP side as any host of the room's segment meets it: a table of hostile requests against
the running server on loopback (each refused or harmless: nothing recorded, decided or drawn from it), 1,100
idle connections that keep no PC out, and a PC's own road through it. The server runs in a process of its own
(this file with --serve), with a stock login's 1,024 open files; the neighbour table says 127.0.0.2 is the PC."""
import os
import re
import resource
import socket
import subprocess
import sys
import tempfile
import time
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../..")
sys.path.insert(0, ROOT)
PC, MAC, OTHER, THIRD = "127.0.0.2", "52:54:00:12:34:56", "52:54:00:12:34:57", "52:54:00:12:34:58"
# The neighbour table as the server sees it: 127.0.0.6 is another host that took OTHER's MAC.
ARP = {PC: MAC, "127.0.0.4": OTHER, "127.0.0.5": THIRD, "127.0.0.6": OTHER}
PORT = PATIENT = 0  # the servers' ports once they run: a head cut after 2 s, and after 60 s


def serve(folder, head_seconds):
    """The network boot's HTTP side alone (no dnsmasq), serving FOLDER/http on a port of its own."""
    import asyncio
    from roomserver import core, http, neighbours, netboot, roomlist
    from roomserver.config import Config
    resource.setrlimit(resource.RLIMIT_NOFILE, (1024, resource.getrlimit(resource.RLIMIT_NOFILE)[1]))
    http.HEAD_SECONDS = float(head_seconds)
    neighbours.mac_of = lambda ip, interface: ARP.get(ip, "52:54:00:99:99:99")
    listed = roomlist.RoomList()
    for mac, name in ((MAC, "LAB1-07"), (OTHER, "LAB1-08"), (THIRD, "LAB1-09")):
        listed.add(mac, name)
    config = Config(mode="pxe", name="serve-pxe", interface="lo", address="127.0.0.1", port=0, work_dir=folder,
                    journal=folder + "/journal" if head_seconds == "2" else None, listed=listed,
                    unattend="<unattend><ComputerName>*</ComputerName></unattend>")
    part = netboot.NetBoot(core.Core(config))
    part.core.listeners, part.run = [part.heard], folder

    async def run():
        part.core.ended = asyncio.get_running_loop().create_future()
        await part.serve_http()
        while True:
            part.tick(time.time())
            await asyncio.sleep(0.2)
    asyncio.run(run())


def get(request, source=PC, port=None):
    """The response to REQUEST (bytes) sent from SOURCE: (status or None when the server closed, body)."""
    data = b""
    with socket.create_connection(("127.0.0.1", port or PORT), timeout=5, source_address=(source, 0)) as s:
        s.sendall(request)
        try:
            while part := s.recv(65536):
                data += part
        except ConnectionResetError:  # closed by the server with the request unread
            pass
    head, _, body = data.partition(b"\r\n\r\n")
    found = re.match(rb"HTTP/1\.1 (\d+) ", head)
    return (int(found.group(1)) if found else None), body


HOSTILE = [  # request, status (None: closed without an answer), what the body holds; from the PC's address
    (b"GET /pc.ipxe?mac=52:54:00:12:34:56&platform=efi HTTP/1.1\r\n\r\n", 200, b"exit", "127.0.0.3"),
    (b"GET /pc.ipxe?mac=52:54:00:12:34:56&platform=efi%0A1.0%09room%09ended%091 HTTP/1.1\r\n\r\n", 400, b""),
    (b"GET /pc.ipxe?mac=%1b[2J%1b[H&platform=efi HTTP/1.1\r\n\r\n", 200, b"exit"),
    (b"GET /pc.ipxe?mac=52:54:00:12:34:56&platform=" + b"x" * 60000 + b" HTTP/1.1\r\n\r\n", None, b""),
    (b"GET /pc.ipxe?mac=52:54:00:12:34:56&platform=" + b"x" * 65 + b" HTTP/1.1\r\n\r\n", 400, b"Bad Request"),
    (b"GET /pc.ipxe?mac=52:54:00:12:34:56&mac=52:54:00:12:34:57&platform=efi HTTP/1.1\r\n\r\n", 400, b""),
    (b"GET /boot.wim?mac=52:54:00:12:34:56 HTTP/1.1\r\n\r\n", 403, b"Forbidden"),
    (b"GET /wimboot.i386 HTTP/1.1\r\n\r\n", 403, b"", "127.0.0.3"),  # to an address never given its script
    (b"GET /boot.ipxe?room=progress HTTP/1.1\r\n\r\n", 400, b""),
    (b"GET /report?stage=deployed HTTP/1.1\r\n\r\n", 403, b"", "127.0.0.3"),  # not in the room list
    (b"GET /report?mac=52:54:00:12:34:56&stage=deployed HTTP/1.1\r\n\r\n", 403, b"", "127.0.0.4"),  # another's
    (b"GET /report?stage=sleeping HTTP/1.1\r\n\r\n", 400, b""),
    (b"GET /report?stage=receiving&bytes=1e9 HTTP/1.1\r\n\r\n", 400, b""),
    (b"GET /report?stage=starting-over&try=10 HTTP/1.1\r\n\r\n", 400, b""),
    (b"GET /report?stage=drivers-loaded&loaded=4&drivers=3 HTTP/1.1\r\n\r\n", 400, b""),
    (b"GET /report?stage=drivers-added&drivers=-1 HTTP/1.1\r\n\r\n", 400, b""),
    (b"GET /report?stage=failed&error=" + b"x" * 301 + b" HTTP/1.1\r\n\r\n", 400, b""),
    (b"GET /pc.txt?mac=52:54:00:12:34:56 HTTP/1.1\r\n\r\n", 403, b""),
    (b"GET /unattend.xml?mac=52:54:00:12:34:56 HTTP/1.1\r\n\r\n", 403, b"", "127.0.0.4"),  # another's
    (b"GET /../../etc/passwd HTTP/1.1\r\n\r\n", 404, b""),
    (b"GET http://x/ HTTP/1.1\r\n\r\n", 400, b""),
    (b"POST / HTTP/1.1\r\nContent-Length: 3\r\n\r\nabc", 405, b""),
    (b"GET / HTTP/1.1\r\n" + b"X: y\r\n" * 100 + b"\r\n", 400, b""),
    (b"GET /\xff\x1b HTTP/1.1\r\n\r\n", None, b""),
    (b"GET / HTTP/1.1\r\n", None, b""),  # a head never finished
]


def read(name, mode="r", seconds=10):
    """The server's file NAME (ASCII), waited for: its lists are written apart from the answers."""
    for _ in range(seconds * 20 - 1):
        if os.path.exists(os.path.join(Http.folder, name)):
            break
        time.sleep(0.05)
    with open(os.path.join(Http.folder, name), mode, encoding=None if "b" in mode else "ascii") as file:
        return file.read()


class Http(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.folder = cls.enterClassContext(tempfile.TemporaryDirectory())
        os.makedirs(cls.folder + "/http")
        for name, size in (("boot.wim", 3 << 20), ("wimboot.i386", 16 << 20), ("wimboot.x86_64.efi", 1000)):
            with open(os.path.join(cls.folder, "http", name), "wb") as out:
                out.write(os.urandom(size))
        global PORT, PATIENT
        servers, ports = [], []
        # One cuts a head never finished within a client's patience; the other keeps idle connections as long as
        # they take to open, however busy the machine.
        for head_seconds in ("2", "60"):
            servers.append(cls.enterClassContext(subprocess.Popen(
                [sys.executable, __file__, "--serve", cls.folder, head_seconds], stdout=subprocess.PIPE,
                stderr=subprocess.STDOUT, text=True)))
            cls.addClassCleanup(servers[-1].kill)  # before the wait on leaving its context
            said = re.fullmatch(r"serve-pxe: serving on lo \(127\.0\.0\.1\), DHCP proxy, HTTP port (\d+); "
                                r"Ctrl-C stops\n", servers[-1].stdout.readline())
            ports.append(int(said[1]))
        cls.server, (PORT, PATIENT) = servers[0], ports

    def test_1_hostile_requests_change_nothing(self):
        for request, status, body, *source in HOSTILE:
            got = get(request, *source)
            self.assertEqual(got[0], status, request[:80])
            self.assertIn(body, got[1], request[:80])
        self.assertEqual((self.server.poll(), read("journal")), (None, ""))
        self.assertFalse(os.path.exists(self.folder + "/served"))

    def test_2_idle_connections_and_stalled_readers_keep_no_pc_out(self):
        limit = resource.getrlimit(resource.RLIMIT_NOFILE)
        resource.setrlimit(resource.RLIMIT_NOFILE, (max(limit[0], 4096), max(limit[1], 4096)))
        connect = lambda source: socket.create_connection(("127.0.0.1", PATIENT), source_address=(source, 0))  # noqa

        def slow(source):  # a download never read
            held = connect(source)
            held.sendall(wimboot)
            return held
        idle = [connect("127.0.%d.%d" % (i // 11 % 250 + 1, i % 11 + 10)) for i in range(1100)]
        # 600 slow downloads from 40 addresses never granted a boot script, then 5 each from two PCs that were:
        # more readers that stall than worker threads, the fifth of a PC refused.
        wimboot, more = b"GET /wimboot.i386 HTTP/1.1\r\n\r\n", []
        idle += [slow("127.1.%d.%d" % (i // 15, i % 15 + 1)) for i in range(600)]
        for source in ("127.0.0.4", "127.0.0.5"):
            get(b"GET /pc.ipxe?mac=%s&platform=pcbios HTTP/1.1\r\n\r\n" % ARP[source].encode(), source, PATIENT)
            more += [slow(source) for _ in range(5)]
        time.sleep(0.5)  # until each has filled its socket
        try:
            self.assertEqual(sorted(s.recv(12) for s in more), [b"HTTP/1.1 200"] * 8 + [b"HTTP/1.1 503"] * 2)
            started = time.monotonic()
            get(b"GET /pc.ipxe?mac=52:54:00:12:34:56&platform=efi HTTP/1.1\r\n\r\n", port=PATIENT)
            status, body = get(b"GET /wimboot.x86_64.efi HTTP/1.1\r\n\r\n", port=PATIENT)
            self.assertEqual((status, len(body)), (200, 1000))
            self.assertLess(time.monotonic() - started, 3)
            # One address holds 16 connections at most: the next is closed at once.
            more += [connect("127.0.9.9") for _ in range(17)]
            more[-1].settimeout(1)
            try:
                self.assertEqual(more[-1].recv(1), b"")
            except ConnectionResetError:
                pass
        finally:
            for s in idle + more:
                s.close()

    def test_3_a_pc_boots_once(self):
        status, script = get(b"GET /pc.ipxe?mac=52-54-00-12-34-56&platform=pcbios HTTP/1.1\r\n\r\n")
        self.assertEqual(script.decode(), "#!ipxe\necho autodeploy: starting WinPE\nkernel http://127.0.0.1:%d/wimboot."
                         "i386\ninitrd http://127.0.0.1:%d/boot.wim?mac=%s boot.wim\ninitrd http://127.0.0.1:%d/pc.txt?"
                         "mac=%s autodeploy-server.txt\nboot\n" % (PORT, PORT, MAC, PORT, MAC))
        self.assertEqual(get(b"GET /pc.txt?mac=" + MAC.encode() + b" HTTP/1.1\r\n\r\n")[1],
                         b"server=127.0.0.1:%d\r\nmac=%s\r\nname=LAB1-07\r\n" % (PORT, MAC.encode()))
        self.assertEqual([get(b"GET /unattend.xml HTTP/1.1\r\n\r\n")[1] for _ in range(3)],
                         [b"<unattend><ComputerName>LAB1-07</ComputerName></unattend>"] + [b"Forbidden\n"] * 2)
        # Another host cannot fetch it for the PC, nor mark it served.
        boot_wim = b"GET /boot.wim?mac=" + MAC.encode() + b" HTTP/1.1\r\n\r\n"
        self.assertEqual(get(boot_wim, "127.0.0.3")[0], 403)
        self.assertFalse(os.path.exists(self.folder + "/served"))
        self.assertEqual(get(boot_wim), (200, read("http/boot.wim", "rb")))
        self.assertEqual(read("served"), MAC + "\n")
        self.assertIn("<td>LAB1-07</td><td>%s</td><td>%s</td>" % (MAC, PC), get(b"GET / HTTP/1.1\r\n\r\n")[1].decode())
        # A PC not in the room list, asking for itself, is left alone and written down.
        self.assertIn(b"not in the room list",
                      get(b"GET /pc.ipxe?mac=52:54:00:99:99:99&platform=efi HTTP/1.1\r\n\r\n", "127.0.0.3")[1])
        self.assertRegex(read("seen"), r"^52:54:00:99:99:99  # UEFI, not in the room list, asked at [-0-9 :]+\n$")
        # The PCs' own reports: the whole road of one, and a failure whose line came with escape codes.
        for stage in ("drivers-loaded&loaded=2&drivers=3&make=Dell%1b[2J%20Inc.&model=OptiPlex%207090",
                      "guard-allowed", "disk-prepared", "waiting", "receiving&bytes=1000", "applying",
                      "drivers-added&drivers=3", "boot-files", "deployed"):
            self.assertEqual(get(b"GET /report?mac=%s&stage=%s HTTP/1.1\r\n\r\n" % (MAC.encode(), stage.encode()))[0],
                             200, stage)
        self.assertEqual(get(b"GET /report?stage=failed&error=Error:%20dism%1b[2J%e2%80%ae%0afailed HTTP/1.1\r\n\r\n",
                             "127.0.0.4")[0], 200)
        self.assertEqual(read("deployed"), MAC + "\n")
        page = get(b"GET / HTTP/1.1\r\n\r\n")[1].decode()
        self.assertIn('<tr class="failed"><td>LAB1-08</td><td>52:54:00:12:34:57</td><td>127.0.0.4</td><td>-</td>'
                      '<td>-</td><td>FAILED: Error: dism?[2J??failed</td></tr>', page)
        self.assertRegex(page, r'<tr class="deployed"><td>LAB1-07</td><td>52:54:00:12:34:56</td><td>127\.0\.0\.2</td>'
                               r'<td>BIOS</td><td>Dell\?\[2J Inc\. OptiPlex 7090</td><td>deployed: restarting</td>'
                               r'</tr>\n<tr class="alone"><td>-</td><td>52:54:00:99:99:99</td><td>-</td><td>UEFI</td>'
                               r'<td>-</td><td>not in the room list')
        self.assertNotRegex(read("journal"), "[\x00-\x08\x0b-\x1f\x7f]")
        # Served: its next network boot goes to its own disk.
        self.assertIn(b"exit", get(b"GET /pc.ipxe?mac=" + MAC.encode() + b"&platform=pcbios HTTP/1.1\r\n\r\n")[1])
        # Another host takes LAB1-08's MAC: both rows say so, neither gets its answer file, the journal has both.
        self.assertIn(b"another host claims", get(b"GET /pc.ipxe?mac=%s&platform=efi HTTP/1.1\r\n\r\n" %
                                                  OTHER.encode(), "127.0.0.6")[1])
        self.assertEqual([get(b"GET /unattend.xml HTTP/1.1\r\n\r\n", ip)[0] for ip in ("127.0.0.4", "127.0.0.6")],
                         [403, 403])
        self.assertIn("<td>LAB1-08</td><td>52:54:00:12:34:57</td><td>127.0.0.4</td><td>-</td><td>-</td><td>FAILED: "
                      "two hosts claim its MAC (127.0.0.4, 127.0.0.6): it gets nothing more</td></tr>\n<tr class="
                      "\"failed\"><td>-</td><td>-</td><td>127.0.0.6</td><td>-</td><td>-</td><td>FAILED: claims the MAC "
                      "of LAB1-08 too: it gets nothing</td>", get(b"GET / HTTP/1.1\r\n\r\n")[1].decode())
        self.assertEqual(re.findall(r"\t(%s\tclaim\t.*|.*\tanswer-.*)" % OTHER, read("journal")), [
            "%s\tanswer-%s\t%s" % (MAC, done, PC) for done in ("sent", "refused", "refused")] + [
            "%s\tclaim\t127.0.0.%d" % (OTHER, n) for n in (4, 6)])
        # What the server said of all this: the second answer file refused, and no fault of its own.
        self.server.terminate()
        self.assertEqual(self.server.stdout.read(), "serve-pxe: refused a second answer file to LAB1-07 (127.0.0.2): "
                         "one goes out for each boot into WinPE; the journal has each one asked for\nserve-pxe: two "
                         "hosts claim the MAC of LAB1-08 (127.0.0.4 and 127.0.0.6): it gets nothing more; find the "
                         "other host, then start serve-pxe again (with --again LAB1-08 if it was served)\n")


if __name__ == "__main__":
    if sys.argv[1:2] == ["--serve"]:
        serve(sys.argv[2], sys.argv[3])
    else:
        unittest.main()
