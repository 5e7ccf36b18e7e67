"""The PCs served: the MACs that have received the boot image whole, one a line in WORK_DIR/served, kept across
runs: such a PC boots from its own disk, not into another wipe. The work folder is ours alone (the bash before
checked it, and its lock keeps a second server out), so the list in memory is the truth and the file its copy:
written whole into a new file, synced and renamed over the old one. A save that fails (a full disk) is said and
tried again; the MACs stay served in memory meanwhile."""

import os

from roomserver.macs import normal_mac


class ServedList:
    def __init__(self, path):
        self.path, self.macs, self.unsaved = path, set(), False
        if os.path.exists(path):
            with open(os.open(path, os.O_RDONLY | os.O_NOFOLLOW), encoding="ascii", errors="replace") as lines:
                self.macs = {m for m in map(normal_mac, lines) if m}

    def __contains__(self, mac):
        return mac in self.macs

    def add(self, mac):
        """Records MAC; None, or why the list could not be saved."""
        macs = self.mark(mac)
        return None if macs is None else self.write(macs)

    def mark(self, mac):
        """Records MAC in memory: the list to write (None when it is written already). write() may then run in
        another thread: it reads nothing of this list but what it is given."""
        if mac in self.macs and not self.unsaved:
            return None
        self.macs.add(mac)
        return sorted(self.macs)

    def forget(self, macs):
        """Forgets MACS (a list, or 'all'); returns (those that were served, sorted; why the save failed)."""
        gone = set(self.macs) if macs == "all" else self.macs & set(macs)
        self.macs -= gone
        return sorted(gone), self.save()

    def save(self):
        return self.write(sorted(self.macs))

    def write(self, macs):
        """MACS as the list: None, or why it could not be saved."""
        partial = self.path + ".part"
        try:
            if os.path.lexists(partial):
                os.unlink(partial)
            fd = os.open(partial, os.O_WRONLY | os.O_CREAT | os.O_EXCL | os.O_NOFOLLOW, 0o644)
            try:
                data = memoryview("".join(m + "\n" for m in macs).encode("ascii"))
                while data:  # a full disk may take part of it without an error; the rest then fails
                    data = data[os.write(fd, data):]
                os.fsync(fd)
            finally:
                os.close(fd)
            os.replace(partial, self.path)
            folder = os.open(os.path.dirname(self.path) or ".", os.O_RDONLY | os.O_DIRECTORY)
            try:
                os.fsync(folder)
            finally:
                os.close(folder)
        except OSError as error:
            self.unsaved = True
            try:
                os.unlink(partial)
            except OSError:
                pass
            return "%s (%s)" % (error.strerror or error, self.path)
        self.unsaved = False
        return None
