"""The network boot: dnsmasq answers the PCs' PXE firmware and sends iPXE, the HTTP server sends each iPXE its
script (WinPE the first time, its own disk once served), wimboot and boot.wim, then takes the PC's own reports
and serves its answer file and the room's page. It keeps the lists of PCs served, deployed and seen in the
work folder."""

import asyncio
import concurrent.futures
import os
import re
import shutil
import time

from roomserver import boot, children, neighbours, roomlist, runfolder, stages, unattend, views
from roomserver.core import Part
from roomserver.dnsmasq_log import DnsmasqLog
from roomserver.http import HttpServer, Refused, Response, query_values
from roomserver.journal import clean, printable
from roomserver.macs import normal_mac
from roomserver.room import FIRMWARE_OF_ARCH
from roomserver.served import ServedList

# A report's value, by its stage: what a PC may say.
VALUES = {"receiving": r"\d{1,15}", "starting-over": r"[1-9]", "drivers-loaded": r"\d{1,5}/\d{1,5}",
          "drivers-added": r"\d{1,5}", "capture-found": r"\d{1,15}", "captured": r"(\d{1,15})?"}

SEEN_AT_MOST = 10000  # lines of WORK_DIR/seen (or of a room list collected): made-up MACs cannot fill a disk


class NetBoot(Part):
    """PAGE_SAID: the serving line names the page (serve-room's), else the HTTP port."""

    def __init__(self, core, page_said=False):
        super().__init__(core)
        c, self.page_said = self.config, page_said
        # A capture keeps no list of PCs served: the reference PC gets its WinPE on every network boot of the run.
        capture = c.mode == "capture"
        self.served = ServedList(os.path.join(c.work_dir, "served")) if c.work_dir and not capture else frozenset()
        self.deployed = ServedList(os.path.join(c.work_dir, "deployed")) if c.work_dir else None
        self.seen = os.path.join(c.work_dir, "seen") if c.work_dir else None
        self.seen_macs = set(roomlist.first_words(self.seen)) if self.seen else set()
        # answered: MACs given their answer file since their WinPE script; refused: those told of a second one
        self.grants, self.loading, self.answered, self.refused = {}, {}, set(), set()
        self.run = self.dnsmasq = self.http = None
        self.capture = None  # the capture's share (share.py), which gives the PC its lines of the server file
        self.writing = 0  # lists being written
        # The lists are written one after another in a thread of their own: a disk's fsync holds up no transfer.
        self.writer = concurrent.futures.ThreadPoolExecutor(max_workers=1)

    @property
    def base(self):
        """Where the PCs reach this run's HTTP side (the port is known once it serves)."""
        return "http://%s:%s" % (self.config.address, self.config.port)

    # --- the run -------------------------------------------------------------------------------------------
    async def start(self, loop):
        self.room.served, listed = self.served or (), self.config.listed
        return self._forget(self.config.again) and self._folder(None if listed is None else listed.names) and (
            await self._start_dnsmasq(loop) and await self.serve_http())

    def _folder(self, answered):
        runfolder.sweep()
        try:
            self.run = runfolder.make(self.config, answered)
        except OSError as error:
            return self.core.refuse("cannot fill a folder in /run: %s" % (error.strerror or error))
        return True

    async def _start_dnsmasq(self, loop):
        ready, log = loop.create_future(), DnsmasqLog()

        def line(text):
            if "TFTP root is" in text and not ready.done():
                ready.set_result(True)
            for mac, kind, value in log.feed(text):
                self.core.event(mac, kind, value)

        def gone(status):
            if not ready.done():
                ready.set_result(False)
            elif not self.core.ended.done():
                self.core.crash("dnsmasq ended (status %s): %s" % (status, self.dnsmasq.last_line))

        self.dnsmasq = children.Child(loop, children.in_own_pid_namespace(
            ["dnsmasq", "-k", "-C", os.path.join(self.run, "dnsmasq.conf"), "--log-facility=-"]), line, gone)
        try:
            started = await asyncio.wait_for(ready, 5)
        except asyncio.TimeoutError:
            started = False
        return started or self.core.refuse("dnsmasq did not start: %s" % self.dnsmasq.last_line)

    async def serve_http(self):
        """The HTTP side, from the run folder's http/ (started alone, it is what tests and benchmarks meet)."""
        c = self.config
        self.http = HttpServer(self.route, self._fault)
        try:
            await self.http.start(c.address, c.port)
        except OSError as error:
            return self.core.refuse("the HTTP server did not start: %s" % error.strerror)
        if not c.port:  # any free port (tests, benchmarks): the one taken is the one said
            c.port = self.http.server.sockets[0].getsockname()[1]
        said = ("", "the table also at %s/; " % self.base) if self.page_said else (", HTTP port %d" % c.port, "")
        self.core.say("serving on %s (%s), DHCP %s%s; %sCtrl-C stops" % ((c.interface, c.address, c.dhcp) + said))
        return True

    def _fault(self, error):
        self.core.say("a request failed: %s" % clean(repr(error)), error=True)

    def tick(self, now):
        if self.served and self.served.unsaved and not self.writing:
            self._keep(self.served, None, self._saved)

    def heard(self, now, key, kind, value):
        held = self.room.pcs.get(key) if kind == "claim" else None
        if held and held.claims[1:2] == [value]:
            self.core.say("two hosts claim the MAC of %s (%s): it gets nothing more; find the other host, then start "
                          "%s again (with --again %s if it was served)" % (held.name or key, " and ".join(
                              held.claims), self.config.name, held.name or key), error=True)
        if kind == "ignored":
            known = self.room.pcs.get(key)
            self.left_alone(key, FIRMWARE_OF_ARCH.get(value) or (known.firmware if known else "-"))

    def at_signal(self, status):
        return 0  # serving goes on until it is stopped: that is no failure

    def stop(self):
        self.writer.shutdown(wait=True)  # what was served is on the disk before the run ends
        if self.dnsmasq:
            self.dnsmasq.stop()
        if self.http:
            self.http.close()
        if self.run:
            shutil.rmtree(self.run, ignore_errors=True)

    # --- what iPXE and the PC ask for ----------------------------------------------------------------------
    def route(self, path, query, ip):
        if path[1:] in boot.LOADERS.values():
            query_values(query, ())
            if ip not in self.grants.values():  # files only to an address given its WinPE script
                raise Refused(403)
            return Response(path=os.path.join(self.run, "http", path[1:]), kind="application/octet-stream")
        handler = {"/": self._page, "/boot.ipxe": self._chain, "/pc.ipxe": self._script, "/boot.wim": self._image,
                   "/pc.txt": self._server_file, "/report": self._report, "/unattend.xml": self._answer_file}.get(path)
        if not handler:
            raise Refused(404)
        return handler(query, ip)

    def _page(self, query, ip):
        query_values(query, ())
        return Response(text=views.page(self.room, time.time(), self.config.name), kind="text/html; charset=utf-8")

    def _chain(self, query, ip):
        query_values(query, ())
        return Response(text=boot.chain_script(self.base))

    def _script(self, query, ip):
        given = query_values(query, ("mac", "platform"))
        mac, platform, event = normal_mac(given.get("mac", "")), given.get("platform"), self.core.event
        if platform not in boot.LOADERS:
            raise Refused(400)
        # Only the PC itself, from its own address, asks for its script.
        if mac is None or mac != neighbours.mac_of(ip, self.config.interface):
            return Response(text=boot.boot_script(None, None, self.served, self.base, self.config.name)[1])
        if not self._listed(mac):  # the second lock on the door
            event(mac, "platform", platform)
            event(mac, "ignored")
            return Response(text=boot.ALONE)
        if not self._claim(mac, ip):
            return Response(text=boot.HELD)
        kind, script = boot.boot_script(mac, platform, self.served, self.base, self.config.name)
        event(mac, "platform", platform)
        event(mac, kind)
        if kind == "winpe":
            self.grants[mac] = ip
            self.answered.discard(mac)  # a new boot: its answer file once more
            self.refused.discard(mac)
        return Response(text=script)

    def _listed(self, mac):
        return self.config.listed is None or mac in self.config.listed.names

    def _claim(self, mac, ip):
        """Whether MAC, asking from IP, is the PC of the room it says it is: the first address a MAC comes from
        is its own for the run; a second one holds it (two hosts claim it), and nothing more goes to it."""
        known = self.room.pcs.get(mac)
        if not known or ip not in known.claims:
            self.core.event(mac, "claim", ip)
            known = self.room.pcs.get(mac)
        return known is not None and known.claims == [ip]

    def _granted(self, query, ip):
        """The MAC a request names, when that PC was given its WinPE script from this address."""
        given = query_values(query, ("mac",))
        if normal_mac(given.get("mac", "")) not in self.grants:  # nothing granted: not even a claim is recorded
            raise Refused(403)
        return self._of_the_room(given, ip)

    def _image(self, query, ip):
        mac = self._granted(query, ip)
        return Response(path=os.path.join(self.run, "http", "boot.wim"), kind="application/octet-stream",
                        on_piece=lambda sent, size: self._loaded(mac, sent, size))

    def _server_file(self, query, ip):
        """What the PC's watch reads in WinPE: where to report, and who it is; for a capture, the share and its
        credentials too, asked for also by a PC started from a capture medium (the PC of the run, from its own
        address, by the MAC that address has)."""
        mac = self._of_the_room(query_values(query, ("mac",)), ip) if self.capture else self._granted(query, ip)
        name = self.config.listed.name(mac) if self.config.listed else None
        text = "server=%s:%d\r\nmac=%s\r\n" % (self.config.address, self.config.port, mac)
        text += "name=%s\r\n" % name if name else ""
        if self.capture:
            text += self.capture.server_lines(mac, ip)
        return Response(text=text)

    def _of_the_room(self, given, ip):
        """The MAC of the PC asking: only a PC of the room, by the MAC its address has, from its own address."""
        mac = neighbours.mac_of(ip, self.config.interface)
        if mac is None or normal_mac(given.get("mac", mac)) != mac or not self._listed(mac) or (
                not self._claim(mac, ip)):
            raise Refused(403)
        return mac

    def _answer_file(self, query, ip):
        """The PC's own answer file (the template with its name from the room list), once for each boot into
        WinPE: each one sent and each one refused is in the journal with its address."""
        mac = self._of_the_room(query_values(query, ("mac",)), ip)
        name = self.config.listed.name(mac) if self.config.listed else None
        if not self.config.unattend:
            raise Refused(404)
        if mac in self.answered:
            self.core.event(mac, "answer-refused", ip)
            if mac not in self.refused:  # said once: the journal has each one
                self.refused.add(mac)
                self.core.say("refused a second answer file to %s (%s): one goes out for each boot into WinPE; "
                              "the journal has each one asked for" % (name or mac, ip), error=True)
            raise Refused(403)
        self.answered.add(mac)
        self.core.event(mac, "answer-sent", ip)
        return Response(text=unattend.for_pc(self.config.unattend, name), kind="application/xml")

    def _report(self, query, ip):
        """A stage a PC reports; every value checked."""
        given = query_values(query, ("mac", "stage", "bytes", "try", "error", "loaded", "drivers", "make", "model"),
                             {"error": 300})
        stage = given.get("stage")
        value = {"receiving": given.get("bytes", ""), "starting-over": given.get("try", ""),
                 "capture-found": given.get("bytes", ""), "captured": given.get("bytes", ""),
                 "failed": printable(given.get("error", "")), "guard-refused": "",
                 "drivers-loaded": "%s/%s" % (given.get("loaded"), given.get("drivers")),
                 "drivers-added": given.get("drivers", "")}.get(stage, "")
        if stage not in stages.REPORTS or not re.fullmatch(VALUES.get(stage, ".*"), value) or (
                stage == "drivers-loaded" and int(given["loaded"]) > int(given["drivers"])):
            raise Refused(400)
        mac = self._of_the_room(given, ip)
        model = " ".join(printable(given[field], 64) for field in ("make", "model") if field in given)
        if model and getattr(self.room.pcs.get(mac), "model", model) != model:  # journaled when it changes
            self.core.event(mac, "model", model)
        self.core.event(mac, stage, value)
        if stage == "deployed":
            self._keep(self.deployed, mac, lambda problem, _: problem and self.core.say(
                "cannot save the list of PCs deployed: %s" % problem, error=True))
        if self.capture and self.capture.no_room:  # the PC stops before dism writes anything
            return Response(status=507, text="no room\n")
        return Response(text="ok\n")

    # --- the lists kept ------------------------------------------------------------------------------------
    def _loaded(self, mac, sent, size):
        """A piece of boot.wim went to MAC: every 5% said; once whole, MAC is served."""
        percent = sent * 100 // size
        if sent < size and percent // 5 > self.loading.get(mac, -1) // 5:
            self.loading[mac] = percent
            self.core.event(mac, "loading", str(percent))
        elif sent == size:
            self.loading.pop(mac, None)
            if self.served:
                self._keep(self.served, mac, self._saved)
            self.core.event(mac, "started")

    def _keep(self, kept, mac, then):
        """MAC into the list KEPT now (with None, the list as it is), the list written by the writer; THEN(problem,
        MAC) on the loop once it is."""
        macs = kept.mark(mac) if mac else sorted(kept.macs)
        if macs is not None:
            self.writing += 1
            done = asyncio.get_running_loop().run_in_executor(self.writer, kept.write, macs)
            done.add_done_callback(lambda written: self._written(then, written.result(), mac))

    def _written(self, then, problem, mac):
        self.writing -= 1
        then(problem, mac)

    def _saved(self, problem, mac):
        if problem and not self.room.unsaved:
            self.core.say("cannot save the list of PCs served: %s; they stay served while this runs, and the list "
                          "is saved again as soon as it can be" % problem, error=True)
        elif not problem and self.room.unsaved:
            self.core.say("the list of PCs served is saved again")
        self.room.unsaved = problem
        if problem and mac:
            self.room.pc(mac, time.time()).unsaved = True

    def left_alone(self, mac, firmware):
        """A PC not in the room list asked: written once to WORK_DIR/seen, to copy into the room list."""
        if self.seen and mac not in self.seen_macs and len(self.seen_macs) < SEEN_AT_MOST:
            self.seen_macs.add(mac)
            append(self.seen, "%s  # %s, not in the room list, asked at %s\n" % (
                mac, firmware, time.strftime("%Y-%m-%d %H:%M")))

    def _forget(self, macs):
        if not macs:
            return True
        self.core.say("forgetting %s" % ("all" if macs == "all" else ",".join(macs)))
        problem = self.served.forget(macs)[1] or self.deployed.forget(macs)[1]
        return not problem or self.core.refuse("cannot save the list of PCs served: %s" % problem)


def append(path, text):
    """TEXT at the end of PATH (made when missing), never through a link, synced."""
    fd = os.open(path, os.O_WRONLY | os.O_APPEND | os.O_CREAT | os.O_NOFOLLOW, 0o644)
    try:
        os.write(fd, text.encode("ascii"))
        os.fsync(fd)
    finally:
        os.close(fd)
