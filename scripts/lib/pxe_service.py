"""The parts of a network boot server that run: the HTTP server (Python's own http.server) for the
iPXE scripts, wimboot and boot.wim, the follower of dnsmasq's log, the event log, the live view and
the summary. Each is a command of its own, so that a caller can run them as separate processes:

  pxe_service.py serve --address A --port P --files DIR --served FILE --events FILE --dnsmasq-log FILE
  pxe_service.py view EVENTS            one line per PC, redrawn on a terminal, plain lines otherwise
  pxe_service.py summary EVENTS         the table, once
  pxe_service.py forget SERVED MAC...|all

DIR holds wimboot.i386, wimboot.x86_64.efi and boot.wim. Every decision is pxe_state's. The server's
own page (/) is the room's table as room_state makes it from the event log, for a phone.
"""

import http.server
import os
import signal
import sys
import threading
import time
import urllib.parse

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pxe_state  # noqa: E402  (beside this file)
import room_state  # noqa: E402

CHUNK = 1 << 20


class EventLog:
    """Appends events from any thread, each line whole and flushed at once (the view follows it)."""

    def __init__(self, path):
        self.path = path
        self.file = open(path, "a", encoding="ascii")
        self.lock = threading.Lock()

    def write(self, mac, kind, value=""):
        with self.lock:
            self.file.write(pxe_state.event_line(time.time(), mac, kind, value))
            self.file.flush()


class BootServer(http.server.ThreadingHTTPServer):
    daemon_threads = True

    def __init__(self, address, port, files, served, events, access_log):
        self.base = "http://%s:%d" % (address, port)
        self.files, self.served, self.events = files, served, events
        self.served_lock = threading.Lock()
        self.access_log = access_log
        super().__init__((address, port), BootRequest)


class BootRequest(http.server.BaseHTTPRequestHandler):
    server_version = "autodeploy-pxe"

    def log_message(self, format, *args):  # noqa: A002 (the base class's name)
        self.server.access_log.write("%s %s\n" % (self.client_address[0], format % args))
        self.server.access_log.flush()

    def _send_text(self, text, kind="text/plain"):
        body = text.encode("utf-8")
        self.send_response(200)
        self.send_header("Content-Type", kind)
        self.send_header("Cache-Control", "no-store")
        self.send_header("Content-Length", str(len(body)))
        self.end_headers()
        self.wfile.write(body)

    def do_GET(self):  # noqa: N802 (the base class's name)
        url = urllib.parse.urlsplit(self.path)
        query = urllib.parse.parse_qs(url.query)
        mac = pxe_state.normal_mac(query.get("mac", [""])[0])
        server = self.server
        if url.path == "/":
            page = room_state.room_from(server.events.path).page(time.time())
            self._send_text(page, "text/html; charset=utf-8")
        elif url.path == "/boot.ipxe":
            self._send_text(pxe_state.chain_script(server.base))
        elif url.path == "/pc.ipxe":
            platform = query.get("platform", [""])[0]
            with server.served_lock:
                kind, script = pxe_state.boot_script(mac, platform, server.served.macs, server.base)
            if mac:
                server.events.write(mac, "address", self.client_address[0])
                server.events.write(mac, "platform", platform)
                server.events.write(mac, kind)
            self._send_text(script)
        elif url.path in ("/wimboot.i386", "/wimboot.x86_64.efi"):
            self._send_file(os.path.join(server.files, url.path[1:]), None)
        elif url.path == "/boot.wim" and mac:
            self._send_file(os.path.join(server.files, "boot.wim"), mac)
        else:
            self.send_error(404)

    def _send_file(self, path, mac):
        """Sends PATH; for boot.wim, reports the share sent and records MAC once all of it went."""
        size = os.path.getsize(path)
        self.send_response(200)
        self.send_header("Content-Type", "application/octet-stream")
        self.send_header("Content-Length", str(size))
        self.end_headers()
        sent, reported = 0, -1
        with open(path, "rb") as source:
            while True:
                chunk = source.read(CHUNK)
                if not chunk:
                    break
                self.wfile.write(chunk)
                sent += len(chunk)
                percent = sent * 100 // size
                if mac and percent // 5 > reported // 5 and sent < size:
                    self.server.events.write(mac, "loading", str(percent))
                    reported = percent
        self.wfile.flush()
        if mac and sent == size:
            with self.server.served_lock:
                self.server.served.add(mac)
            self.server.events.write(mac, "started")


def follow(path, on_line, stop):
    """Calls ON_LINE with each whole line of PATH, also those written later, until STOP is set."""
    while not os.path.exists(path) and not stop.is_set():
        stop.wait(0.2)
    with open(path, encoding="utf-8", errors="replace") as lines:
        partial = ""
        while not stop.is_set():
            text = lines.readline()
            if not text:
                stop.wait(0.3)
                continue
            partial += text
            if partial.endswith("\n"):
                on_line(partial)
                partial = ""


def serve(args):
    options = dict(zip(args[0::2], args[1::2]))
    events = EventLog(options["--events"])
    served = pxe_state.ServedList(options["--served"])
    access_log = open(options["--access-log"], "a", encoding="utf-8")
    server = BootServer(options["--address"], int(options["--port"]), options["--files"], served, events, access_log)
    stop = threading.Event()
    log = pxe_state.DnsmasqLog()

    def dhcp_line(line):
        for mac, kind, value in log.feed(line):
            events.write(mac, kind, value)

    threading.Thread(target=follow, args=(options["--dnsmasq-log"], dhcp_line, stop), daemon=True).start()
    signal.signal(signal.SIGTERM, lambda *_: threading.Thread(target=server.shutdown).start())
    signal.signal(signal.SIGINT, lambda *_: threading.Thread(target=server.shutdown).start())
    print("ready", flush=True)
    server.serve_forever(poll_interval=0.2)
    stop.set()


def room_from(path):
    return pxe_state.replay(path, pxe_state.Room())


HELP = ("Power on the PCs to boot from the network (PXE); Ctrl-C stops serving.",
        "UEFI PCs with Secure Boot on refuse these unsigned loaders: turn Secure Boot off for the room, "
        "or boot them from make-media's USB medium.")


def view(path):
    """Follows the event log: on a terminal the whole table is redrawn each second; otherwise each
    change of a PC's line is printed once."""
    room, stop, lock = pxe_state.Room(), threading.Event(), threading.Lock()
    printed = {}
    tty = sys.stdout.isatty()

    def on_line(line):
        event = pxe_state.parse_event(line)
        if not event:
            return
        with lock:
            row = room.apply(*event)
            if not tty:
                text = room.lines()[1 + list(room.rows).index(row["mac"])]
                if printed.get(row["mac"]) != text:
                    printed[row["mac"]] = text
                    print(text, flush=True)

    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    if not tty:
        print("\n".join(HELP) + "\n" + room.lines()[0], flush=True)
    threading.Thread(target=follow, args=(path, on_line, stop), daemon=True).start()
    while not stop.wait(1.0):
        if tty:
            with lock:
                table = room.lines()
            sys.stdout.write("\033[H\033[J" + "\n".join(HELP + ("",) + tuple(table)) + "\n")
            sys.stdout.flush()


def main(argv):
    command = argv[1] if len(argv) > 1 else ""
    if command == "serve":
        serve(argv[2:])
    elif command == "view":
        view(argv[2])
    elif command == "summary":
        print("\n".join(room_from(argv[2]).lines()))
    elif command == "forget":
        wanted = "all" if argv[3:] == ["all"] else [pxe_state.normal_mac(m) for m in argv[3:]]
        for mac in pxe_state.ServedList(argv[2]).forget(wanted):
            print(mac)
    else:
        sys.exit("usage: pxe_service.py serve|view|summary|forget ...")


if __name__ == "__main__":
    main(sys.argv)
