"""scripts/lib/driver_packages.py on a table of driver folders: its exact lines and status (its wimupdate commands are
winpe_inject_test's)."""
import os
import subprocess
import sys
import tempfile
import unittest

SCRIPT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "../../scripts/lib/driver_packages.py")
X64 = b"[Version]\r\n[Manufacturer]\r\n%Intel% = Intel, NTamd64.10.0...19041 ; x64\r\n"
NO_X64 = "DIR/x.inf: no models for x64: its [Manufacturer] section names %s only (no NTamd64): give the x64 driver"
CASES = [  # (DIR's files, path: bytes, None for a folder, or a link's target; what check says; its status)
    ({"net/a.inf": X64, "net/a.sys": b"12345"}, "1 1 %d" % (len(X64) + 5), 0),
    ({"a.INF": b"[manufacturer]\n\"x;y\" = M, NTx86, ntAMD64\n"}, "1 1 41", 0),
    ({"u.inf": b"\xff\xfe" + "[Manufacturer]\r\n%a%=M,NTamd64\r\n".encode("utf-16-le")}, "1 1 64", 0),
    ({"x.inf": b"[Manufacturer]\n%a%=M,NTx86\n"}, NO_X64 % "x86", 1),
    ({"x.inf": b"[Manufacturer]\n%a%=M,NTarm64.10.0\n"}, NO_X64 % "ARM64", 1),
    ({"x.inf": b"[Strings]\nManufacturer=NTamd64\n"}, "DIR/x.inf: no [Manufacturer] section: not a driver's .inf", 1),
    ({"x.inf": b"[Manufacturer]\x00\x01NTamd64"}, "DIR/x.inf: not a text file (a .inf is UTF-16 with a byte order "
     "mark, UTF-8 or an 8-bit code page)", 1),
    ({"x.sys": b"MZ", "e": None}, "DIR: no .inf file in it: not a folder of drivers", 1),
    ({"by-model/Dell/x.inf": X64}, "DIR/by-model/Dell/x.inf: a file where the folders by-model/MAKE/MODEL belong", 1),
    ({"n\x1b[2J/a.inf": X64}, "DIR/n\\x1b[2J: its name holds a control character or one of \\ : * ? \" < > |, which "
     "Windows file names cannot", 1),
    ({"a.inf": X64, "up": "/etc"}, "DIR/up: a symbolic link (not followed): put the file or folder itself there", 1),
]


def run(root, files, *arguments):
    for path, data in files.items():
        os.makedirs(os.path.join(root, "DIR", path if data is None else os.path.dirname(path)), exist_ok=True)
        if isinstance(data, str):
            os.symlink(data, os.path.join(root, "DIR", path))
        elif data is not None:
            with open(os.path.join(root, "DIR", path), "wb") as file:
                file.write(data)
    done = subprocess.run([sys.executable, SCRIPT, *arguments], capture_output=True, text=True, cwd=root)
    return done.stdout, done.returncode


class DriverPackages(unittest.TestCase):
    def test_check(self):
        for files, said, status in CASES:
            with self.subTest(files=files), tempfile.TemporaryDirectory() as root:
                self.assertEqual(run(root, files, "check", "DIR"), (said + "\n", status))


if __name__ == "__main__":
    unittest.main()
