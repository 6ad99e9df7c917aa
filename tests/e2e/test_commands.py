"""The programs a check starts, with exactly the arguments of the device's
command lines: wget or the TFTP client for each file, rm for the idle marker
once the check is over. The download directory is made by the daemon itself,
so that it can be sure whose it is."""

import unittest

import harness
from harness import DaemonTest, MAC, MAC_FILE, DEFAULT_FILE
from servers import HttpServer, TftpServer

CONTENT = b"<config><MiscSettings/></config>\n"
WGET = ["wget", "-q", "-T", "10", "--no-check-certificate", "--tries=1"]
RM_IDLE = (["rm", "/tmp/idle"], "exit 0")


class CommandLineTest(DaemonTest):
    def check_once(self, old=None, new=None, **record):
        settings = {"autoprov_idle_minutes": 10, "mac_address": MAC}
        settings.update(record)
        run = self.run_daemon(record=settings, old=old, new=new, idle=True, ticks=1)
        self.assertLoopRan(run, 1)
        return run

    def test_http_without_credentials(self):
        with HttpServer({MAC_FILE: CONTENT}) as server:
            run = self.check_once(old={MAC_FILE: CONTENT}, autoprov_server=server.url,
                                  autoprov_http_password="unused")
        self.assertEqual(run.programs(), [
            (WGET + ["%s/%s" % (server.url, MAC_FILE), "-O", "/tmp/new/" + MAC_FILE], "exit 0"),
            RM_IDLE])

    def test_http_with_credentials_and_fallback(self):
        with HttpServer({DEFAULT_FILE: CONTENT}, user="phone", password="pa ss") as server:
            run = self.check_once(old={DEFAULT_FILE: CONTENT}, autoprov_server=server.url,
                                  autoprov_http_user="phone", autoprov_http_password="pa ss")
        # The credentials come from a start-up file that wget reads from a
        # descriptor the daemon hands down, never from the argument list;
        # with them, no redirection is followed.
        programs = run.programs()
        self.assertEqual(len(programs), 3, programs)
        self.assertEqual(programs[2], RM_IDLE)
        for (argv, ended), name, status in ((programs[0], MAC_FILE, "exit 8"),
                                            (programs[1], DEFAULT_FILE, "exit 0")):
            self.assertEqual(ended, status)
            self.assertEqual(argv[:len(WGET)], WGET)
            self.assertRegex(argv[len(WGET)], r"^--config=/proc/self/fd/[0-9]+$")
            self.assertEqual(argv[len(WGET) + 1:],
                             ["--max-redirect=0", "%s/%s" % (server.url, name), "-O",
                              "/tmp/new/" + name])
            self.assertFalse(any("pa ss" in word for word in argv), argv)

    def test_http_name_with_directory_keeps_only_its_base_locally(self):
        with HttpServer({"cfg/a.xml": CONTENT}) as server:
            run = self.check_once(old={"a.xml": CONTENT}, autoprov_server=server.url,
                                  autoprov_file="cfg/a.xml")
        self.assertEqual(run.programs()[0], (
            WGET + ["%s/cfg/a.xml" % server.url, "-O", "/tmp/new/a.xml"], "exit 0"))

    def test_tftp(self):
        with TftpServer(self.workspace.sub("tftp")) as server:
            server.put(DEFAULT_FILE, CONTENT)
            run = self.check_once(old={DEFAULT_FILE: CONTENT}, autoprov_use_tftp=1,
                                  autoprov_server=server.address)
        self.assertEqual(run.programs(), [
            (["minimumTFTP.py", "-g", server.address, "/tmp/new", MAC_FILE], "exit 1"),
            (["minimumTFTP.py", "-g", server.address, "/tmp/new", DEFAULT_FILE], "exit 0"),
            RM_IDLE])

    def test_existing_download_directory_is_not_made_again(self):
        with HttpServer({MAC_FILE: CONTENT}) as server:
            run = self.check_once(old={MAC_FILE: CONTENT}, new={},
                                  autoprov_server=server.url)
        self.assertEqual([argv[0] for argv, _ in run.programs()], ["wget", "rm"])

    def test_refused_names_and_servers_start_nothing_but_rm(self):
        run = self.check_once(autoprov_use_tftp=1, autoprov_server="127.0.0.1:9",
                              autoprov_file="cfg/")
        self.assertEqual(run.programs(), [RM_IDLE])
        run = self.check_once(autoprov_server="-x")
        self.assertEqual(run.programs(), [RM_IDLE])


if __name__ == "__main__":
    unittest.main()
