"""The installed cfgprobe against records made by the installed settings tool."""

import os
import subprocess
import unittest

import harness


class ProbeTest(unittest.TestCase):
    def setUp(self):
        harness.check_environment(self)
        self.workspace = harness.Workspace(self)
        self.record = os.path.join(self.workspace.path, "nvcfg.bin")

    def probe(self, *arguments):
        environment = {"PATH": "/usr/bin:/bin", "SETTINGSDB_FILE": self.record}
        if harness.SANITIZED and "ASAN_OPTIONS" in os.environ:
            environment["ASAN_OPTIONS"] = os.environ["ASAN_OPTIONS"]
        return subprocess.run([harness.program("cfgprobe"), *arguments], env=environment,
                              capture_output=True, timeout=60)

    def stored(self):
        with open(self.record, "rb") as f:
            return f.read()

    def test_stored_zero_prints_value_complement_and_size(self):
        harness.make_record(self.record, enable_sip_mcast=0)
        before = self.stored()
        result = self.probe()
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout,
                         b"enable_sip_mcast = 0\nenable_sip_mcast = 255\nsizeof nvcfg = 23864\n")
        self.assertEqual(result.stderr, b"")
        self.assertEqual(self.stored(), before)

    def test_stored_one_prints_254_as_complement(self):
        harness.make_record(self.record, enable_sip_mcast=1)
        result = self.probe()
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout,
                         b"enable_sip_mcast = 1\nenable_sip_mcast = 254\nsizeof nvcfg = 23864\n")

    def test_high_value_is_read_unsigned(self):
        harness.make_record(self.record, enable_sip_mcast=200)
        result = self.probe()
        self.assertEqual(result.stdout,
                         b"enable_sip_mcast = 200\nenable_sip_mcast = 55\nsizeof nvcfg = 23864\n")

    def test_arguments_are_ignored(self):
        harness.make_record(self.record, enable_sip_mcast=1)
        result = self.probe("--help", "-x", "anything")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout,
                         b"enable_sip_mcast = 1\nenable_sip_mcast = 254\nsizeof nvcfg = 23864\n")

    def test_missing_record_prints_one_line_and_exits_255(self):
        result = self.probe()
        self.assertEqual(result.returncode, 255)
        self.assertEqual(result.stdout,
                         b"!!Unable to access non-volatile configuration!! exiting.\n")
        self.assertEqual(result.stderr, b"")
        self.assertFalse(os.path.exists(self.record))

    def test_record_unchanged_after_many_runs(self):
        harness.make_record(self.record, enable_sip_mcast=7, autoprov_period=3,
                            mac_address=harness.MAC)
        before = self.stored()
        for _ in range(5):
            result = self.probe()
            self.assertEqual(result.returncode, 0)
            self.assertEqual(result.stdout,
                             b"enable_sip_mcast = 7\nenable_sip_mcast = 248\nsizeof nvcfg = 23864\n")
        self.assertEqual(self.stored(), before)
        shown = harness.settingsdb(self.record, "get", "enable_sip_mcast")
        self.assertEqual(shown.stdout.strip(), "7")


if __name__ == "__main__":
    unittest.main()
