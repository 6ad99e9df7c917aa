"""Downloads of the main provisioning file over HTTP and HTTPS through the real
wget, from servers on the loopback address."""

import base64
import os
import unittest

import harness
from harness import DaemonTest, MAC, MAC_FILE, DEFAULT_FILE
from servers import HttpServer, self_signed_certificate
from messages import (LOOKING_FOR_MAIN_FILE as LOOKING, IDLE_TEN_MINUTES as IDLE,
                      WGET_CALL_FAILED as WGET_FAILED, NO_CHANGES_FOUND, MAIN_FILE_NOT_DOWNLOADED)

CONTENT = b"<config><MiscSettings/></config>\n"


def basic(user, password):
    return "Basic " + base64.b64encode(("%s:%s" % (user, password)).encode()).decode()


class HttpTest(DaemonTest):
    def check_once(self, server_text, old=None, new=None, **record):
        settings = {"autoprov_idle_minutes": 10, "mac_address": MAC,
                    "autoprov_server": server_text}
        settings.update(record)
        run = self.run_daemon(record=settings, old=old, new=new, idle=True, ticks=1)
        self.assertLoopRan(run, 1)
        self.assertEqual(run.messages()[0], IDLE)
        return run

    def test_plain_http(self):
        with HttpServer({MAC_FILE: CONTENT}) as server:
            run = self.check_once(server.url, old={MAC_FILE: CONTENT})
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % (MAC_FILE, server.url), NO_CHANGES_FOUND])
        self.assertEqual(server.requests, [("/" + MAC_FILE, None)])
        self.assertEqual(run.new, {MAC_FILE: CONTENT})

    def test_https_with_self_signed_certificate_and_path_prefix(self):
        tls = self_signed_certificate(os.path.join(harness.WORK_DIR, "tls"))
        with HttpServer({"some/prefix/" + MAC_FILE: CONTENT}, tls_files=tls) as server:
            url = server.url + "/some/prefix"
            self.assertTrue(url.startswith("https://127.0.0.1:"))
            run = self.check_once(url, old={MAC_FILE: CONTENT})
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % (MAC_FILE, url), NO_CHANGES_FOUND])
        self.assertEqual(server.paths(), ["/some/prefix/" + MAC_FILE])
        self.assertEqual(run.new, {MAC_FILE: CONTENT})

    def test_default_name_when_mac_file_missing(self):
        with HttpServer({DEFAULT_FILE: CONTENT}) as server:
            run = self.check_once(server.url, old={DEFAULT_FILE: CONTENT})
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % (MAC_FILE, server.url), WGET_FAILED,
            LOOKING % (DEFAULT_FILE, server.url), NO_CHANGES_FOUND])
        self.assertEqual(server.paths(), ["/" + MAC_FILE, "/" + DEFAULT_FILE])
        # The failed download left nothing behind.
        self.assertEqual(run.new, {DEFAULT_FILE: CONTENT})

    def test_both_missing_leaves_nothing(self):
        with HttpServer({}) as server:
            run = self.check_once(server.url, old={MAC_FILE: CONTENT})
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % (MAC_FILE, server.url), WGET_FAILED,
            LOOKING % (DEFAULT_FILE, server.url), WGET_FAILED])
        self.assertEqual(run.new, {})
        self.assertEqual(run.resets(), 0)

    def test_correct_credentials(self):
        with HttpServer({MAC_FILE: CONTENT}, user="phone", password="s3cret") as server:
            run = self.check_once(server.url, old={MAC_FILE: CONTENT},
                                  autoprov_http_user="phone", autoprov_http_password="s3cret")
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % (MAC_FILE, server.url), NO_CHANGES_FOUND])
        self.assertIn(("/" + MAC_FILE, basic("phone", "s3cret")), server.requests)
        self.assertEqual(run.new, {MAC_FILE: CONTENT})

    def test_wrong_credentials_fail_and_leave_no_file(self):
        with HttpServer({MAC_FILE: CONTENT, DEFAULT_FILE: CONTENT}, user="phone",
                        password="s3cret") as server:
            run = self.check_once(server.url, old={MAC_FILE: CONTENT},
                                  autoprov_http_user="phone", autoprov_http_password="wrong")
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % (MAC_FILE, server.url), WGET_FAILED,
            LOOKING % (DEFAULT_FILE, server.url), WGET_FAILED])
        self.assertIn(("/" + MAC_FILE, basic("phone", "wrong")), server.requests,
                      "programs run: %r" % (run.programs(),))
        self.assertEqual(run.new, {})

    def test_password_without_user_is_not_sent(self):
        with HttpServer({MAC_FILE: CONTENT}, user="", password="s3cret") as server:
            run = self.check_once(server.url, old={MAC_FILE: CONTENT},
                                  autoprov_http_password="s3cret")
        self.assertEqual(run.messages()[2], WGET_FAILED)
        self.assertTrue(server.requests)
        self.assertTrue(all(authorization is None for _, authorization in server.requests),
                        server.requests)

    def test_directory_prefix(self):
        with HttpServer({"cfg//" + DEFAULT_FILE: CONTENT}) as server:
            run = self.check_once(server.url, old={DEFAULT_FILE: CONTENT}, autoprov_file="cfg/")
        self.assertEqual(server.paths(), ["/cfg//" + MAC_FILE, "/cfg//" + DEFAULT_FILE])
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % ("cfg//" + MAC_FILE, server.url), WGET_FAILED,
            LOOKING % ("cfg//" + DEFAULT_FILE, server.url), NO_CHANGES_FOUND])
        self.assertEqual(run.new, {DEFAULT_FILE: CONTENT})

    def test_named_file_with_directory_part(self):
        with HttpServer({"cfg/a.xml": CONTENT, MAC_FILE: CONTENT}) as server:
            run = self.check_once(server.url, old={"a.xml": CONTENT}, autoprov_file="cfg/a.xml")
        self.assertEqual(server.paths(), ["/cfg/a.xml"])
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % ("cfg/a.xml", server.url), NO_CHANGES_FOUND])
        self.assertEqual(run.new, {"a.xml": CONTENT})

    def test_named_file_missing_no_mac_attempt(self):
        with HttpServer({MAC_FILE: CONTENT, DEFAULT_FILE: CONTENT}) as server:
            run = self.check_once(server.url, autoprov_file="prov.xml")
        self.assertEqual(server.paths(), ["/prov.xml"])
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % ("prov.xml", server.url), WGET_FAILED,
            MAIN_FILE_NOT_DOWNLOADED])
        self.assertEqual(run.new, {})

    def test_partial_download_is_deleted(self):
        big = b"<config><MiscSettings/>" + b"<pad/>" * 4000 + b"</config>\n"
        with HttpServer({MAC_FILE: big}, cut_short={MAC_FILE}) as server:
            run = self.check_once(server.url, old={MAC_FILE: big})
        self.assertEqual(run.messages()[1:3], [LOOKING % (MAC_FILE, server.url), WGET_FAILED])
        self.assertNotIn(MAC_FILE, run.new)

    def test_existing_download_is_overwritten(self):
        with HttpServer({MAC_FILE: CONTENT}) as server:
            run = self.check_once(server.url, old={MAC_FILE: CONTENT},
                                  new={MAC_FILE: b"stale download from an earlier pass\n"})
        self.assertEqual(run.messages()[-1], NO_CHANGES_FOUND)
        self.assertEqual(run.new, {MAC_FILE: CONTENT})


if __name__ == "__main__":
    unittest.main()
