"""A server that sends without end no longer fills /tmp, which is the
device's memory: a download may write 8 MiB and not a byte more. Past that
the downloader fails, nothing of the file is kept and the loop goes on."""

import os
import unittest

from harness import DaemonTest, MAC
from servers import HttpServer, TftpServer
from streaming_servers import StreamingHttpServer, StreamingTftpServer
from messages import (LOOKING_FOR_MAIN_FILE as LOOKING, IDLE_TEN_MINUTES as IDLE,
                      MAIN_FILE_NOT_DOWNLOADED as NOT_DOWNLOADED, WGET_CALL_FAILED as WGET_FAILED,
                      TFTP_CALL_FAILED as TFTP_FAILED, NO_CHANGES_FOUND)

NAME = "prov.xml"
CAP = 8 * 1024 * 1024


class SizeCapTest(DaemonTest):
    def check(self, server_text, old=None, **record):
        settings = {"autoprov_idle_minutes": 10, "mac_address": MAC,
                    "autoprov_server": server_text, "autoprov_file": NAME}
        settings.update(record)
        run = self.run_daemon(record=settings, old=old, idle=True, ticks=2)
        self.assertLoopRan(run, 2)
        return run

    def assertNothingKept(self, run, server_text, failure):
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % (NAME, server_text), failure, NOT_DOWNLOADED])
        self.assertEqual(run.new, {})
        self.assertEqual([path for path in run.tmp_listing
                          if path and not path.startswith("./old")], [".", "./new"])

    def test_endless_http_body_stops_at_the_cap(self):
        with StreamingHttpServer(b"<x/>" * 16384, interval=0, limit=256 * 1024 * 1024) as server:
            run = self.check(server.url)
        self.assertNothingKept(run, server.url, WGET_FAILED)
        # wget got past the cap before it was stopped, and stopped reading long
        # before the server's own bound.
        self.assertGreater(server.sent, CAP)
        self.assertLess(server.sent, server.limit)
        self.assertTrue(server.client_left.is_set())

    def test_endless_tftp_transfer_stops_at_the_cap(self):
        with StreamingTftpServer(interval=0, limit=4 * CAP // 512) as server:
            run = self.check(server.address, autoprov_use_tftp=1)
        self.assertNothingKept(run, server.address, TFTP_FAILED)
        self.assertGreaterEqual(server.acknowledged, CAP // 512)
        self.assertLess(server.acknowledged, server.limit)

    def test_file_of_exactly_the_cap_is_kept_and_one_byte_more_is_not(self):
        # A whole document, as only one that parses is compared.
        head, tail = b"<config><Pad>", b"</Pad></config>\n"
        exact = head + b"x" * (CAP - len(head) - len(tail)) + tail
        larger = exact + b"\n"
        tftp_root = self.workspace.sub("tftp")
        with HttpServer({NAME: exact, "larger/" + NAME: larger}) as http, \
                TftpServer(tftp_root) as tftp:
            tftp.put(NAME, exact)
            for server_text, transport in ((http.url, 0), (tftp.address, 1)):
                with self.subTest(transport=transport):
                    run = self.check(server_text, old={NAME: exact}, autoprov_use_tftp=transport)
                    self.assertEqual(run.messages(), [
                        IDLE, LOOKING % (NAME, server_text), NO_CHANGES_FOUND])
                    self.assertEqual(len(run.new[NAME]), CAP)
                    self.assertTrue(run.new[NAME] == exact)
            os.makedirs(os.path.join(tftp_root, "larger"))
            tftp_larger = TftpServer(os.path.join(tftp_root, "larger"))
            with tftp_larger:
                tftp_larger.put(NAME, larger)
                for server_text, transport, failure in (
                        (http.url + "/larger", 0, WGET_FAILED),
                        (tftp_larger.address, 1, TFTP_FAILED)):
                    with self.subTest(transport=transport, larger=True):
                        run = self.check(server_text, old={NAME: exact},
                                         autoprov_use_tftp=transport)
                        self.assertNothingKept(run, server_text, failure)


if __name__ == "__main__":
    unittest.main()
