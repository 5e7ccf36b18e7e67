"""The serving phase of serve-pxe (the room without the multicast), serve-room (the whole road) and send-image
(the room without the network boot): one event loop owns the children, the HTTP server and the room, turns
what they say into events, draws the table and decides. Every event goes to the journal and to the room, in
that order, from this one thread."""

import asyncio
import os
import re
import shutil
import signal
import subprocess
import sys
import time

from roomserver import boot, children, neighbours, roomlist, stages, unattend, views
from roomserver.dnsmasq_log import DnsmasqLog
from roomserver.http import HttpServer, Refused, Response, query_values
from roomserver.journal import Journal, clean, printable
from roomserver.macs import normal_mac
from roomserver.room import FIRMWARE_OF_ARCH, Room, pcs
from roomserver.sender_log import SenderLog
from roomserver.served import ServedList
from roomserver.spoken import spoken

SECURE_BOOT = ("UEFI PCs with Secure Boot on refuse the unsigned network loaders: turn Secure Boot off for the room, "
               "or boot them from make-media's USB medium.")
HELP = {"pxe": ("Power on the PCs to boot from the network (PXE); Ctrl-C stops serving.", SECURE_BOOT),
        "room": ("Power on the PCs to boot from the network (PXE), or start them from the USB medium; the table is "
                 "also at http://%(address)s:%(port)d/. Ctrl-C stops, with a summary.", SECURE_BOOT)}
# Events that change a PC's stage: on a terminal that is no terminal, each is shown as it comes (else once a second).
STAGE_EVENTS = ("offered", "winpe", "started", "disk", "joined", "dropped", "received", "listening", "sending") + tuple(
    kind for kind in stages.REPORTS if kind != "receiving")
SEEN_AT_MOST = 10000  # lines of WORK_DIR/seen (or of a room list collected): made-up MACs cannot fill a disk
SIGNAL_STATUS = {signal.SIGHUP: 129, signal.SIGINT: 130, signal.SIGTERM: 143}


class Server:
    def __init__(self, config):
        self.c = c = config
        self.room = Room(c.machines, c.max_wait, c.late_wait, os.path.getsize(c.image) if c.image else 0, c.listed)
        self.journal = Journal(c.journal)
        self.served = ServedList(os.path.join(c.work_dir, "served")) if c.work_dir else None
        self.deployed = ServedList(os.path.join(c.work_dir, "deployed")) if c.work_dir else None
        self.base = "http://%s:%s" % (c.address, c.port)
        self.grants, self.shown, self.said, self.loading = {}, {}, set(), {}
        self.seen = os.path.join(c.work_dir, "seen") if c.work_dir else None
        self.seen_macs = set(roomlist.first_words(self.seen)) if self.seen else set()
        self.collected = len(c.listed.names) if c.mode == "collect" else 0
        self.sender = self.dnsmasq = self.http = self.status = self.failed = None
        self.tty = sys.stdout.isatty()

    def say(self, text, error=False):
        print("%s: %s" % (self.c.name, spoken(text, self.c.name)), file=sys.stderr if error else sys.stdout,
              flush=True)

    def event(self, key, kind, value=""):
        now = time.time()
        self.journal.write(now, key, kind, value)
        self.room.apply(now, key, kind, value)
        if kind == "ignored":
            self._left_alone(key, value)
        if self.c.mode == "send":
            self._said_by_sender(key, kind)
        elif kind in STAGE_EVENTS and not self.tty:
            self.show(now)

    # --- the run -------------------------------------------------------------------------------------------
    async def run(self):
        loop = asyncio.get_running_loop()
        self.ended = loop.create_future()
        for number, status in SIGNAL_STATUS.items():
            loop.add_signal_handler(number, self.end, status, number)
        loop.set_exception_handler(lambda _, context: self.crash(context.get("exception") or context["message"]))
        try:
            if self.c.mode != "send" and not (self._forget(self.c.again) and await self._serve_network_boot(loop)):
                return self.status
            if self.c.mode == "room":
                self._listen(1)
            elif self.c.mode == "send":
                self.sender = children.Child(loop, self.c.sender, self._sender_line(SenderLog(1, self.room.size)),
                                             self._sender_end, stdin=None, pass_to=sys.stderr.fileno())
            if self.c.mode in HELP and not self.tty:
                print(spoken("\n".join(HELP[self.c.mode]) % vars(self.c), self.c.name), flush=True)
            while not self.ended.done():
                self.tick(time.time())
                await asyncio.wait([self.ended], timeout=1.0)
        finally:
            self.finish()
        return self.status

    def end(self, status, signal_number=None):
        """Ends the run with STATUS (for a signal: serve-pxe 0, serve-room the room's outcome)."""
        if not self.ended.done():
            if signal_number and self.c.mode != "send":
                status = self.room.outcome()[0] if self.c.mode == "room" else 0
            self.status = status
            self.ended.set_result(status)

    def crash(self, error):
        self.say("the server failed: %r; stopping" % (error,), error=True)
        self.end(1)

    def finish(self):
        """Nothing of the run goes on: the children, the HTTP server, the run's files; then the summary."""
        for child in (self.sender, self.dnsmasq):
            if child:
                child.stop()
        if self.http:
            self.http.close()
        if self.c.mode == "collect":
            self.say("%d PCs in %s (%d new): give each its name there (52:54:00:12:34:56  LAB1-07), then start "
                     "serve-room with --room %s" % (len(self.c.listed.names), self.c.room, len(self.c.listed.names)
                                                    - self.collected, self.c.room))
        elif self.c.mode != "send" and self.room.pcs:
            print("\n%s: summary" % self.c.name)
            print(spoken("\n".join(self.summary()), self.c.name), flush=True)
        if self.failed:
            self.say("udp-sender ended without sending: %s" % self.failed)
        for path in self.c.remove:
            shutil.rmtree(path, ignore_errors=True)

    def tick(self, now):
        if self.served and self.served.unsaved:
            self._saved(self.served.save(), "")
        if self.c.mode == "room":
            self._wake(now)
            self._decide(now)
        if self.c.mode in ("pxe", "room"):
            self.show(now)

    # --- the network boot: dnsmasq and the HTTP server -----------------------------------------------------
    async def _serve_network_boot(self, loop):
        ready, log = loop.create_future(), DnsmasqLog()

        def line(text):
            if "TFTP root is" in text and not ready.done():
                ready.set_result(True)
            for mac, kind, value in log.feed(text):
                self.event(mac, kind, value)

        def gone(status):
            if not ready.done():
                ready.set_result(False)
            elif not self.ended.done():
                self.crash("dnsmasq ended (status %s): %s" % (status, self.dnsmasq.last_line))

        if self.c.listed is not None:  # dnsmasq answers these, and no other (dhcp-hostsfile, dhcp-ignore)
            with open(os.path.join(self.c.run, "known"), "w", encoding="ascii") as known:
                known.writelines(mac + "\n" for mac in self.c.listed.names if self.c.mode != "collect")
        self.dnsmasq = children.Child(loop, children.in_own_pid_namespace(
            ["dnsmasq", "-k", "-C", os.path.join(self.c.run, "dnsmasq.conf"), "--log-facility=-"]), line, gone)
        try:
            started = await asyncio.wait_for(ready, 5)
        except asyncio.TimeoutError:
            started = False
        if not started:
            return self._refuse("dnsmasq did not start: %s" % self.dnsmasq.last_line)
        if self.c.mode == "collect":
            self.say("collecting on %s (%s): power on the room's PCs to boot from the network; each one that asks is "
                     "written to %s and left alone; Ctrl-C ends" % (self.c.interface, self.c.address, self.c.room))
            return True
        self.http = HttpServer(self.route, lambda error: self.say("a request failed: %s" % clean(repr(error)), True))
        try:
            await self.http.start(self.c.address, self.c.port)
        except OSError as error:
            return self._refuse("the HTTP server did not start: %s" % error.strerror)
        table = "the table also at %s/; " % self.base if self.c.mode == "room" else ""
        port = "" if self.c.mode == "room" else ", HTTP port %d" % self.c.port
        self.say("serving on %s (%s), DHCP %s%s; %sCtrl-C stops" % (
            self.c.interface, self.c.address, self.c.dhcp, port, table))
        return True

    def _refuse(self, text):
        self.say(text, error=True)
        self.status = 1
        return False

    def route(self, path, query, ip):
        if path in ("/wimboot.i386", "/wimboot.x86_64.efi"):
            query_values(query, ())
            return Response(path=os.path.join(self.c.run, "http", path[1:]), kind="application/octet-stream")
        handler = {"/": self._page, "/boot.ipxe": self._chain, "/pc.ipxe": self._script, "/boot.wim": self._image,
                   "/pc.txt": self._server_file, "/report": self._report, "/unattend.xml": self._answer_file}.get(path)
        if not handler:
            raise Refused(404)
        return handler(query, ip)

    def _page(self, query, ip):
        query_values(query, ())
        return Response(text=views.page(self.room, time.time(), self.c.name), kind="text/html; charset=utf-8")

    def _chain(self, query, ip):
        query_values(query, ())
        return Response(text=boot.chain_script(self.base))

    def _script(self, query, ip):
        given = query_values(query, ("mac", "platform"))
        mac, platform = normal_mac(given.get("mac", "")), given.get("platform")
        if platform not in boot.LOADERS:
            raise Refused(400)
        # Only the PC itself, from its own address, asks for its script.
        if mac is None or mac != neighbours.mac_of(ip, self.c.interface):
            return Response(text=boot.boot_script(None, None, self.served, self.base, self.c.name)[1])
        if self.c.listed is not None and mac not in self.c.listed.names:  # the second lock on the door
            self.event(mac, "platform", platform)
            self.event(mac, "ignored")
            return Response(text=boot.ALONE)
        kind, script = boot.boot_script(mac, platform, self.served, self.base, self.c.name)
        self.event(mac, "address", ip)
        self.event(mac, "platform", platform)
        self.event(mac, kind)
        if kind == "winpe":
            self.grants[mac] = ip
        return Response(text=script)

    def _granted(self, query, ip):
        """The MAC a request names, when that PC was given its WinPE script from this address."""
        mac = normal_mac(query_values(query, ("mac",)).get("mac", ""))
        if mac is None or self.grants.get(mac) != ip:
            raise Refused(403)
        return mac

    def _image(self, query, ip):
        mac = self._granted(query, ip)
        return Response(path=os.path.join(self.c.run, "http", "boot.wim"), kind="application/octet-stream",
                        on_piece=lambda sent, size: self._loaded(mac, sent, size))

    def _server_file(self, query, ip):
        """What the PC's watch reads in WinPE: where to report, and who it is."""
        mac = self._granted(query, ip)
        name = self.c.listed.name(mac) if self.c.listed else None
        text = "server=%s:%d\r\nmac=%s\r\n" % (self.c.address, self.c.port, mac)
        return Response(text=text + ("name=%s\r\n" % name if name else ""))

    def _of_the_room(self, given, ip):
        """The MAC of the PC asking (and what the room knows of it): only a PC of the room, by the MAC its
        address has and the address it booted with."""
        mac = neighbours.mac_of(ip, self.c.interface)
        known = self.room.pcs.get(mac)
        if mac is None or normal_mac(given.get("mac", mac)) != mac or known and known.ip not in ("-", ip) or (
                self.c.listed is not None and mac not in self.c.listed.names):
            raise Refused(403)
        return mac, known

    def _answer_file(self, query, ip):
        """The PC's own answer file: the template with its name from the room list."""
        mac = self._of_the_room(query_values(query, ("mac",)), ip)[0]
        if not self.c.unattend:
            raise Refused(404)
        name = self.c.listed.name(mac) if self.c.listed else None
        return Response(text=unattend.for_pc(self.c.unattend, name), kind="application/xml")

    def _report(self, query, ip):
        """A stage a PC reports; every value checked."""
        given = query_values(query, ("mac", "stage", "bytes", "try", "error"), {"error": 300})
        mac, known = self._of_the_room(given, ip)
        stage = given.get("stage")
        value = {"receiving": given.get("bytes", ""), "starting-over": given.get("try", ""),
                 "failed": printable(given.get("error", "")), "guard-refused": ""}.get(stage, "")
        if stage not in stages.REPORTS or stage == "receiving" and not re.fullmatch(r"\d{1,15}", value) or (
                stage == "starting-over" and not re.fullmatch(r"[1-9]", value)):
            raise Refused(400)
        if not known or known.ip == "-":
            self.event(mac, "address", ip)
        self.event(mac, stage, value)
        if stage == "deployed":
            problem = self.deployed.add(mac)
            if problem:
                self.say("cannot save the list of PCs deployed: %s" % problem, error=True)
        return Response(text="ok\n")

    def _loaded(self, mac, sent, size):
        """A piece of boot.wim went to MAC: every 5% said; once whole, MAC is served."""
        percent = sent * 100 // size
        if sent < size and percent // 5 > self.loading.get(mac, -1) // 5:
            self.loading[mac] = percent
            self.event(mac, "loading", str(percent))
        elif sent == size:
            self.loading.pop(mac, None)
            self._saved(self.served.add(mac), mac)
            self.event(mac, "started")

    def _saved(self, problem, mac):
        if problem and not self.room.unsaved:
            self.say("cannot save the list of PCs served: %s; they stay served while this runs, and the list is "
                     "saved again as soon as it can be" % problem, error=True)
        elif not problem and self.room.unsaved:
            self.say("the list of PCs served is saved again")
        self.room.unsaved = problem
        if problem and mac:
            self.room.pc(mac, time.time()).unsaved = True

    def _left_alone(self, mac, arch):
        """A PC not in the room list asked: written once to WORK_DIR/seen (to copy into the room list), or to the
        room list being collected."""
        firmware = FIRMWARE_OF_ARCH.get(arch) or (self.room.pcs[mac].firmware if mac in self.room.pcs else "-")
        if self.c.mode == "collect":
            if mac not in self.c.listed.names and len(self.c.listed.names) < SEEN_AT_MOST:
                self.c.listed.add(mac)
                _append(self.c.room, mac + "\n")
                self.say("%s (%s) asked for a network boot: written to %s (%d PCs)" % (
                    mac, firmware, self.c.room, len(self.c.listed.names)))
        elif self.seen and mac not in self.seen_macs and len(self.seen_macs) < SEEN_AT_MOST:
            self.seen_macs.add(mac)
            _append(self.seen, "%s  # %s, not in the room list, asked at %s\n" % (
                mac, firmware, time.strftime("%Y-%m-%d %H:%M")))

    def _forget(self, macs):
        if not macs:
            return True
        self.say("forgetting %s" % ("all" if macs == "all" else ",".join(macs)))
        problem = self.served.forget(macs)[1] or self.deployed.forget(macs)[1]
        return not problem or self._refuse("cannot save the list of PCs served: %s" % problem)

    # --- the multicast -------------------------------------------------------------------------------------
    def _listen(self, number):
        self.event("room", "listening", str(number))
        log = SenderLog(number, self.room.size, lambda ip: neighbours.mac_of(ip, self.c.interface))
        self.sender = children.Child(asyncio.get_running_loop(), self.c.sender, self._sender_line(log),
                                     lambda status: [self.event(*e) for e in log.end()], stdin=subprocess.PIPE)

    def _sender_line(self, log):
        def line(text):
            for event in log.feed(text):
                self.event(*event)
        return line

    def _decide(self, now):
        decision = self.room.decision(now)
        transfer = self.room.transfer
        if decision == "next" and self.sender.running():
            if now - self.room.since > 10:  # it has sent; one that does not end is ended
                self.sender.stop()
            return
        if not decision or (decision, transfer) in self.said:
            return
        self.said.add((decision, transfer))
        if decision == "start":
            self.sender.process.stdin.write(b"\n")
            self.sender.process.stdin.flush()
        elif decision == "next":
            self._listen(transfer + 1)
        elif decision == "finish":
            self.end(self.room.outcome()[0])
        elif decision == "failed":
            self.failed = self.sender.last_line or "no reason given"
            self.end(1)

    def _wake(self, now):
        for mac in self.room.to_wake(now, self.c.wake):
            self.event(mac, "woken")
            if not children.wake_on_lan(self.c.interface, mac):
                self.say("etherwake failed on %s" % self.c.interface, error=True)

    # --- send-image: udp-sender decides when to send; this says what happens -------------------------------
    def _said_by_sender(self, ip, kind):
        if kind == "joined" and (ip, "joined") not in self.said:
            self.said.add((ip, "joined"))
            joined = len(self.room.pcs)
            self.say("%s %s joined (the latest: %s); sending starts %s" % (
                pcs(joined), "has" if joined == 1 else "have", ip, self._starts(joined)))
        elif kind == "stalling" and (ip, "stalling") not in self.said:
            self.said.add((ip, "stalling"))
            retries = self.c.retries
            self.say("%s does not answer and holds up the room: udp-sender drops it after about %d s of silence "
                     "(--retries-until-drop %d)" % (ip, retries - 10 if retries > 10 else 1, retries))
        elif kind == "dropped":
            self.say("dropped %s: it stopped answering; the others go on (run send-image again for it)" % ip)

    def _starts(self, joined):
        if self.c.machines and joined >= self.c.machines:
            return "now"
        starts = ["when %d have joined" % self.c.machines] if self.c.machines else []
        starts += ["%d seconds after the first joined" % self.c.max_wait] if self.c.max_wait else []
        starts += [] if self.c.nokbd else ["when you press Enter (once every PC has joined)"]
        return " or ".join(starts)

    def _sender_end(self, status):
        if status:
            self.say("udp-sender exited with status %d" % status, error=True)
            return self.end(status)
        _, received, joined, missed = self.room.outcome()
        if not received:
            self.say("no PC received the image (%d joined); start the PCs in WinPE, wait until they have joined, "
                     "then run send-image again" % joined, error=True)
            return self.end(1)
        self.say("transfer complete: %d of %d PCs received all of it%s" % (received, joined, "; not: %s (run "
                 "send-image again for them)" % " ".join(pc.ip for pc in missed) if missed else ""))
        self.end(0)

    # --- what the operator sees ----------------------------------------------------------------------------
    def show(self, now):
        """On a terminal the whole table, redrawn; otherwise each line that changed, once."""
        table = views.lines(self.room, now, since_offer=self.c.mode == "pxe")
        if self.tty:
            help_lines = [line % vars(self.c) for line in HELP[self.c.mode]]
            sys.stdout.write("\033[H\033[J" + "\n".join(help_lines + [""] + table) + "\n")
        else:
            for key, text in [("top", table[0])] + [(" ".join(row.split()[:2]), row) for row in table[2:]]:
                if self.shown.get(key) != text:
                    self.shown[key] = text
                    sys.stdout.write(text + "\n")
        sys.stdout.flush()

    def summary(self):
        lines = views.lines(self.room, time.time(), summary=self.c.mode == "room", since_offer=self.c.mode == "pxe")
        if self.c.room and self.room.alone_more:
            lines.append("%d more PCs not in the room list asked (not shown; see WORK_DIR/seen)" % self.room.alone_more)
        if self.c.mode == "pxe":
            return lines[1:]
        status, done, joined, missed = self.room.outcome()
        words = self.room.done_words()
        if status == 0:
            outcome = ["every PC that joined %s: %d of %d" % (words.replace("were", "was"), done, joined)]
        elif not joined:
            outcome = ["no PC joined the multicast: start the PCs in WinPE (from the network or the USB medium)"]
        else:
            outcome = ["%d of %d PCs that joined %s; not: %s" % (done, joined, words, ", ".join(
                "%s (%s)" % (pc.name or pc.mac or pc.ip, self.room.stage(pc)[0]) for pc in missed))]
            held = [pc.name or pc.mac for pc in missed if pc.stage in ("failed", "guard-refused")]
            again = [pc.name or pc.mac for pc in missed if pc.mac and pc.stage not in ("failed", "guard-refused")]
            if held:
                outcome.append(", ".join(held) + (" holds at its Error line: fix the cause, then restart it by hand"
                               if len(held) == 1 else " hold at their Error lines: fix the causes, then restart them "
                               "by hand"))
            if again:
                outcome.append("They are in the list of PCs served, so a network boot sends them to their (wiped) "
                               "disk: run %s again with --again %s and power them on" % (self.c.name, ",".join(again)))
            if any(not pc.mac for pc in missed):
                outcome.append("Start the USB PCs from the medium again while %s runs" % self.c.name)
        silent = [pc.name or pc.mac or pc.ip for pc in self.room.pcs.values() if pc.transfer and not pc.reported]
        if silent and words == "were deployed":
            outcome.append("judged by the image received, as they sent no reports (no report channel): %s"
                           % ", ".join(silent))
        if self.c.unattend:
            outcome += self.room.names_given()
        return lines[1:] + self.room.figures + outcome


def _append(path, text):
    """TEXT at the end of PATH (made when missing), never through a link, synced."""
    fd = os.open(path, os.O_WRONLY | os.O_APPEND | os.O_CREAT | os.O_NOFOLLOW, 0o644)
    try:
        os.write(fd, text.encode("ascii"))
        os.fsync(fd)
    finally:
        os.close(fd)
