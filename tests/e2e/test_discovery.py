"""Which servers a check asks: the configured one, or those of DHCP options
43, 72, 150 and 66 in the networkd lease, each in its own pass."""

import unittest

import harness
from harness import DaemonTest, MAC, MAC_FILE, DEFAULT_FILE, lease, vendor_hex
from servers import HttpServer
from messages import (FOUND_SERVER_IN_OPTION as FOUND, LOOKING_FOR_MAIN_FILE as LOOKING,
                      IDLE_TEN_MINUTES as IDLE, NO_CHANGES_FOUND, WGET_CALL_FAILED)

CONTENT = b"<config><MiscSettings/></config>\n"
SETTINGS = {"autoprov_idle_minutes": 10, "mac_address": MAC}


def address(server):
    return server.url[len("http://"):]


class DiscoveryTest(DaemonTest):
    def check_once(self, lease_text, record=None):
        settings = dict(SETTINGS)
        settings.update(record or {})
        run = self.run_daemon(record=settings, lease=lease_text, old={MAC_FILE: CONTENT},
                              idle=True, ticks=1)
        self.assertLoopRan(run, 1)
        self.assertEqual(run.messages()[0], IDLE)
        return run

    def test_configured_server_wins_over_the_lease(self):
        with HttpServer({MAC_FILE: CONTENT}) as configured, \
                HttpServer({MAC_FILE: CONTENT}) as announced:
            text = lease(vendor=vendor_hex(announced.url + "/"), www=address(announced),
                         tftp_address=address(announced), tftp_name=address(announced))
            run = self.check_once(text, {"autoprov_server": configured.url})
        self.assertEqual(run.messages(), [
            IDLE, LOOKING % (MAC_FILE, configured.url), NO_CHANGES_FOUND])
        self.assertEqual(configured.paths(), ["/" + MAC_FILE])
        self.assertEqual(announced.paths(), [])
        self.assertEqual(run.lease_calls, [], "the lease was looked at")

    def test_option_43_url_from_hexadecimal(self):
        with HttpServer({MAC_FILE: CONTENT}) as server:
            url = server.url + "/"
            run = self.check_once(lease(vendor=vendor_hex(url)))
        # The sub-option type and the length byte are not printable and vanish.
        self.assertEqual(run.messages(), [
            IDLE, FOUND % (43, url), LOOKING % (MAC_FILE, url), NO_CHANGES_FOUND])
        # wget folds the URL's own slash and the one the daemon adds.
        self.assertEqual(server.paths(), ["/" + MAC_FILE])

    def test_option_43_upper_case_digits(self):
        with HttpServer({MAC_FILE: CONTENT}) as server:
            run = self.check_once(lease(vendor=vendor_hex(server.url, upper=True)))
        self.assertEqual(run.messages()[1], FOUND % (43, server.url))
        self.assertEqual(server.paths(), ["/" + MAC_FILE])

    def test_option_43_drops_unprintable_bytes_and_keeps_printable_ones(self):
        with HttpServer({MAC_FILE: CONTENT}) as server:
            host, port = address(server).split(":")
            # A length byte 0x68 is the printable 'h' and stays; the 0x02 and
            # 0x1f between the parts are not printable and drop out.
            value = ("01" + "68" + "ttp://".encode().hex() + "1f" + host.encode().hex() + "02" +
                     (":" + port).encode().hex())
            run = self.check_once(lease(vendor=value))
        self.assertEqual(run.messages()[1], FOUND % (43, server.url))
        self.assertEqual(server.paths(), ["/" + MAC_FILE])

    def test_option_72_first_address_only(self):
        with HttpServer({MAC_FILE: CONTENT}) as server:
            run = self.check_once(lease(www=address(server) + " 127.0.0.1:9"))
        self.assertEqual(run.messages(), [
            IDLE, FOUND % (72, address(server)), LOOKING % (MAC_FILE, address(server)),
            NO_CHANGES_FOUND])
        self.assertEqual(server.paths(), ["/" + MAC_FILE])

    def test_option_150(self):
        with HttpServer({MAC_FILE: CONTENT}) as server:
            run = self.check_once(lease(tftp_address=address(server) + " 127.0.0.1:9"))
        self.assertEqual(run.messages()[1:3], [
            FOUND % (150, address(server)), LOOKING % (MAC_FILE, address(server))])
        self.assertEqual(server.paths(), ["/" + MAC_FILE])

    def test_option_66(self):
        with HttpServer({MAC_FILE: CONTENT}) as server:
            run = self.check_once(lease(tftp_name=address(server)))
        self.assertEqual(run.messages()[1:3], [
            FOUND % (66, address(server)), LOOKING % (MAC_FILE, address(server))])
        self.assertEqual(server.paths(), ["/" + MAC_FILE])

    def test_all_four_options_one_pass_each_in_order(self):
        with HttpServer({MAC_FILE: CONTENT}) as s43, HttpServer({MAC_FILE: CONTENT}) as s72, \
                HttpServer({MAC_FILE: CONTENT}) as s150, HttpServer({MAC_FILE: CONTENT}) as s66:
            # Key order in the file does not matter; the option order does.
            text = lease(tftp_name=address(s66), www=address(s72), vendor=vendor_hex(s43.url),
                         tftp_address=address(s150))
            run = self.check_once(text)
        expected = [IDLE]
        for option, server in ((43, s43.url), (72, address(s72)), (150, address(s150)),
                               (66, address(s66))):
            expected += [FOUND % (option, server), LOOKING % (MAC_FILE, server),
                         NO_CHANGES_FOUND]
        self.assertEqual(run.messages(), expected)
        for server in (s43, s72, s150, s66):
            self.assertEqual(server.paths(), ["/" + MAC_FILE])
        # Each option is looked for in a fresh reading of the lease.
        opened = [call for _, call, path in run.lease_calls
                  if path == harness.LEASE_FILE and call in ("fopen", "open")]
        self.assertEqual(len(opened), 4, run.lease_calls)

    def test_key_after_other_text_on_the_line(self):
        with HttpServer({MAC_FILE: CONTENT}) as server:
            run = self.check_once(lease(extra="OLD_TFTP_SERVER_NAME=%s\n" % address(server)))
        self.assertEqual(run.messages()[1], FOUND % (66, address(server)))
        self.assertEqual(server.paths(), ["/" + MAC_FILE])

    def test_empty_value_still_runs_a_pass(self):
        run = self.check_once(lease(tftp_name=""))
        self.assertEqual(run.messages(), [
            IDLE, FOUND % (66, ""),
            LOOKING % (MAC_FILE, ""), WGET_CALL_FAILED,
            LOOKING % (DEFAULT_FILE, ""), WGET_CALL_FAILED])

    def test_no_lease_no_pass(self):
        run = self.check_once(None)
        self.assertEqual(run.messages(), [IDLE])
        self.assertFalse(run.new_dir_exists)
        # Each option's scan looks for the lease, and none tries to read it.
        self.assertEqual([(call, path) for _, call, path in run.lease_calls],
                         [("access", harness.LEASE_FILE)] * 4)

    def test_lease_without_server_keys_no_pass(self):
        run = self.check_once(lease())
        self.assertEqual(run.messages(), [IDLE])


if __name__ == "__main__":
    unittest.main()
