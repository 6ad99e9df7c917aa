"""cfgprobe: its three lines, its one failure, and the stored record never
touched, with the record written by the settings tool."""

import os
import shutil
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir))
import elf_facts  # noqa: E402

CFGPROBE = os.environ.get("CFGPROBE", "")
TOOL = os.environ.get("SETTINGSDB_TOOL", "")
READELF = os.environ.get("READELF", "")
RECORD_SIZE = 23864
FAILURE_LINE = "!!Unable to access non-volatile configuration!! exiting.\n"


def probe_output(value):
    return "enable_sip_mcast = %d\nenable_sip_mcast = %d\nsizeof nvcfg = 23864\n" % (
        value, 255 - value)


class ProbeCase(unittest.TestCase):
    def setUp(self):
        for name, path in (("CFGPROBE", CFGPROBE), ("SETTINGSDB_TOOL", TOOL)):
            self.assertTrue(path and os.access(path, os.X_OK), "%s not set: %r" % (name, path))
        self.dir = tempfile.mkdtemp(prefix="cfgprobe-")
        self.path = os.path.join(self.dir, "nvcfg.bin")
        self.env = dict(os.environ, SETTINGSDB_FILE=self.path)

    def tearDown(self):
        shutil.rmtree(self.dir)

    def tool(self, *args):
        subprocess.run([TOOL, *args], env=self.env, check=True, timeout=30)

    def probe(self, *args, program=None):
        return subprocess.run([program or CFGPROBE, *args], env=self.env, capture_output=True,
                              text=True, timeout=30)

    def raw(self):
        with open(self.path, "rb") as f:
            return f.read()


class Output(ProbeCase):
    def setUp(self):
        super().setUp()
        self.tool("create")

    def test_zero(self):
        result = self.probe()
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout, probe_output(0))
        self.assertEqual(result.stdout.splitlines()[1], "enable_sip_mcast = 255")
        self.assertEqual(result.stderr, "")

    def test_one(self):
        self.tool("set", "enable_sip_mcast", "1")
        result = self.probe()
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout, probe_output(1))
        self.assertEqual(result.stdout.splitlines()[1], "enable_sip_mcast = 254")

    def test_every_value_reads_unsigned(self):
        for value in (127, 128, 200, 255):
            with self.subTest(value=value):
                self.tool("set", "enable_sip_mcast", str(value))
                result = self.probe()
                self.assertEqual(result.returncode, 0)
                self.assertEqual(result.stdout, probe_output(value))

    def test_other_fields_do_not_matter(self):
        self.tool("set", "enable_sip_mcast", "3", "autoprov_server", "127.0.0.1",
                  "autoprov_period", "4294967295", "mac_address", "ff:ff:ff:ff:ff:ff")
        self.assertEqual(self.probe().stdout, probe_output(3))

    def test_arguments_are_ignored(self):
        self.tool("set", "enable_sip_mcast", "9")
        result = self.probe("--help", "-x", "anything")
        self.assertEqual(result.returncode, 0)
        self.assertEqual(result.stdout, probe_output(9))


class Failure(ProbeCase):
    def assert_failure(self):
        result = self.probe()
        self.assertEqual(result.returncode, 255)
        self.assertEqual(result.stdout, FAILURE_LINE)
        self.assertEqual(result.stderr, "")

    def test_missing_record(self):
        self.assert_failure()

    def test_short_and_long_records(self):
        for size in (0, RECORD_SIZE - 1, RECORD_SIZE + 1):
            with self.subTest(size=size):
                with open(self.path, "wb") as f:
                    f.write(bytes(size))
                self.assert_failure()

    def test_directory_in_place_of_the_record(self):
        os.mkdir(self.path)
        self.assert_failure()


class StoredRecord(ProbeCase):
    def test_many_runs_leave_the_record_byte_identical(self):
        self.tool("create")
        self.tool("set", "enable_sip_mcast", "1", "autoprov_server", "127.0.0.1",
                  "mac_address", "00:1a:2b:3c:4d:5e")
        before = self.raw()
        status = os.stat(self.path)
        for _ in range(5):
            self.assertEqual(self.probe().stdout, probe_output(1))
        self.assertEqual(self.raw(), before)
        after = os.stat(self.path)
        self.assertEqual((after.st_ino, after.st_mtime_ns), (status.st_ino, status.st_mtime_ns))
        self.assertEqual(os.listdir(self.dir), ["nvcfg.bin"])


class Dependencies(unittest.TestCase):
    def test_needs_only_the_c_library_and_the_settings_library(self):
        self.assertTrue(READELF and os.access(READELF, os.X_OK), "readelf not found")
        needed = elf_facts.needed_libraries(READELF, CFGPROBE)
        self.assertIn("libsettingsdb.so", needed)
        self.assertIn("libc.so.6", needed)
        for name in needed:
            self.assertFalse(name.startswith(("libstdc++", "libgcc_s")), needed)
            self.assertNotIn("sysbus", name, "the probe has no use for the IPC library")


class Installed(ProbeCase):
    def test_installed_programs_run_from_the_prefix(self):
        prefix = os.path.join(self.dir, "prefix")
        # The whole tree must be built first, as for any install.
        installed = subprocess.run([os.environ["CMAKE_COMMAND"], "--install",
                                    os.environ["BUILD_DIR"], "--prefix", prefix],
                                   capture_output=True, text=True, timeout=120)
        self.assertEqual(installed.returncode, 0, installed.stdout + installed.stderr)
        bin_dir = os.path.join(prefix, "bin")
        for name in ("cfgprobe", "settingsdb", "minimumTFTP.py"):
            self.assertTrue(os.access(os.path.join(bin_dir, name), os.X_OK), name)
        libs = os.listdir(os.path.join(prefix, "lib"))
        self.assertIn("libsettingsdb.so", libs)
        self.assertIn("libsysbus.so", libs)

        # The build tree may vanish; the installed copies must stand alone.
        env = dict(self.env, LD_LIBRARY_PATH="")
        subprocess.run([os.path.join(bin_dir, "settingsdb"), "create"], env=env, check=True)
        subprocess.run([os.path.join(bin_dir, "settingsdb"), "set", "enable_sip_mcast", "1"],
                       env=env, check=True)
        result = subprocess.run([os.path.join(bin_dir, "cfgprobe")], env=env,
                                capture_output=True, text=True, timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stdout, probe_output(1))
        ldd = subprocess.run(["ldd", os.path.join(bin_dir, "cfgprobe")], capture_output=True,
                             text=True).stdout
        self.assertIn(os.path.join(prefix, "bin", "..", "lib", "libsettingsdb.so"), ldd)
        usage = subprocess.run([os.path.join(bin_dir, "minimumTFTP.py")], capture_output=True,
                               text=True)
        self.assertEqual(usage.returncode, 2)
        self.assertIn("usage: minimumTFTP.py", usage.stderr)


if __name__ == "__main__":
    unittest.main()
