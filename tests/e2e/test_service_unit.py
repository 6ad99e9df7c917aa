"""The systemd unit installed with cfgwatch: where it lands, that systemd
accepts it, that it starts the installed program once the network is up, and
that its restart policy fits how the program really ends."""

import configparser
import os
import shutil
import subprocess
import unittest

import harness

UNIT = "cfgwatch.service"


def read_unit(path):
    parser = configparser.ConfigParser(strict=False, interpolation=None,
                                       comment_prefixes=("#", ";"))
    parser.optionxform = str
    with open(path) as f:
        parser.read_file(f)
    return parser


def parse_size(text):
    units = {"K": 1 << 10, "M": 1 << 20, "G": 1 << 30}
    if text[-1] in units:
        return int(text[:-1]) * units[text[-1]]
    return int(text)


class ServiceUnitTest(unittest.TestCase):
    def setUp(self):
        harness.check_environment(self)
        self.path = os.path.join(harness.PREFIX, "lib", "systemd", "system", UNIT)
        self.assertTrue(os.path.isfile(self.path), "%s is not installed" % self.path)
        self.unit = read_unit(self.path)

    def test_systemd_accepts_the_unit_without_a_warning(self):
        analyze = shutil.which("systemd-analyze")
        if analyze is None:
            self.skipTest("systemd-analyze is not installed")
        checked = subprocess.run([analyze, "verify", "--man=no", self.path],
                                 capture_output=True, text=True, timeout=60)
        # verify succeeds even on keys it ignores; every complaint counts.
        self.assertEqual((checked.returncode, checked.stdout, checked.stderr), (0, "", ""))

    def test_starts_the_installed_program_without_arguments(self):
        self.assertEqual(self.unit["Service"]["ExecStart"], harness.program("cfgwatch"))
        self.assertTrue(os.access(self.unit["Service"]["ExecStart"], os.X_OK))
        self.assertEqual(self.unit["Install"]["WantedBy"], "multi-user.target")

    def test_starts_once_the_network_is_up(self):
        for key in ("Wants", "After"):
            self.assertIn("network-online.target", self.unit["Unit"][key].split())

    def test_restarts_a_death_but_not_an_end_at_start_up(self):
        service = self.unit["Service"]
        self.assertEqual(service["Restart"], "always")
        # The program's own end at start-up: settings that cannot be read.
        ended = subprocess.run(
            [service["ExecStart"]],
            env={"PATH": "/usr/bin:/bin",
                 "SETTINGSDB_FILE": os.path.join(harness.WORK_DIR, "no-such-record")},
            capture_output=True, text=True, timeout=60)
        self.assertEqual(ended.returncode, 0, ended)
        self.assertIn(str(ended.returncode), service["RestartPreventExitStatus"].split())
        # A pause between restarts keeps a program that dies at once from
        # spinning.
        self.assertGreaterEqual(int(service["RestartSec"]), 1)

    def test_confinement_leaves_the_shared_tmp_writable(self):
        service = self.unit["Service"]
        # /tmp/idle, /tmp/old and /tmp/new are shared with the rest of the
        # device: a private /tmp would hide them.
        self.assertNotIn("PrivateTmp", service)
        self.assertEqual(service["ProtectSystem"], "strict")
        self.assertIn("/tmp", service["ReadWritePaths"].split())

    def test_limits_leave_room_for_the_largest_download(self):
        service = self.unit["Service"]
        mib = 1024 * 1024
        # The daemon lowers the file-size limit to 8 MiB for each downloader,
        # never above the limit it was given itself.
        self.assertGreater(parse_size(service["LimitFSIZE"]), 8 * mib)
        # A parse under 32 MiB, a downloader, and when /tmp is RAM up to 21
        # downloads of 8 MiB in /tmp/new, counted against the service.
        self.assertGreaterEqual(parse_size(service["MemoryMax"]), 32 * mib + 21 * 8 * mib)

    def test_each_confining_line_says_why(self):
        with open(self.path) as f:
            lines = f.read().split("\n")
        start = lines.index("RestartSec=15") + 1
        end = lines.index("[Install]")
        directives = [i for i in range(start, end) if lines[i] and not lines[i].startswith("#")]
        self.assertGreater(len(directives), 20)
        for i in directives:
            self.assertTrue(lines[i - 1].startswith("# "), lines[i])
            self.assertLessEqual(len(lines[i - 1]), 120, lines[i - 1])


if __name__ == "__main__":
    unittest.main()
