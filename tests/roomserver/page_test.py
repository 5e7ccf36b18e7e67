"""The room's page in a real browser (headless Chromium), served by the room server's HTTP side: the rows are
the terminal's, failed and late first, coloured by their state; it reloads itself and fetches nothing."""
import asyncio
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from room_test import ROAD  # noqa: E402
from roomserver import views  # noqa: E402
from roomserver.http import HttpServer, Response  # noqa: E402
from roomserver.room import Room  # noqa: E402


class Page(unittest.TestCase):
    @unittest.skipUnless(shutil.which("chromium"), "chromium is not installed (make deps)")
    def test_page_in_chromium(self):
        room, start = Room(machines=2, max_wait=300, size=2000000), time.time() - 75
        for when, key, kind, value, *_ in ROAD:
            if key and when <= 70:
                room.apply(start + when, key, kind, value)
        loop = asyncio.new_event_loop()
        server = HttpServer(lambda *_: Response(text=views.page(room, time.time(), "serve-room"),
                                                kind="text/html; charset=utf-8"), print)
        loop.run_until_complete(server.start("127.0.0.1", 0))
        port = server.server.sockets[0].getsockname()[1]
        threading.Thread(target=loop.run_forever, daemon=True).start()
        with tempfile.TemporaryDirectory() as profile:
            dom = subprocess.run(["timeout", "90", "chromium", "--headless", "--no-sandbox", "--disable-gpu",
                                  "--disable-background-networking", "--user-data-dir=" + profile, "--dump-dom",
                                  "http://127.0.0.1:%d/" % port], capture_output=True, text=True).stdout
        rows = [(state, re.findall(r"<td>(.*?)</td>", re.sub("<progress[^>]*>(</progress>)?", "", cells)))
                for state, cells in re.findall(r'<tr class="(\w+)">(.*?)</tr>', dom)]
        self.assertEqual([(state, cells[4]) for state, cells in rows], [
            ("failed", "FAILED: dropped by the sender (transfer 1)"),
            ("late", "WinPE started; late: waits for the next transfer"), ("receiving", "receiving 40%")])
        self.assertEqual(re.findall(r'<progress value="(\d+)" max="100">', dom), ["40", "40"])  # the transfer, a PC
        self.assertIn("<p>deployed 0, receiving 1, waiting 0, late 1, failed 1</p>", dom)
        self.assertIn("<h1", dom)
        self.assertRegex(dom, r'http-equiv="refresh" content="\d+"')
        self.assertNotRegex(dom, r"<script|src=|href=")


if __name__ == "__main__":
    result = unittest.main(exit=False).result
    sys.exit(1 if result.failures or result.errors else 77 if result.skipped else 0)
