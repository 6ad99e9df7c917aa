"""A local account that is not root plants links, FIFOs and files in /tmp
before the daemon's check (as the user 65534, through setpriv), aiming at
root's own files elsewhere (in /run/victims). Whatever it plants, the daemon
writes, truncates and removes nothing outside its own download directory,
never hangs, and keeps what it downloads from other accounts' eyes."""

import unittest

from harness import DaemonTest, MAC, MAC_FILE
from servers import HttpServer, TftpServer
from messages import MOVED_ASIDE, NO_CHANGES_FOUND as UNCHANGED, WGET_CALL_FAILED as WGET_FAILED

CONTENT = b"<config><MiscSettings/></config>\n"
VICTIM = b"root:secret:0:0::/root:/bin/sh\n"
VICTIMS = {"shadow": VICTIM, "phone.xml": VICTIM}
MOVED_PREFIX = MOVED_ASIDE % ("/tmp/new", "/tmp/new.untrusted-")


class LocalAttackerTest(DaemonTest):
    def check(self, files, attacker, old=None, ticks=1, tftp=False, attacker_after=None, **record):
        settings = {"autoprov_idle_minutes": 10, "mac_address": MAC}
        settings.update(record)
        if tftp:
            with TftpServer(self.workspace.sub("tftp")) as server:
                for name, content in files.items():
                    server.put(name, content)
                settings.update(autoprov_use_tftp=1, autoprov_server=server.address)
                run = self.run_daemon(record=settings, old=old, idle=True, ticks=ticks,
                                      victims=VICTIMS, attacker=attacker,
                                      attacker_after=attacker_after)
        else:
            with HttpServer(files) as server:
                settings.update(autoprov_server=server.url)
                run = self.run_daemon(record=settings, old=old, idle=True, ticks=ticks,
                                      victims=VICTIMS, attacker=attacker,
                                      attacker_after=attacker_after)
        self.assertEqual(run.attacker_output, "")
        self.assertLoopRan(run, ticks)
        # Root's files elsewhere are exactly as they were.
        self.assertEqual(run.victims, VICTIMS)
        return run

    def assertMovedAside(self, run):
        moved = [m for m in run.messages() if m.startswith(MOVED_PREFIX)]
        self.assertEqual(len(moved), 1, run.messages())
        self.assertEqual(run.tmp_modes["new"], (0o700, "root", "d"))

    def test_link_to_a_root_file_in_a_planted_directory_answered_404(self):
        # Before: wget truncated the link's target, and the clean-up removed
        # the link, so nothing showed.
        run = self.check({}, "mkdir /tmp/new\nln -s /run/victims/shadow /tmp/new/%s\n" % MAC_FILE)
        self.assertMovedAside(run)
        self.assertIn(WGET_FAILED, run.messages())

    def test_link_to_a_root_file_in_a_planted_directory_answered_200(self):
        run = self.check({MAC_FILE: CONTENT},
                         "mkdir /tmp/new\nln -s /run/victims/shadow /tmp/new/%s\n" % MAC_FILE,
                         old={MAC_FILE: CONTENT})
        self.assertMovedAside(run)
        self.assertEqual(run.messages()[-1], UNCHANGED)
        self.assertEqual(run.new, {MAC_FILE: CONTENT})

    def test_download_directory_planted_as_a_link_to_another_directory(self):
        # A listed file that is missing made wget truncate, and the clean-up
        # delete, the file of that name in the linked directory.
        main = b"<config><MiscSettings><AutoprovFile>phone.xml</AutoprovFile></MiscSettings></config>"
        run = self.check({MAC_FILE: main}, "ln -s /run/victims /tmp/new\n", old={MAC_FILE: main})
        self.assertMovedAside(run)
        self.assertEqual(run.messages()[-2:], [WGET_FAILED, '"phone.xml" File not found.'])

    def test_plain_file_named_like_the_download_directory(self):
        # Before: every check failed until the device restarted.
        run = self.check({MAC_FILE: CONTENT}, "echo planted > /tmp/new\n",
                         old={MAC_FILE: CONTENT}, ticks=2)
        self.assertMovedAside(run)
        self.assertEqual(run.messages().count(UNCHANGED), 1)
        self.assertEqual(run.new, {MAC_FILE: CONTENT})

    def test_fifo_in_a_planted_download_directory(self):
        # Before: the daemon blocked on the FIFO for good.
        for tftp in (False, True):
            with self.subTest(tftp=tftp):
                run = self.check({MAC_FILE: CONTENT},
                                 "mkdir -m 777 /tmp/new\nmkfifo /tmp/new/%s\n" % MAC_FILE,
                                 old={MAC_FILE: CONTENT}, tftp=tftp, ticks=2)
                self.assertMovedAside(run)
                self.assertEqual(run.messages().count(UNCHANGED), 1)

    def test_fifo_and_link_among_applied_copies_of_a_planted_old_directory(self):
        # A FIFO there blocked the comparison for good; a link was read
        # through. Neither counts as an applied copy now.
        main = b"<config><MiscSettings><AutoprovFile>phone.xml</AutoprovFile></MiscSettings></config>"
        run = self.check({MAC_FILE: main, "phone.xml": b"<phone/>"},
                         "mkdir /tmp/old\nmkfifo /tmp/old/%s\n"
                         "ln -s /run/victims/phone.xml /tmp/old/phone.xml\n" % MAC_FILE, ticks=2)
        failed = [m for m in run.messages() if m.startswith("Cfgwatch failed to open /tmp/old/")]
        self.assertEqual(failed, ["Cfgwatch failed to open /tmp/old/%s..." % MAC_FILE,
                                  "Cfgwatch failed to open /tmp/old/phone.xml..."])

    def test_downloads_are_closed_to_other_accounts(self):
        run = self.check({MAC_FILE: CONTENT}, None, old={MAC_FILE: CONTENT},
                         attacker_after="cat /tmp/new/%s || echo refused\n"
                                        "ls /tmp/new || echo refused\n" % MAC_FILE)
        self.assertEqual(run.tmp_modes["new"], (0o700, "root", "d"))
        self.assertEqual(run.tmp_modes["new/" + MAC_FILE], (0o600, "root", "f"))
        self.assertNotIn("MiscSettings", run.attacker_after_output)
        self.assertEqual(run.attacker_after_output.count("refused"), 2,
                         run.attacker_after_output)

    def test_tftp_downloads_are_closed_to_other_accounts(self):
        run = self.check({MAC_FILE: CONTENT}, None, old={MAC_FILE: CONTENT}, tftp=True)
        self.assertEqual(run.tmp_modes["new"], (0o700, "root", "d"))
        self.assertEqual(run.tmp_modes["new/" + MAC_FILE], (0o600, "root", "f"))


if __name__ == "__main__":
    unittest.main()
