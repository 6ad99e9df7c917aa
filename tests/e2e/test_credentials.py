"""HTTP credentials reach the configured server and no one else: they never
stand in an argument list of a program the daemon starts (which every local
user can read in /proc/PID/cmdline), and they do not follow a redirection to
another server."""

import base64
import unittest

from harness import DaemonTest, MAC, MAC_FILE
from servers import HttpServer
from messages import (LOOKING_FOR_MAIN_FILE as LOOKING, IDLE_TEN_MINUTES as IDLE,
                      WGET_CALL_FAILED as WGET_FAILED, NO_CHANGES_FOUND, MAIN_FILE_NOT_DOWNLOADED,
                      INVALID_HTTP_CREDENTIALS)

CONTENT = b"<config><MiscSettings/></config>\n"
# Blanks, '#', '=', quotes, a backslash and bytes past ASCII: wget's
# start-up file takes them all literally.
PASSWORD = "s3cr=t #p\"a'ss\\w\xe9rd"
USER = "ph one"


def basic(user, password):
    # The settings tool stores the texts it is given as UTF-8.
    return "Basic " + base64.b64encode(("%s:%s" % (user, password)).encode()).decode()


class CredentialsTest(DaemonTest):
    def check_once(self, server_text, **record):
        settings = {"autoprov_idle_minutes": 10, "mac_address": MAC,
                    "autoprov_server": server_text, "autoprov_http_user": USER,
                    "autoprov_http_password": PASSWORD}
        settings.update(record)
        run = self.run_daemon(record=settings, old={MAC_FILE: CONTENT}, idle=True, ticks=1)
        self.assertLoopRan(run, 1)
        return run

    def assertInNoArgumentList(self, run, text):
        vectors = [argv for argv, _ in run.programs()]
        self.assertTrue(any(argv[0] == "wget" for argv in vectors), vectors)
        for argv in vectors:
            for word in argv:
                self.assertNotIn(text, word, argv)

    def test_password_reaches_the_server_but_no_argument_list(self):
        with HttpServer({MAC_FILE: CONTENT}, user=USER, password=PASSWORD) as server:
            run = self.check_once(server.url)
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % (MAC_FILE, server.url), NO_CHANGES_FOUND])
        self.assertIn(("/" + MAC_FILE, basic(USER, PASSWORD)), server.requests)
        self.assertEqual(run.new, {MAC_FILE: CONTENT})
        self.assertInNoArgumentList(run, "s3cr=t")
        self.assertInNoArgumentList(run, USER)

    def test_redirection_to_another_port_gets_no_credentials(self):
        # The configured server takes the credentials, then sends wget on to
        # another origin that asks for them too.
        with HttpServer({}, user="collector", password="x") as elsewhere:
            with HttpServer({}, user=USER, password=PASSWORD,
                            redirects={MAC_FILE: elsewhere.url + "/" + MAC_FILE}) as server:
                run = self.check_once(server.url, autoprov_file=MAC_FILE)
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % (MAC_FILE, server.url), WGET_FAILED,
            MAIN_FILE_NOT_DOWNLOADED])
        self.assertIn(("/" + MAC_FILE, basic(USER, PASSWORD)), server.requests)
        self.assertEqual([authorization for _, authorization in elsewhere.requests
                          if authorization is not None], [])
        self.assertEqual(run.new, {})

    def test_password_that_wget_would_change_is_refused_before_anything_runs(self):
        with HttpServer({MAC_FILE: CONTENT}, user=USER, password=" padded ") as server:
            run = self.check_once(server.url, autoprov_http_password=" padded ",
                                  autoprov_file=MAC_FILE)
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % (MAC_FILE, server.url), INVALID_HTTP_CREDENTIALS,
            MAIN_FILE_NOT_DOWNLOADED])
        self.assertEqual(server.requests, [])
        self.assertNotIn("wget", [argv[0] for argv, _ in run.programs()])


if __name__ == "__main__":
    unittest.main()
