"""The documents against the commands: each command's page lists exactly the options its --help lists, the
defaults --help states for what the room server reads are the server's, and every relative link of README.md
and docs/ leads to a file, and to a heading where it names one."""
import glob
import os
import re
import subprocess
import sys
import unittest

ROOT = os.path.normpath(os.path.join(os.path.dirname(os.path.abspath(__file__)), "../.."))
sys.path.insert(0, ROOT)
from roomserver.config import Config  # noqa: E402
from roomserver.spoken import COMMANDS  # noqa: E402
OPTION = re.compile(r"--[a-z][a-z-]*")


def slug(heading):
    """A heading's anchor, as the Markdown of code hosts makes it."""
    return re.sub(r"[^\w\- ]", "", heading.strip().lower()).replace(" ", "-")


def help_of(command):
    return subprocess.run([os.path.join(ROOT, "scripts", command), "--help"], capture_output=True, text=True,
                          check=True).stdout


class Docs(unittest.TestCase):
    def test_the_defaults_said_are_the_room_servers(self):
        for command, option, default in [("serve-room", "--late-wait", Config.late_wait),
                                         ("serve-room", "--http-port", Config.port),
                                         ("serve-pxe", "--http-port", Config.port),
                                         ("winpe-inject", "--server", Config.port),
                                         ("make-media", "--server", Config.port)]:
            said = help_of(command).partition("\n  " + option)[2].partition("\n  -")[0]
            self.assertEqual(re.findall(r"default (\d+)", said), [str(default)], (command, option))

    def test_each_page_lists_the_options_of_its_command(self):
        for command in COMMANDS:
            help_text = help_of(command)
            listed = [OPTION.search(row).group() for row in help_text.splitlines()
                      if re.match(r"  (-h, )?--[a-z]", row)]
            with open(os.path.join(ROOT, "docs", "autodeploy-%s.8.md" % command), encoding="utf-8") as page:
                options = page.read().partition("\n## OPTIONS\n")[2].partition("\n## ")[0]
            documented = [OPTION.search(term).group() for term in re.findall(r"^`[^`\n]+`.*$", options, re.M)
                          if OPTION.search(term)]
            self.assertEqual(sorted(documented), sorted(set(listed)), command)  # --help may show one twice

    def test_every_link_leads_somewhere(self):
        for path in [os.path.join(ROOT, "README.md")] + glob.glob(os.path.join(ROOT, "docs", "*.md")):
            with open(path, encoding="utf-8") as document:
                text = re.sub(r"```.*?```", "", document.read(), flags=re.S)
            for target in re.findall(r"\]\(([^)\s]+)\)", text):
                if re.match(r"[a-z]+:", target):
                    continue
                file, _, anchor = target.partition("#")
                file = os.path.normpath(os.path.join(os.path.dirname(path), file)) if file else path
                self.assertTrue(os.path.exists(file), "%s: %s" % (path, target))
                if anchor:
                    with open(file, encoding="utf-8") as linked:
                        headings = [slug(h) for h in re.findall(r"^#+ (.*)$", linked.read(), re.M)]
                    self.assertIn(anchor, headings, "%s: %s" % (path, target))


if __name__ == "__main__":
    unittest.main()
