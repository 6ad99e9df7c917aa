"""Downloads of the main provisioning file over TFTP, from a real tftpd-hpa
through the installed minimumTFTP.py."""

import os
import unittest

import harness
from harness import DaemonTest, MAC, MAC_FILE, DEFAULT_FILE, RESET_LINE
from servers import TftpServer
from messages import (LOOKING_FOR_MAIN_FILE as LOOKING, IDLE_TEN_MINUTES as IDLE,
                      TFTP_CALL_FAILED as TFTP_FAILED, NO_CHANGES_FOUND, MAIN_FILE_NOT_DOWNLOADED,
                      INVALID_FILENAME, FILE_IS_DIFFERENT)

CONTENT = b"<config><MiscSettings/></config>\n"


class TftpTest(DaemonTest):
    def setUp(self):
        super().setUp()
        self.server = TftpServer(self.workspace.sub("tftp")).start()
        self.addCleanup(self.server.stop)

    def check_once(self, old=None, **record):
        settings = {"autoprov_idle_minutes": 10, "mac_address": MAC, "autoprov_use_tftp": 1,
                    "autoprov_server": self.server.address}
        settings.update(record)
        run = self.run_daemon(record=settings, old=old, idle=True, ticks=1)
        self.assertLoopRan(run, 1)
        self.assertEqual(run.messages()[0], IDLE)
        return run

    def test_mac_based_name_first(self):
        self.server.put(MAC_FILE, CONTENT)
        self.server.put(DEFAULT_FILE, b"<default/>\n")
        run = self.check_once(old={MAC_FILE: CONTENT})
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % (MAC_FILE, self.server.address), NO_CHANGES_FOUND])
        self.assertEqual(run.new, {MAC_FILE: CONTENT})
        self.assertEqual(run.resets(), 0)

    def test_mac_digits_are_lower_case(self):
        self.server.put("0a1b2c3d4e5f.xml", CONTENT)
        run = self.check_once(old={"0a1b2c3d4e5f.xml": CONTENT}, mac_address="0A:1B:2C:3D:4E:5F")
        self.assertEqual(run.messages()[1], LOOKING % ("0a1b2c3d4e5f.xml", self.server.address))
        self.assertEqual(run.new, {"0a1b2c3d4e5f.xml": CONTENT})

    def test_default_name_when_mac_file_missing(self):
        self.server.put(DEFAULT_FILE, CONTENT)
        run = self.check_once(old={DEFAULT_FILE: CONTENT})
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % (MAC_FILE, self.server.address), TFTP_FAILED,
            LOOKING % (DEFAULT_FILE, self.server.address), NO_CHANGES_FOUND])
        self.assertEqual(run.new, {DEFAULT_FILE: CONTENT})

    def test_both_missing(self):
        run = self.check_once(old={MAC_FILE: CONTENT})
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % (MAC_FILE, self.server.address), TFTP_FAILED,
            LOOKING % (DEFAULT_FILE, self.server.address), TFTP_FAILED])
        self.assertEqual(run.new, {})
        self.assertEqual(run.resets(), 0)

    def test_named_file(self):
        self.server.put("prov.xml", CONTENT)
        self.server.put(MAC_FILE, CONTENT)
        run = self.check_once(old={"prov.xml": CONTENT}, autoprov_file="prov.xml")
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % ("prov.xml", self.server.address), NO_CHANGES_FOUND])
        self.assertEqual(run.new, {"prov.xml": CONTENT})

    def test_named_file_missing_no_mac_attempt(self):
        self.server.put(MAC_FILE, CONTENT)
        self.server.put(DEFAULT_FILE, CONTENT)
        run = self.check_once(autoprov_file="prov.xml")
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % ("prov.xml", self.server.address), TFTP_FAILED,
            MAIN_FILE_NOT_DOWNLOADED])
        self.assertEqual(run.new, {})

    def test_name_with_directory_part_refused(self):
        os.makedirs(os.path.join(self.server.directory, "cfg"))
        self.server.put("cfg/prov.xml", CONTENT)
        run = self.check_once(autoprov_file="cfg/prov.xml")
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % ("cfg/prov.xml", self.server.address),
            INVALID_FILENAME,
            MAIN_FILE_NOT_DOWNLOADED])
        self.assertEqual(run.new, {})

    def test_directory_prefix_refused_for_both_names(self):
        os.makedirs(os.path.join(self.server.directory, "cfg"))
        self.server.put("cfg/" + MAC_FILE, CONTENT)
        run = self.check_once(autoprov_file="cfg/")
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % ("cfg//" + MAC_FILE, self.server.address),
            INVALID_FILENAME,
            LOOKING % ("cfg//" + DEFAULT_FILE, self.server.address),
            INVALID_FILENAME])
        self.assertEqual(run.new, {})

    def test_changed_file_over_tftp_requests_reset(self):
        self.server.put(MAC_FILE, b"<config><MiscSettings/><v>2</v></config>\n")
        run = self.check_once(old={MAC_FILE: b"<config><MiscSettings/><v>1</v></config>\n"})
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % (MAC_FILE, self.server.address),
            FILE_IS_DIFFERENT])
        self.assertEqual(run.resets(), 1)
        self.assertEqual(run.stderr_lines().count(RESET_LINE), 1)

    def test_server_from_option_150(self):
        self.server.put(MAC_FILE, CONTENT)
        run = self.check_once(old={MAC_FILE: CONTENT}, autoprov_server="")
        # No lease: nothing to ask.
        self.assertEqual(run.messages(), [IDLE])
        run = self.run_daemon(
            record={"autoprov_idle_minutes": 10, "mac_address": MAC, "autoprov_use_tftp": 1},
            lease=harness.lease(tftp_address=self.server.address + " 127.0.0.1:9"),
            old={MAC_FILE: CONTENT}, idle=True, ticks=1)
        self.assertEqual(run.messages(), [
            IDLE, "Cfgwatch: Found server in option 150: %s" % self.server.address,
            LOOKING % (MAC_FILE, self.server.address), NO_CHANGES_FOUND])
        self.assertEqual(run.new, {MAC_FILE: CONTENT})


if __name__ == "__main__":
    unittest.main()
