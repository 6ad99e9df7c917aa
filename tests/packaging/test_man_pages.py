"""The manual pages cfgwatch(8), cfgprobe(8) and settingsdb(8): man formats
each without a warning, each names its program, and the settings tool's page
lists exactly the fields the tool itself knows."""

import os
import re
import subprocess
import unittest

MAN = os.environ.get("MAN_PROGRAM", "")
SOURCE_DIR = os.environ.get("SOURCE_DIR", "")
SETTINGSDB_TOOL = os.environ.get("SETTINGSDB_TOOL", "")

PAGES = {
    "cfgwatch": "daemon/cfgwatch.8",
    "cfgprobe": "probe/cfgprobe.8",
    "settingsdb": "platform/host/settingsdb.8",
}


def show(path):
    return subprocess.run([MAN, "--warnings", "-E", "UTF-8", "-l", path], capture_output=True,
                          text=True, timeout=60,
                          env=dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80"))


class ManPages(unittest.TestCase):
    def setUp(self):
        self.assertTrue(MAN and os.access(MAN, os.X_OK), "man not found: %r" % MAN)

    def test_each_page_reads_without_a_warning_and_names_its_program(self):
        for name, page in PAGES.items():
            with self.subTest(page=page):
                shown = show(os.path.join(SOURCE_DIR, page))
                self.assertEqual((shown.returncode, shown.stderr), (0, ""))
                self.assertRegex(shown.stdout, r"^%s\(8\)" % name.upper())
                self.assertRegex(shown.stdout, r"\nNAME\n +%s +- " % name)

    def test_a_broken_page_is_reported(self):
        # The check above would pass on anything if warnings went unseen.
        broken = os.path.join(os.environ.get("TMPDIR", "/tmp"), "cfgwatch-broken-%d.8" % os.getpid())
        with open(broken, "w") as f:
            f.write(".TH BROKEN 8\n.SH NAME\nbroken \\- a page\n.NOSUCHMACRO\n")
        try:
            self.assertIn("NOSUCHMACRO", show(broken).stderr)
        finally:
            os.unlink(broken)

    def test_settingsdb_page_lists_the_fields_of_the_tool(self):
        if not SETTINGSDB_TOOL:
            self.skipTest("no settings tool to run: a build against the device's libraries, or a cross build")
        usage = subprocess.run([SETTINGSDB_TOOL, "--help"], capture_output=True, text=True,
                               timeout=60, check=True).stdout
        fields = set(re.findall(r"^  ([a-z_]+) ", usage, re.MULTILINE))
        self.assertGreater(len(fields), 5, usage)
        with open(os.path.join(SOURCE_DIR, PAGES["settingsdb"])) as f:
            page = f.read()
        section = page.split(".SH FIELDS", 1)[1].split("\n.SH ", 1)[0]
        documented = set(re.findall(r"\b(autoprov_[a-z_]+|mac_address|enable_sip_mcast)\b",
                                    section))
        self.assertEqual(documented, fields)


if __name__ == "__main__":
    unittest.main()
