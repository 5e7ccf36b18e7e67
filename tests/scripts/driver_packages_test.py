"""scripts/lib/driver_packages.py on a table of driver folders: what it says of each (exact lines, exit status),
and the wimupdate commands of a good one."""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../scripts/lib/driver_packages.py")
X64 = b"[Version]\r\n[Manufacturer]\r\n%Intel% = Intel, NTamd64.10.0...19041 ; x64\r\n"
NO_X64 = ": no models for x64: its [Manufacturer] section names %s (no NTamd64): give the x64 driver"
NOT_TEXT = ": not a text file (a .inf is UTF-16 with a byte order mark, UTF-8 or an 8-bit code page)"

# (files under DIR: path -> bytes, or None for a folder; what check says; its exit status)
CASES = [
    ({"net/a.inf": X64, "net/a.sys": b"12345"}, "1 1 %d" % (len(X64) + 5), 0),
    ({"a.INF": b"[manufacturer]\n\"x;y\" = M, NTx86, ntAMD64\n"}, "1 1 41", 0),
    ({"u.inf": b"\xff\xfe" + "[Manufacturer]\r\n%a%=M,NTamd64\r\n".encode("utf-16-le")}, "1 1 64", 0),
    ({"a/x.inf": b"[Manufacturer]\n%a%=M,NTx86\n"}, "DIR/a/x.inf" + NO_X64 % "x86 only", 1),
    ({"x.inf": b"[Manufacturer]\n%a%=M,NTarm64.10.0\n"}, "DIR/x.inf" + NO_X64 % "ARM64 only", 1),
    ({"x.inf": b"[Strings]\nManufacturer=NTamd64\n"}, "DIR/x.inf: no [Manufacturer] section: not a driver's .inf", 1),
    ({"x.inf": b"[Manufacturer]\x00\x01\x02NTamd64"}, "DIR/x.inf" + NOT_TEXT, 1),
    ({"x.sys": b"MZ", "e": None}, "DIR: no .inf file in it: not a folder of drivers", 1),
    ({"by-model/Dell/x.inf": X64}, "DIR/by-model/Dell/x.inf: a file where the folders by-model/MAKE/MODEL belong", 1),
    ({"n\x1b[2Jx/a.inf": X64}, "DIR/n\\x1b[2Jx: its name holds a control character or one of \\ : * ? \" < > |, "
     "which Windows file names cannot", 1),
]


def made(folder, files):
    for path, data in files.items():
        os.makedirs(os.path.join(folder, path if data is None else os.path.dirname(path)), exist_ok=True)
        if data is not None:
            with open(os.path.join(folder, path), "wb") as file:
                file.write(data)


def run(*arguments, folder=None):
    done = subprocess.run([sys.executable, SCRIPT, *arguments], capture_output=True, text=True, cwd=folder)
    return done.stdout, done.returncode


class DriverPackages(unittest.TestCase):
    def test_table(self):
        for files, said, status in CASES:
            with self.subTest(files=files), tempfile.TemporaryDirectory() as root:
                made(os.path.join(root, "DIR"), files)
                self.assertEqual(run("check", "DIR", folder=root), (said + "\n", status))

    def test_commands(self):
        with tempfile.TemporaryDirectory() as root:
            folder = os.path.join(root, "it's")
            made(folder, {"net 1/a.inf": X64, "by-model/Dell Inc./Opti 7010/b.inf": X64, "c.inf": X64})
            os.symlink("/etc", os.path.join(folder, "net 1/up"))
            link = "%s/net 1/up: a symbolic link (not followed): put the file or folder itself there\n" % folder
            self.assertEqual(run("commands", folder, "/T"), (link, 1))
            os.unlink(os.path.join(folder, "net 1/up"))
            self.assertEqual(run("commands", folder, "/T/"), ("".join('add "%s/%s" "/T/%s"\n' % (folder, name, inside)
                             for name, inside in [("by-model", "by-model"), ("c.inf", "all/c.inf"),
                                                  ("net 1", "all/net 1")]), 0))


if __name__ == "__main__":
    unittest.main()
