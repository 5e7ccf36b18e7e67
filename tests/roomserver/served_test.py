"""The list of PCs served on a disk that fills up (a real tmpfs of 16 KiB, in a mount namespace of its own): a
save that fails leaves the old list whole and no partial file, the MACs stay served in memory, and the next
save once there is room writes them all. Also: the list is read without following a link put in its place."""
import os
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "../.."))
from roomserver.served import ServedList  # noqa: E402

ON_A_FULL_DISK = """
import os, sys
sys.path.insert(0, sys.argv[2])
from roomserver.served import ServedList
folder = sys.argv[1]
served = ServedList(folder + "/served")
print(served.add("52:54:00:00:00:01"))
with open(folder + "/filler", "wb", buffering=0) as filler:
    try:
        while True:
            filler.write(b"x" * 512)
    except OSError:
        pass
print(served.add("52:54:00:00:00:02").split(" (")[0])
print("52:54:00:00:00:02" in served, sorted(os.listdir(folder)), open(folder + "/served").read().split())
os.unlink(folder + "/filler")
print(served.save(), open(folder + "/served").read().split(), served.unsaved)
"""


class Served(unittest.TestCase):
    @unittest.skipUnless(os.geteuid() == 0, "a tmpfs needs root")
    def test_full_disk(self):
        with tempfile.TemporaryDirectory() as folder:
            mount = 'mount -t tmpfs -o size=16k tmpfs "$1" && shift && exec "$@"'
            root = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../..")
            lines = subprocess.run(["unshare", "-m", "sh", "-c", mount, "sh", folder, sys.executable, "-c",
                                    ON_A_FULL_DISK, folder, root], capture_output=True, text=True).stdout.splitlines()
        self.assertEqual(lines, [
            "None", "No space left on device",
            "True ['filler', 'served'] ['52:54:00:00:00:01']",
            "None ['52:54:00:00:00:01', '52:54:00:00:00:02'] False"])

    def test_forget_and_a_link_in_its_place(self):
        with tempfile.TemporaryDirectory() as folder:
            served = ServedList(folder + "/served")
            served.add("52:54:00:00:00:01") or served.add("52:54:00:00:00:02")
            self.assertEqual(served.forget(["52:54:00:00:00:02", "52:54:00:00:00:03"]), (["52:54:00:00:00:02"], None))
            kept = ServedList(folder + "/served").macs
            self.assertEqual((kept, served.forget("all")), ({"52:54:00:00:00:01"}, (["52:54:00:00:00:01"], None)))
            os.rename(folder + "/served", folder + "/elsewhere")
            os.symlink(folder + "/elsewhere", folder + "/served")
            with self.assertRaises(OSError):
                ServedList(folder + "/served")


if __name__ == "__main__":
    unittest.main()
