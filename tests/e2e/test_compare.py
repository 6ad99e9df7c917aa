"""Comparison of a download with the applied copy in /tmp/old, and the reset
request on a change."""

import unittest

import harness
from harness import DaemonTest, MAC, MAC_FILE, RESET_LINE
from servers import HttpServer
from messages import (LOOKING_FOR_MAIN_FILE as LOOKING, IDLE_TEN_MINUTES as IDLE,
                      NO_CHANGES_FOUND as UNCHANGED, FILE_IS_DIFFERENT as DIFFERENT,
                      COULD_NOT_PARSE, FILE_IS_LARGER as LARGER)

APPLIED = b"<config><MiscSettings/><v>1</v></config>\n"


class CompareTest(DaemonTest):

    def compare(self, served, applied, ticks=1):
        old = {MAC_FILE: applied} if applied is not None else {}
        with HttpServer({MAC_FILE: served}) as server:
            run = self.run_daemon(record={"autoprov_idle_minutes": 10, "mac_address": MAC,
                                          "autoprov_server": server.url},
                                  old=old, idle=True, ticks=ticks)
        self.assertLoopRan(run, ticks)
        self.assertEqual(run.messages()[:2], [IDLE, LOOKING % (MAC_FILE, server.url)])
        self.assertEqual(run.new, {MAC_FILE: served})
        # The applied copies are only read.
        self.assertEqual(run.old, old)
        return run

    def test_unchanged(self):
        run = self.compare(APPLIED, APPLIED)
        self.assertEqual(run.messages()[2:], [UNCHANGED])
        self.assertEqual(run.resets(), 0)
        self.assertNotIn(RESET_LINE, run.stderr)

    def test_changed_byte(self):
        run = self.compare(APPLIED.replace(b"1", b"2"), APPLIED)
        self.assertEqual(run.messages()[2:], [DIFFERENT])
        self.assertEqual(run.resets(), 1)
        self.assertEqual(run.stderr_lines().count(RESET_LINE), 1)
        # The reset is requested right after the message.
        self.assertEqual(run.stderr_lines()[-2:], [DIFFERENT, RESET_LINE])

    def test_larger(self):
        run = self.compare(APPLIED + b"<!-- more -->\n", APPLIED)
        self.assertEqual(run.messages()[2:], [LARGER])
        self.assertEqual(run.resets(), 1)

    def test_shorter_is_different_not_larger(self):
        # Still a whole document, only without its final line feed.
        run = self.compare(APPLIED.rstrip(b"\n"), APPLIED)
        self.assertEqual(run.messages()[2:3], [DIFFERENT])
        self.assertEqual(run.resets(), 1)

    def test_empty_or_cut_download_is_not_a_change(self):
        # Only a download that parses is held against the applied copy.
        for served in (b"", APPLIED[:len(APPLIED) // 2]):
            with self.subTest(served=served):
                run = self.compare(served, APPLIED)
                self.assertEqual(run.messages()[2:], [COULD_NOT_PARSE])
                self.assertEqual(run.resets(), 0)

    def test_empty_applied_copy(self):
        run = self.compare(APPLIED, b"")
        self.assertEqual(run.messages()[2:], [LARGER])
        self.assertEqual(run.resets(), 1)

    def test_both_empty(self):
        run = self.compare(b"", b"")
        self.assertEqual(run.messages()[2:], [COULD_NOT_PARSE])
        self.assertEqual(run.resets(), 0)

    def test_no_applied_copy(self):
        run = self.compare(APPLIED, None)
        self.assertEqual(run.messages()[2:], ["Cfgwatch failed to open /tmp/old/%s..." % MAC_FILE])
        self.assertEqual(run.resets(), 1)

    def test_download_that_cannot_be_read(self):
        # Without the capability to override file permissions, root too is
        # refused a file that only its owner may write: wget can still fill it,
        # the comparison cannot read it.
        served = APPLIED.replace(b"1", b"2")
        with HttpServer({MAC_FILE: served}) as server:
            run = self.run_daemon(
                record={"autoprov_idle_minutes": 10, "mac_address": MAC,
                        "autoprov_server": server.url},
                old={MAC_FILE: APPLIED}, new={MAC_FILE: b""}, idle=True, ticks=1,
                modes={"/tmp/new/" + MAC_FILE: 0o200},
                bounding_set="-dac_override,-dac_read_search")
        self.assertLoopRan(run, 1)
        self.assertEqual(server.paths(), ["/" + MAC_FILE])
        self.assertEqual(run.new, {MAC_FILE: served})
        # A download that cannot be read cannot be parsed, so it is never
        # compared.
        self.assertEqual(run.messages(), [IDLE, LOOKING % (MAC_FILE, server.url), COULD_NOT_PARSE])
        self.assertEqual(run.resets(), 0)

    def test_daemon_goes_on_when_reset_returns(self):
        # The host's reset only reports the request, so the loop carries on.
        run = self.compare(APPLIED.replace(b"1", b"2"), APPLIED, ticks=3)
        self.assertEqual(run.resets(), 1)
        self.assertEqual(run.messages_in_tick(2), [])
        self.assertEqual(run.messages_in_tick(3), [])


if __name__ == "__main__":
    unittest.main()
