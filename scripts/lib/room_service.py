"""The parts of serve-room that run beside the network boot (pxe_service.py): each a command.

  room_service.py sender EVENTS NUMBER SIZE INTERFACE LOG
        reads udp-sender's output of transfer NUMBER (SIZE bytes) on standard input, keeps it in
        LOG (each line led by the moment it came), and appends its events to EVENTS
  room_service.py conduct EVENTS DECISIONS ADDRESS:PORT [MAC...]
        follows EVENTS: the live table on standard output (redrawn on a terminal, else each
        changed line once) and the room's decisions as lines on DECISIONS: "wake MAC...",
        "start N", "next N", "finish", "failed"; MACs are the PCs to wake (room_state decides when)
  room_service.py summary EVENTS
        the summary table, the sender's figures and the outcome; exit status room_state's
"""

import os
import signal
import sys
import threading
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import pxe_service  # noqa: E402  (beside this file)
import pxe_state  # noqa: E402
import room_state  # noqa: E402


def arp_of(interface):
    """{address: MAC} of IF's complete neighbour entries, from /proc/net/arp."""
    def table():
        found = {}
        with open("/proc/net/arp", encoding="ascii") as lines:
            for line in list(lines)[1:]:
                parts = line.split()
                if len(parts) >= 6 and parts[5] == interface and parts[2] != "0x0":
                    found[parts[0]] = parts[3]
        return found
    return table


def sender(events_path, number, size, interface, log_path):
    events, log = pxe_service.EventLog(events_path), open(log_path, "a", encoding="utf-8")
    reader = room_state.SenderLog(number, int(size), arp_of(interface))
    events.write("room", "listening", number)
    line = b""
    while True:
        char = sys.stdin.buffer.read(1)
        if char and char not in b"\r\n":
            line += char
            continue
        if line:
            text = line.decode("utf-8", "replace")
            log.write("%.6f %s\n" % (time.time(), text))
            log.flush()
            for key, kind, value in reader.feed(text):
                events.write(key, kind, value)
        line = b""
        if not char:
            break
    for key, kind, value in reader.end():
        events.write(key, kind, value)


HELP = ("Power on the PCs to boot from the network (PXE), or start them from the USB medium; the table "
        "is also at http://%s/. Ctrl-C stops, with a summary.",
        "UEFI PCs with Secure Boot on refuse the unsigned network loaders: turn Secure Boot off for "
        "the room, or boot them from make-media's USB medium.")


def conduct(events_path, decisions_path, macs, address):
    room, stop, lock = room_state.Room(), threading.Event(), threading.Lock()
    events = pxe_service.EventLog(events_path)
    decisions = open(decisions_path, "w", encoding="ascii")
    tty, shown, said = sys.stdout.isatty(), {}, set()
    help_lines = (HELP[0] % address, HELP[1])

    def on_line(line):
        event = pxe_state.parse_event(line)
        if event:
            with lock:
                room.apply(*event)

    def decide(text):
        decisions.write(text + "\n")
        decisions.flush()

    signal.signal(signal.SIGTERM, lambda *_: stop.set())
    signal.signal(signal.SIGINT, lambda *_: stop.set())
    threading.Thread(target=pxe_service.follow, args=(events_path, on_line, stop), daemon=True).start()
    if not tty:
        print("\n".join(help_lines), flush=True)
    while not stop.wait(1.0):
        now = time.time()
        with lock:
            wake = room.to_wake(now, macs)
            decision = room.decision(now)
            lines = room.lines(now)
            transfer = room.transfer
        for mac in wake:
            events.write(mac, "woken")
        if wake:
            decide("wake " + " ".join(wake))
        if decision and (decision, transfer) not in said:
            said.add((decision, transfer))
            decide(decision + (" %d" % (transfer + 1 if decision == "next" else transfer)))
        if tty:
            sys.stdout.write("\033[H\033[J" + "\n".join(help_lines + ("",) + tuple(lines)) + "\n")
        else:
            top, rows = lines[0], lines[2:]
            for key, text in [("top", top)] + [(row.split()[0] + " " + row.split()[1], row) for row in rows]:
                if shown.get(key) != text:
                    shown[key] = text
                    print(text)
        sys.stdout.flush()
        # A woken event just written must reach the table before the next round asks again.
        time.sleep(0.05 if wake else 0)


def summary(events_path):
    room = room_state.room_from(events_path)
    now = time.time()
    print("\n".join(room.lines(now, summary=True)[1:]))
    for line in room.figures:
        print(line)
    status, received, joined, missed = room.outcome()
    if status == 0:
        print("every PC that joined received the whole image: %d of %d" % (received, joined))
    elif joined:
        print("%d of %d PCs that joined received the whole image; not: %s (boot them again: they join the "
              "next serve-room)" % (received, joined, " ".join(missed)))
    else:
        print("no PC joined the multicast: start the PCs in WinPE (from the network or the USB medium)")
    return status


def main(argv):
    command = argv[1] if len(argv) > 1 else ""
    if command == "sender" and len(argv) == 7:
        sender(*argv[2:])
    elif command == "conduct" and len(argv) >= 5:
        conduct(argv[2], argv[3], [pxe_state.normal_mac(m) for m in argv[5:]], argv[4])
    elif command == "summary" and len(argv) == 3:
        sys.exit(summary(argv[2]))
    else:
        sys.exit("usage: room_service.py sender|conduct|summary ...")


if __name__ == "__main__":
    main(sys.argv)
