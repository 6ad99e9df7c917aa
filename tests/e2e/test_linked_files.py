"""The files that a provisioning file lists in the AutoprovFile elements of its
MiscSettings: fetched over TFTP and HTTP by the installed cfgwatch, compared
with their applied copies and parsed, in the three naming modes.

For whoever adds a case: the cases here repeat, one for one, what
tests/daemon/linked_files_test.cpp already holds, and they stay. New cases do
not: an end-to-end test shows the wiring (the installed program, the real
downloaders and servers, the log and the reset request as the device sees
them); the rules of the walk (names, limits, order, what ends it) belong to
the unit tests, which show each rule faster and point at the step that broke
it."""

import unittest

import harness
from harness import DaemonTest, MAC, MAC_FILE, DEFAULT_FILE, RESET_LINE
from servers import HttpServer, TftpServer
from messages import (LOOKING_FOR_MAIN_FILE as LOOKING_MAIN, LOOKING_FOR_LISTED_FILE as LOOKING,
                      LISTED_FILE_NOT_FOUND as NOT_FOUND, IDLE_TEN_MINUTES as IDLE, TIMER_FIRED,
                      NO_CHANGES_FOUND as UNCHANGED, FILE_IS_DIFFERENT as DIFFERENT,
                      FILE_IS_LARGER as LARGER, WGET_CALL_FAILED as WGET_FAILED,
                      TFTP_CALL_FAILED as TFTP_FAILED, INVALID_FILENAME, COULD_NOT_PARSE)

TIMER = TIMER_FIRED % 1
RESET = "<reset>"
MAC_DIGITS = MAC_FILE[:-len(".xml")]


def listing(*names, before=b"", between=b""):
    """A provisioning file whose MiscSettings lists names."""
    entries = between.join(b"<AutoprovFile>%s</AutoprovFile>" % n.encode("latin-1")
                           for n in names)
    return (b"<?xml version=\"1.0\"?>\n<config>" + before + b"<MiscSettings><Volume>5</Volume>" +
            entries + b"</MiscSettings></config>\n")


def sequence(run):
    """Log messages and reset requests, in the order the daemon made them."""
    return [payload if kind == "log" else RESET for _, kind, payload in run.events]


def handled(name, at, verdict=UNCHANGED):
    return [LOOKING % (name, at), verdict]


class LinkedFilesTest(DaemonTest):
    def check_once(self, old=None, **record):
        settings = {"autoprov_idle_minutes": 10, "mac_address": MAC}
        settings.update(record)
        run = self.run_daemon(record=settings, old=old, idle=True, ticks=1)
        self.assertLoopRan(run, 1)
        self.assertEqual(sequence(run)[0], IDLE)
        self.assertOnlyDownloadsWritten(run)
        return run

    def assertOnlyDownloadsWritten(self, run):
        """Nothing under /tmp but the downloads and the applied copies, and
        the applied copies untouched."""
        stray = [path for path in run.tmp_listing
                 if path and path not in (".", "./new", "./old")
                 and not path.startswith(("./new/", "./old/"))]
        self.assertEqual(stray, [])
        self.assertTrue(all("/" not in path[len("./new/"):]
                            for path in run.tmp_listing if path.startswith("./new/")),
                        run.tmp_listing)


class HttpLinkedFilesTest(LinkedFilesTest):
    def test_default_mode_lists_two_files(self):
        main = listing("a.xml", "b.xml")
        files = {MAC_FILE: main, "a.xml": b"<a/>\n", "b.xml": b"<b/>\n"}
        with HttpServer(files) as server:
            run = self.check_once(old=files, autoprov_server=server.url)
        self.assertEqual(sequence(run), [IDLE, LOOKING_MAIN % (MAC_FILE, server.url), UNCHANGED] +
                         handled("a.xml", server.url) + handled("b.xml", server.url))
        self.assertEqual(server.paths(), ["/" + MAC_FILE, "/a.xml", "/b.xml"])
        self.assertEqual(run.new, files)
        self.assertEqual(run.resets(), 0)

    def test_named_file_mode_asks_for_the_text_alone(self):
        main = listing("x.xml", "sub/y.xml")
        served = {"cfg/prov.xml": main, "x.xml": b"<x/>", "sub/y.xml": b"<y/>"}
        old = {"prov.xml": main, "x.xml": b"<x/>", "y.xml": b"<y/>"}
        with HttpServer(served) as server:
            run = self.check_once(old=old, autoprov_server=server.url, autoprov_file="cfg/prov.xml")
        self.assertEqual(sequence(run), [IDLE, LOOKING_MAIN % ("cfg/prov.xml", server.url),
                                         UNCHANGED] +
                         handled("x.xml", server.url) + handled("sub/y.xml", server.url))
        self.assertEqual(server.paths(), ["/cfg/prov.xml", "/x.xml", "/sub/y.xml"])
        self.assertEqual(run.new, old)

    def test_prefix_mode_adds_no_slash(self):
        main = listing("x.xml", "/y.xml", "[macaddress]-phone.xml")
        served = {"cfg//" + DEFAULT_FILE: main, "cfg/x.xml": b"<x/>", "cfg//y.xml": b"<y/>",
                  "cfg/%s-phone.xml" % MAC_DIGITS: b"<p/>"}
        old = {DEFAULT_FILE: main, "x.xml": b"<x/>", "y.xml": b"<y/>",
               MAC_DIGITS + "-phone.xml": b"<p/>"}
        with HttpServer(served) as server:
            run = self.check_once(old=old, autoprov_server=server.url, autoprov_file="cfg/")
        self.assertEqual(sequence(run), [
            IDLE, LOOKING_MAIN % ("cfg//" + MAC_FILE, server.url), WGET_FAILED,
            LOOKING_MAIN % ("cfg//" + DEFAULT_FILE, server.url), UNCHANGED] +
            handled("cfg/x.xml", server.url) + handled("cfg//y.xml", server.url) +
            handled("cfg/%s-phone.xml" % MAC_DIGITS, server.url))
        self.assertEqual(server.paths(), [
            "/cfg//" + MAC_FILE, "/cfg//" + DEFAULT_FILE, "/cfg/x.xml", "/cfg//y.xml",
            "/cfg/%s-phone.xml" % MAC_DIGITS])
        self.assertEqual(run.new, old)

    def test_empty_text_in_prefix_mode_is_refused_and_the_walk_goes_on(self):
        main = listing("", "x.xml")
        served = {"cfg//" + MAC_FILE: main, "cfg/x.xml": b"<x/>"}
        old = {MAC_FILE: main, "x.xml": b"<x/>"}
        with HttpServer(served) as server:
            run = self.check_once(old=old, autoprov_server=server.url, autoprov_file="cfg/")
        self.assertEqual(sequence(run)[3:], [
            LOOKING % ("cfg/", server.url), INVALID_FILENAME, NOT_FOUND % "cfg/"] +
            handled("cfg/x.xml", server.url))
        self.assertEqual(server.paths(), ["/cfg//" + MAC_FILE, "/cfg/x.xml"])

    def test_token_is_replaced_once(self):
        main = listing("[macaddress]-a.xml", "b-[macaddress]-[macaddress].xml", "[MACADDRESS].xml")
        first = MAC_DIGITS + "-a.xml"
        second = "b-%s-[macaddress].xml" % MAC_DIGITS
        files = {MAC_FILE: main, first: b"<a/>", second: b"<b/>",
                 "[MACADDRESS].xml": b"<c/>"}
        with HttpServer(files) as server:
            run = self.check_once(old=files, autoprov_server=server.url)
        self.assertEqual(sequence(run)[3:], handled(first, server.url) +
                         handled(second, server.url) + handled("[MACADDRESS].xml", server.url))
        self.assertEqual(server.paths(), ["/" + MAC_FILE, "/" + first, "/" + second,
                                          "/[MACADDRESS].xml"])
        self.assertEqual(run.new, files)

    def test_twenty_of_twenty_five_entries(self):
        names = ["f%02d.xml" % i for i in range(1, 26)]
        main = listing(*names)
        files = {MAC_FILE: main}
        files.update({name: b"<f/>" for name in names})
        with HttpServer(files) as server:
            run = self.check_once(old=files, autoprov_server=server.url)
        self.assertEqual(server.paths(), ["/" + MAC_FILE] + ["/" + n for n in names[:20]])
        expected = [IDLE, LOOKING_MAIN % (MAC_FILE, server.url), UNCHANGED]
        for name in names[:20]:
            expected += handled(name, server.url)
        self.assertEqual(sequence(run), expected)
        self.assertEqual(sorted(run.new), sorted([MAC_FILE] + names[:20]))

    def test_separated_entries_count_and_a_second_misc_settings_does_not(self):
        main = (b"<config><AutoprovFile>outside.xml</AutoprovFile><MiscSettings>"
                b"<AutoprovFile>a.xml</AutoprovFile><Tone>1</Tone>some text"
                b"<AutoprovFile>b.xml</AutoprovFile><!-- note --><Group><AutoprovFile>"
                b"inner.xml</AutoprovFile></Group><AutoprovFile>c.xml</AutoprovFile>"
                b"</MiscSettings><MiscSettings><AutoprovFile>second.xml</AutoprovFile>"
                b"</MiscSettings></config>")
        files = {MAC_FILE: main}
        files.update({n: b"<x/>" for n in ("outside.xml", "a.xml", "b.xml", "inner.xml",
                                            "c.xml", "second.xml")})
        with HttpServer(files) as server:
            run = self.check_once(old=files, autoprov_server=server.url)
        self.assertEqual(server.paths(), ["/" + MAC_FILE, "/a.xml", "/b.xml", "/c.xml"])
        self.assertEqual(sequence(run)[3:], handled("a.xml", server.url) +
                         handled("b.xml", server.url) + handled("c.xml", server.url))

    def test_missing_file_is_reported_and_the_walk_goes_on(self):
        main = listing("gone.xml", "b.xml")
        files = {MAC_FILE: main, "b.xml": b"<b/>"}
        with HttpServer(files) as server:
            run = self.check_once(old=files, autoprov_server=server.url)
        self.assertEqual(sequence(run)[3:], [
            LOOKING % ("gone.xml", server.url), WGET_FAILED, NOT_FOUND % "gone.xml"] +
            handled("b.xml", server.url))
        self.assertEqual(run.new, files)

    def test_file_that_does_not_parse_is_not_compared(self):
        # A syntax error or no markup at all: the download is no provisioning
        # file, so it does not count as a change.
        main = listing("broken.xml", "text.xml", "b.xml")
        files = {MAC_FILE: main, "broken.xml": b"<a><b></a>", "text.xml": b"plain text\n",
                 "b.xml": b"<b/>"}
        old = dict(files, **{"text.xml": b"older plain text\n"})
        with HttpServer(files) as server:
            run = self.check_once(old=old, autoprov_server=server.url)
        self.assertEqual(sequence(run)[3:], [
            LOOKING % ("broken.xml", server.url), COULD_NOT_PARSE,
            LOOKING % ("text.xml", server.url), COULD_NOT_PARSE] + handled("b.xml", server.url))
        self.assertEqual(run.resets(), 0)

    def test_changed_file_asks_for_reset_before_the_rest_is_handled(self):
        main = listing("a.xml", "b.xml", "c.xml")
        served = {MAC_FILE: main, "a.xml": b"<a/>", "b.xml": b"<b>2</b>", "c.xml": b"<c/>"}
        old = dict(served, **{"b.xml": b"<b>1</b>", "c.xml": b"<c"})
        with HttpServer(served) as server:
            run = self.check_once(old=old, autoprov_server=server.url)
        self.assertEqual(sequence(run)[3:], handled("a.xml", server.url) +
                         handled("b.xml", server.url, DIFFERENT) + [RESET] +
                         handled("c.xml", server.url, LARGER) + [RESET])
        # The host's reset only reports the request; it reaches standard
        # error in the same order.
        self.assertEqual(run.stderr_lines()[-6:], [
            LOOKING % ("b.xml", server.url), DIFFERENT, RESET_LINE,
            LOOKING % ("c.xml", server.url), LARGER, RESET_LINE])

    def test_changed_main_file_still_has_its_list_walked(self):
        main = listing("a.xml")
        with HttpServer({MAC_FILE: main, "a.xml": b"<a/>"}) as server:
            run = self.check_once(old={MAC_FILE: listing(), "a.xml": b"<a/>"},
                                  autoprov_server=server.url)
        self.assertEqual(sequence(run), [IDLE, LOOKING_MAIN % (MAC_FILE, server.url), DIFFERENT,
                                         RESET] + handled("a.xml", server.url))

    def test_main_file_without_a_list_is_only_compared(self):
        for main in (b"<config><Volume>3</Volume></config>",
                     b"<config><Group><MiscSettings><AutoprovFile>a.xml</AutoprovFile>"
                     b"</MiscSettings></Group></config>",
                     # Text before the first tag is skipped: the root is the
                     # AutoprovFile element itself.
                     b"no XML here at all <AutoprovFile>a.xml</AutoprovFile>"):
            with self.subTest(main=main):
                files = {MAC_FILE: main, "a.xml": b"<a/>"}
                with HttpServer(files) as server:
                    run = self.check_once(old=files, autoprov_server=server.url)
                self.assertEqual(sequence(run),
                                 [IDLE, LOOKING_MAIN % (MAC_FILE, server.url), UNCHANGED])
                self.assertEqual(server.paths(), ["/" + MAC_FILE])

    def test_main_file_that_does_not_parse_is_neither_compared_nor_followed(self):
        for main in (listing("a.xml", before=b"<Broken></Wrong>"),
                     listing("a.xml", before=b"<Attr x='1></Attr>"),
                     b"no XML here at all",
                     b""):
            with self.subTest(main=main):
                files = {MAC_FILE: main, "a.xml": b"<a/>"}
                with HttpServer(files) as server:
                    run = self.check_once(old={MAC_FILE: b"<config/>", "a.xml": b"<b/>"},
                                          autoprov_server=server.url)
                self.assertEqual(sequence(run),
                                 [IDLE, LOOKING_MAIN % (MAC_FILE, server.url), COULD_NOT_PARSE])
                self.assertEqual(server.paths(), ["/" + MAC_FILE])

    def test_listed_files_own_lists_are_not_followed(self):
        files = {MAC_FILE: listing("a.xml"), "a.xml": listing("deeper.xml"),
                 "deeper.xml": b"<d/>"}
        with HttpServer(files) as server:
            run = self.check_once(old=files, autoprov_server=server.url)
        self.assertEqual(server.paths(), ["/" + MAC_FILE, "/a.xml"])
        self.assertEqual(sequence(run)[3:], handled("a.xml", server.url))


class TftpLinkedFilesTest(LinkedFilesTest):
    def setUp(self):
        super().setUp()
        self.server = TftpServer(self.workspace.sub("tftp")).start()
        self.addCleanup(self.server.stop)

    def check_tftp(self, old=None, **record):
        return self.check_once(old=old, autoprov_use_tftp=1, autoprov_server=self.server.address,
                               **record)

    def test_default_mode(self):
        main = listing("a.xml", "[macaddress]-line.xml", "missing.xml", "b.xml")
        files = {MAC_FILE: main, "a.xml": b"<a/>", MAC_DIGITS + "-line.xml": b"<l/>",
                 "b.xml": b"<b/>"}
        for name, content in files.items():
            self.server.put(name, content)
        at = self.server.address
        run = self.check_tftp(old=files)
        self.assertEqual(sequence(run), [IDLE, LOOKING_MAIN % (MAC_FILE, at), UNCHANGED] +
                         handled("a.xml", at) + handled(MAC_DIGITS + "-line.xml", at) +
                         [LOOKING % ("missing.xml", at), TFTP_FAILED, NOT_FOUND % "missing.xml"] +
                         handled("b.xml", at))
        self.assertEqual(run.new, files)

    def test_named_file_mode(self):
        main = listing("a.xml", "sub/b.xml", "-O.xml", "../c.xml")
        self.server.put("prov.xml", main)
        self.server.put("a.xml", b"<a>new</a>")
        self.server.put("-O.xml", b"<o/>")
        at = self.server.address
        run = self.check_tftp(old={"prov.xml": main, "a.xml": b"<a>old</a>"},
                              autoprov_file="prov.xml")
        # Over TFTP a listed name is one plain file name: directory parts and
        # a leading '-' are refused before anything runs.
        self.assertEqual(sequence(run), [
            IDLE, LOOKING_MAIN % ("prov.xml", at), UNCHANGED] +
            handled("a.xml", at, DIFFERENT) + [RESET] +
            [LOOKING % ("sub/b.xml", at), INVALID_FILENAME, NOT_FOUND % "sub/b.xml",
             LOOKING % ("-O.xml", at), INVALID_FILENAME, NOT_FOUND % "-O.xml",
             LOOKING % ("../c.xml", at), INVALID_FILENAME, NOT_FOUND % "../c.xml"])
        self.assertEqual(run.new, {"prov.xml": main, "a.xml": b"<a>new</a>"})

    def test_prefix_mode_never_reaches_the_list(self):
        # Both main names hold a '/', which TFTP cannot store.
        self.server.put(MAC_FILE, listing("a.xml"))
        self.server.put("a.xml", b"<a/>")
        at = self.server.address
        run = self.check_tftp(autoprov_file="cfg/")
        self.assertEqual(sequence(run), [
            IDLE, LOOKING_MAIN % ("cfg//" + MAC_FILE, at), INVALID_FILENAME,
            LOOKING_MAIN % ("cfg//" + DEFAULT_FILE, at), INVALID_FILENAME])
        self.assertEqual(run.new, {})


class TypicalRoadTest(DaemonTest):
    """One event from the timer to the reset: the period passes, option 66 of
    the lease names a TFTP server, the MAC-named file is fetched and found
    unchanged, and the phone file that it lists has changed."""

    def test_timer_lease_tftp_compare_parse_and_reset(self):
        with TftpServer(self.workspace.sub("tftp")) as server:
            main = listing("[macaddress]-phone.xml")
            phone = MAC_DIGITS + "-phone.xml"
            server.put(MAC_FILE, main)
            server.put(phone, b"<phone><Ring>2</Ring></phone>\n")
            run = self.run_daemon(
                record={"autoprov_period": 1, "mac_address": MAC, "autoprov_use_tftp": 1},
                lease=harness.lease(tftp_name=server.address),
                old={MAC_FILE: main, phone: b"<phone><Ring>1</Ring></phone>\n"}, ticks=4)
        self.assertLoopRan(run, 4)
        self.assertEqual(sequence(run), [
            TIMER, "Cfgwatch: Found server in option 66: %s" % server.address,
            LOOKING_MAIN % (MAC_FILE, server.address), UNCHANGED,
            LOOKING % (phone, server.address), DIFFERENT, RESET])
        self.assertEqual(run.ticks_with(TIMER), [4])
        self.assertEqual(run.new, {MAC_FILE: main, phone: b"<phone><Ring>2</Ring></phone>\n"})


class HostileListTest(LinkedFilesTest):
    # Each piece would leave a file under /tmp if a shell ever saw it; the
    # name's last component, stored in /tmp/new, is "pwned5.xml".
    SHELL_NAME = ("a;touch${IFS}/tmp/pwned1;$(touch${IFS}/tmp/pwned2)`touch${IFS}/tmp/pwned3`"
                  "|touch /tmp/pwned4>/tmp/pwned5.xml")
    SHELL_BASE = "pwned5.xml"

    def test_names_that_climb_look_like_options_or_carry_shell_text(self):
        names = ["../../up.xml", "..", "sub/", "-O.xml", "--output-document=x.xml",
                 self.SHELL_NAME, "x y\tz.xml"]
        main = listing(*names)
        served = {MAC_FILE: main, "up.xml": b"<u/>", "-O.xml": b"<o/>",
                  "--output-document=x.xml": b"<d/>", self.SHELL_NAME: b"<s/>",
                  "x y\tz.xml": b"<w/>"}
        self.assertTrue(self.SHELL_NAME.endswith("/" + self.SHELL_BASE))
        with HttpServer(served) as server:
            run = self.check_once(old={MAC_FILE: main}, autoprov_server=server.url)
        at = server.url
        absent = "Cfgwatch failed to open /tmp/old/%s..."
        self.assertEqual(sequence(run), [
            IDLE, LOOKING_MAIN % (MAC_FILE, at), UNCHANGED,
            # wget takes the dot segments out of the URL; the download keeps
            # its last component, inside /tmp/new.
            LOOKING % ("../../up.xml", at), absent % "up.xml", RESET,
            LOOKING % ("..", at), INVALID_FILENAME, NOT_FOUND % "..",
            LOOKING % ("sub/", at), INVALID_FILENAME, NOT_FOUND % "sub/",
            LOOKING % ("-O.xml", at), absent % "-O.xml", RESET,
            LOOKING % ("--output-document=x.xml", at), absent % "--output-document=x.xml", RESET,
            LOOKING % (self.SHELL_NAME, at), absent % self.SHELL_BASE, RESET,
            # A control character could start a log line of its own.
            LOOKING % ("x y?z.xml", at), INVALID_FILENAME, NOT_FOUND % "x y?z.xml"])
        self.assertEqual(run.new, {MAC_FILE: main, "up.xml": b"<u/>", "-O.xml": b"<o/>",
                                   "--output-document=x.xml": b"<d/>",
                                   self.SHELL_BASE: b"<s/>"})
        self.assertEqual(len(server.paths()), 5)

    def test_names_longer_than_the_buffers(self):
        too_long = "n" * 600 + ".xml"   # more than a remote name holds
        cut = too_long[:511]
        long_base = "l" * 300 + ".xml"  # more than a download's path holds
        main = listing(too_long, long_base, "b.xml")
        files = {MAC_FILE: main, too_long: b"<n/>", cut: b"<c/>", long_base: b"<l/>",
                 "b.xml": b"<b/>"}
        with HttpServer(files) as server:
            run = self.check_once(old={MAC_FILE: main, "b.xml": b"<b/>"},
                                  autoprov_server=server.url)
        at = server.url
        self.assertEqual(sequence(run), [
            IDLE, LOOKING_MAIN % (MAC_FILE, at), UNCHANGED,
            LOOKING % (cut, at), INVALID_FILENAME, NOT_FOUND % cut,
            LOOKING % (long_base, at), INVALID_FILENAME, NOT_FOUND % long_base] +
            handled("b.xml", at))
        self.assertEqual(server.paths(), ["/" + MAC_FILE, "/b.xml"])

    def test_documents_that_are_not_xml_huge_or_deep(self):
        # Past the download's size cap; a main file just under it still
        # has its list walked.
        huge = b"<config><Pad>" + b"x" * (9 << 20) + b"</Pad></config>"
        many = b"<config>" + b"<e a='1'>t</e>" * 5000 + b"</config>"
        deep = b"<a>" * 100000 + b"</a>" * 100000
        binary = bytes(range(256)) * 64
        names = ["huge.xml", "many.xml", "deep.xml", "binary.xml", "b.xml"]
        main = listing(*names, before=b"<Pad>" + b"y" * ((8 << 20) - 400) + b"</Pad>")
        self.assertLessEqual(len(main), 8 << 20)
        files = {MAC_FILE: main, "huge.xml": huge, "many.xml": many, "deep.xml": deep,
                 "binary.xml": binary, "b.xml": b"<b/>"}
        with HttpServer(files) as server:
            run = self.check_once(old=files, autoprov_server=server.url)
        at = server.url
        self.assertEqual(sequence(run), [
            IDLE, LOOKING_MAIN % (MAC_FILE, at), UNCHANGED,
            LOOKING % ("huge.xml", at), WGET_FAILED, NOT_FOUND % "huge.xml"] +
            handled("many.xml", at) + handled("deep.xml", at) +
            [LOOKING % ("binary.xml", at), COULD_NOT_PARSE] + handled("b.xml", at))
        self.assertEqual(run.new, {name: files[name] for name in files if name != "huge.xml"})


if __name__ == "__main__":
    unittest.main()
