"""What a server that anybody on the network can become may send: a captive
portal's page, a body cut short, names built to forge log lines, documents
built to take memory. None of it asks for a restart or reaches the log as a
line of its own."""

import unittest

from harness import DaemonTest, MAC, MAC_FILE, RESET_LINE
from servers import HttpServer
from messages import (IDLE_TEN_MINUTES as IDLE, LOOKING_FOR_MAIN_FILE as LOOKING, COULD_NOT_PARSE,
                      INVALID_FILENAME, NO_CHANGES_FOUND)

APPLIED = b"<config><MiscSettings><AutoprovFile>phone.xml</AutoprovFile></MiscSettings></config>\n"
PORTAL = (b"<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>Wi-Fi sign-in</title>"
          b"</head><body><p>Please accept the terms<br><a href=/ok>Accept</a></body></html>\n")


def entity_bomb(references, entity_size):
    """A small document whose references, each in a text of its own, expand
    one large entity."""
    return (b"<!DOCTYPE config [<!ENTITY b \"" + b"x" * entity_size + b"\">]>\n<config>"
            + b"<a>&b;</a>" * references + b"</config>\n")


class HostileServerTest(DaemonTest):
    def check(self, files, old, ticks=1, **server_options):
        with HttpServer(files, **server_options) as server:
            run = self.run_daemon(record={"autoprov_idle_minutes": 10, "mac_address": MAC,
                                          "autoprov_server": server.url},
                                  old=old, idle=True, ticks=ticks)
        self.assertLoopRan(run, ticks)
        self.server_url = server.url
        return run

    def assertNoReset(self, run):
        self.assertEqual(run.resets(), 0)
        self.assertNotIn(RESET_LINE, run.stderr_lines())

    def test_captive_portal_page_is_not_a_change(self):
        # Before: the page differed from the applied copy, and every check
        # asked for a restart.
        for content_type in ("text/html", "application/xml"):
            with self.subTest(content_type=content_type):
                run = self.check({MAC_FILE: PORTAL}, {MAC_FILE: APPLIED},
                                 content_type=content_type)
                self.assertEqual(run.messages(), [IDLE, LOOKING % (MAC_FILE, self.server_url),
                                                  COULD_NOT_PARSE])
                self.assertNoReset(run)

    def test_body_cut_short_without_a_length_is_not_a_change(self):
        changed = APPLIED.replace(b"phone", b"other")
        run = self.check({MAC_FILE: changed}, {MAC_FILE: APPLIED}, unannounced={MAC_FILE})
        self.assertEqual(run.messages()[-1], COULD_NOT_PARSE)
        self.assertNoReset(run)

    def test_listed_portal_page_is_not_a_change(self):
        run = self.check({MAC_FILE: APPLIED, "phone.xml": PORTAL},
                         {MAC_FILE: APPLIED, "phone.xml": b"<phone/>"})
        self.assertEqual(run.messages()[-3:], [
            NO_CHANGES_FOUND,
            'Cfgwatch: Looking for "phone.xml" at "%s".' % self.server_url, COULD_NOT_PARSE])
        self.assertNoReset(run)

    def test_listed_name_cannot_forge_log_lines(self):
        # Before: "&#10;" in a name gave the server log lines of its own,
        # a fake restart notice among them.
        forged = (b"<config><MiscSettings><AutoprovFile>a.xml&#10;" + RESET_LINE.encode()
                  + b"&#13;&#10;Cfgwatch: no changes found.</AutoprovFile></MiscSettings></config>")
        run = self.check({MAC_FILE: forged}, {MAC_FILE: forged})
        shown = "a.xml?" + RESET_LINE + "??Cfgwatch: no changes found."
        self.assertEqual(run.messages()[2:], [
            NO_CHANGES_FOUND,
            'Cfgwatch: Looking for "%s" at "%s".' % (shown, self.server_url),
            INVALID_FILENAME, '"%s" File not found.' % shown])
        self.assertNoReset(run)
        # Every line on standard error is one the daemon began.
        for line in run.stderr_lines():
            self.assertTrue(line.startswith(("Cfgwatch", '"')), line)

    def test_entity_expansion_stops_at_the_document_budget(self):
        # Before: 208 KB of references to an 8000-byte entity took 160 MB,
        # and the document counted as a change.
        bomb = entity_bomb(20000, 8000)
        self.assertLess(len(bomb), 210 * 1024)
        run = self.check({MAC_FILE: bomb}, {MAC_FILE: APPLIED})
        self.assertEqual(run.messages()[-1], COULD_NOT_PARSE)
        self.assertNoReset(run)

    def test_honest_large_entity_expands_and_is_compared(self):
        # The budget is the document's: one large entity, used once, is fine.
        document = entity_bomb(1, 9000)
        run = self.check({MAC_FILE: document}, {MAC_FILE: document})
        self.assertEqual(run.messages()[-1], NO_CHANGES_FOUND)


if __name__ == "__main__":
    unittest.main()
