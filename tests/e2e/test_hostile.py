"""Texts from the lease, the settings and the provisioning server reach the
download programs only as their own arguments: never a shell, never an option."""

import unittest
import urllib.parse

import harness
from harness import DaemonTest, MAC, MAC_FILE, DEFAULT_FILE, lease, vendor_hex
from servers import HttpServer, TftpServer
from messages import (LOOKING_FOR_MAIN_FILE as LOOKING, IDLE_TEN_MINUTES as IDLE, INVALID_SERVER,
                      WGET_CALL_FAILED as WGET_FAILED, TFTP_CALL_FAILED as TFTP_FAILED,
                      NO_CHANGES_FOUND, INVALID_FILENAME, MAIN_FILE_NOT_DOWNLOADED)

CONTENT = b"<config><MiscSettings/></config>\n"

# Each piece would create a file of its own if any shell ever saw it.
SHELL_PIECES = ";touch /tmp/pwned1;$(touch /tmp/pwned2)`touch /tmp/pwned3`|touch /tmp/pwned4" \
               "&&touch /tmp/pwned5>/tmp/pwned6"
SHELL_PIECES_NO_BLANKS = ";touch${IFS}/tmp/pwned1;$(touch${IFS}/tmp/pwned2)" \
                         "`touch${IFS}/tmp/pwned3`|touch${IFS}/tmp/pwned4"


class HostileTextTest(DaemonTest):
    def check_once(self, lease_text=None, old=None, **record):
        settings = {"autoprov_idle_minutes": 10, "mac_address": MAC}
        settings.update(record)
        run = self.run_daemon(record=settings, lease=lease_text, old=old, idle=True, ticks=1)
        self.assertLoopRan(run, 1)
        self.assertEqual(run.messages()[0], IDLE)
        self.assertNothingRan(run)
        return run

    def assertNothingRan(self, run):
        planted = [path for path in run.tmp_listing + run.run_listing if "pwned" in path]
        self.assertEqual(planted, [])

    def assertOneArgument(self, run, program, text):
        """The program started was given the text as one argument of its own."""
        vectors = [argv for argv, _ in run.programs() if argv[0] == program]
        self.assertTrue(any(text in argv for argv in vectors), run.programs())

    def test_option_43_url_with_shell_text_reaches_wget_whole(self):
        with HttpServer({}) as server:
            url = server.url + "/a" + SHELL_PIECES
            run = self.check_once(lease(vendor=vendor_hex(url)))
        self.assertEqual(run.messages(), [
            IDLE, "Cfgwatch: Found server in option 43: %s" % url,
            LOOKING % (MAC_FILE, url), WGET_FAILED, LOOKING % (DEFAULT_FILE, url), WGET_FAILED])
        self.assertEqual([urllib.parse.unquote(p) for p in server.paths()],
                         ["/a" + SHELL_PIECES + "/" + name for name in (MAC_FILE, DEFAULT_FILE)])
        self.assertOneArgument(run, "wget", url + "/" + MAC_FILE)

    def test_configured_server_with_blanks_and_shell_text(self):
        with HttpServer({}) as server:
            url = server.url + "/x y" + SHELL_PIECES
            run = self.check_once(autoprov_server=url)
        self.assertEqual(run.messages()[1:3], [LOOKING % (MAC_FILE, url), WGET_FAILED])
        self.assertEqual(urllib.parse.unquote(server.paths()[0]),
                         "/x y" + SHELL_PIECES + "/" + MAC_FILE)
        self.assertOneArgument(run, "wget", url + "/" + MAC_FILE)

    def test_file_name_with_shell_text_is_downloaded_under_that_name(self):
        name = "p$(id)`id`;id|id&x y.xml"
        with HttpServer({name: CONTENT}) as server:
            run = self.check_once(old={name: CONTENT}, autoprov_server=server.url,
                                  autoprov_file=name)
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % (name, server.url), NO_CHANGES_FOUND])
        self.assertEqual(run.new, {name: CONTENT})

    def test_tftp_server_text_with_shell_text(self):
        with TftpServer(self.workspace.sub("tftp")) as server:
            server.put(MAC_FILE, CONTENT)
            text = server.address + SHELL_PIECES_NO_BLANKS
            run = self.check_once(lease(tftp_name=text), autoprov_use_tftp=1)
        self.assertEqual(run.messages(), [
            IDLE, "Cfgwatch: Found server in option 66: %s" % text,
            LOOKING % (MAC_FILE, text), TFTP_FAILED, LOOKING % (DEFAULT_FILE, text), TFTP_FAILED])
        self.assertEqual(run.new, {})
        self.assertOneArgument(run, "minimumTFTP.py", text)

    def test_tftp_file_name_with_shell_text(self):
        name = "q$(id);id`id`&x y.xml"
        with TftpServer(self.workspace.sub("tftp")) as server:
            server.put(name, CONTENT)
            run = self.check_once(old={name: CONTENT}, autoprov_use_tftp=1,
                                  autoprov_server=server.address, autoprov_file=name)
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % (name, server.address), NO_CHANGES_FOUND])
        self.assertEqual(run.new, {name: CONTENT})
        self.assertOneArgument(run, "minimumTFTP.py", name)

    def test_tftp_file_name_that_looks_like_an_option_is_refused(self):
        # The TFTP client keeps the file under the name it asks for, and a
        # name in front of which nothing stands could be read as an option.
        with TftpServer(self.workspace.sub("tftp")) as server:
            server.put("-O.xml", CONTENT)
            run = self.check_once(old={"-O.xml": CONTENT}, autoprov_use_tftp=1,
                                  autoprov_server=server.address, autoprov_file="-O.xml")
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % ("-O.xml", server.address), INVALID_FILENAME,
            MAIN_FILE_NOT_DOWNLOADED])
        self.assertEqual(run.new, {})

    def test_http_file_name_with_leading_dash_is_only_part_of_the_url(self):
        with HttpServer({"-O.xml": CONTENT}) as server:
            run = self.check_once(old={"-O.xml": CONTENT}, autoprov_server=server.url,
                                  autoprov_file="-O.xml")
        self.assertEqual(server.paths(), ["/-O.xml"])
        self.assertEqual(run.messages()[-1], NO_CHANGES_FOUND)
        self.assertEqual(run.new, {"-O.xml": CONTENT})

    def test_server_text_that_looks_like_an_option_is_refused(self):
        for transport, key, text in (
                (0, "www", "--output-document=/tmp/pwned9"),
                (0, "vendor", "-e"),
                (1, "tftp_name", "-h"),
                (1, "tftp_address", "--help")):
            with self.subTest(text=text, transport=transport):
                value = vendor_hex(text) if key == "vendor" else text
                option = {"vendor": 43, "www": 72, "tftp_address": 150, "tftp_name": 66}[key]
                run = self.check_once(lease(**{key: value}), autoprov_use_tftp=transport)
                self.assertEqual(run.messages(), [
                    IDLE, "Cfgwatch: Found server in option %d: %s" % (option, text),
                    LOOKING % (MAC_FILE, text), INVALID_SERVER,
                    LOOKING % (DEFAULT_FILE, text), INVALID_SERVER])
                self.assertEqual(run.new, {})
                # Nothing ran, so the start-up output is all there is.
                self.assertEqual(run.stderr_lines(), [m.rstrip("\n") for m in run.messages()])

    def test_configured_server_that_looks_like_an_option_is_refused(self):
        run = self.check_once(autoprov_server="--execute=x", autoprov_file="prov.xml")
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % ("prov.xml", "--execute=x"), INVALID_SERVER,
            MAIN_FILE_NOT_DOWNLOADED])


if __name__ == "__main__":
    unittest.main()
