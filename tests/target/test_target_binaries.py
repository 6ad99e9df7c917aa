"""The programs of a cross build as the device gets them: 32-bit ARM with the
hard-float ABI, the C library and the two platform libraries as their only
run-time dependencies, the XML library (and nothing of the daemon's own)
exported from cfgwatch, and an installation that runs from its prefix.

Paths come from CTest (see CMakeLists.txt). The target's readelf and nm read
the files; running them needs the kernel to hand ARM programs to qemu-arm."""

import os
import re
import struct
import subprocess
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir))
import elf_facts  # noqa: E402

EM_ARM = 40
EF_ARM_ABI_FLOAT_HARD = 0x400
TARGET_LOADER = "/lib/ld-linux-armhf.so.3"

ALLOWED_LIBRARIES = {
    "cfgwatch": {"libc.so.6", "libsettingsdb.so", "libsysbus.so"},
    "cfgprobe": {"libc.so.6", "libsettingsdb.so"},
}


def elf_header(path):
    with open(path, "rb") as f:
        head = f.read(52)
    if head[:4] != b"\x7fELF":
        raise AssertionError("%s is not an ELF file" % path)
    elf_class, data = head[4], head[5]
    machine = struct.unpack_from("<H", head, 18)[0]
    flags = struct.unpack_from("<I", head, 36)[0]
    return elf_class, data, machine, flags


def needed(path):
    return elf_facts.needed_libraries(os.environ["READELF"], path)


def interpreter(path):
    out = subprocess.run([os.environ["READELF"], "-l", path], capture_output=True, text=True,
                         check=True).stdout
    found = re.search(r"Requesting program interpreter: ([^\]]+)\]", out)
    return found.group(1) if found else None


def defined_dynamic_symbols(path):
    out = subprocess.run([os.environ["NM"], "-D", "--defined-only", path], capture_output=True,
                         text=True, check=True).stdout
    return [line.split()[-1] for line in out.splitlines() if line.split()]


def belongs_to_c_runtime(symbol):
    """Copies of C library data (versioned GLIBC_*) and names reserved to the
    implementation; mangled C++ names never count as such."""
    if "@" in symbol:
        return symbol.split("@", 1)[1].lstrip("@").startswith("GLIBC_")
    if symbol.startswith(("_Z", "__cxa", "__gxx", "__cxx")):
        return False
    return re.match(r"^_[A-Z_]", symbol) is not None


def runs_transparently(path):
    try:
        subprocess.run([path], capture_output=True, timeout=60,
                       env={"SETTINGSDB_FILE": "/nonexistent/settings"})
    except OSError:
        return False
    return True


class Architecture(unittest.TestCase):
    def test_programs_and_libraries_are_32_bit_arm_hard_float(self):
        for variable in ("CFGWATCH", "CFGPROBE", "SETTINGSDB_LIBRARY", "SYSBUS_LIBRARY"):
            path = os.environ[variable]
            with self.subTest(path=path):
                elf_class, data, machine, flags = elf_header(path)
                self.assertEqual(elf_class, 1, "not 32-bit")
                self.assertEqual(data, 1, "not little-endian")
                self.assertEqual(machine, EM_ARM)
                self.assertEqual(flags >> 24, 5, "not EABI version 5")
                self.assertTrue(flags & EF_ARM_ABI_FLOAT_HARD, "not the hard-float ABI")

    def test_programs_ask_for_the_device_loader(self):
        for variable in ("CFGWATCH", "CFGPROBE"):
            self.assertEqual(interpreter(os.environ[variable]), TARGET_LOADER)


class Dependencies(unittest.TestCase):
    def test_only_the_c_library_and_the_platform_libraries(self):
        for name, variable in (("cfgwatch", "CFGWATCH"), ("cfgprobe", "CFGPROBE")):
            with self.subTest(name=name):
                libraries = needed(os.environ[variable])
                self.assertEqual(set(libraries), ALLOWED_LIBRARIES[name])

    def test_platform_libraries_need_no_cxx_runtime(self):
        for variable in ("SETTINGSDB_LIBRARY", "SYSBUS_LIBRARY"):
            for library in needed(os.environ[variable]):
                self.assertFalse(library.startswith(("libstdc++", "libgcc_s")), library)


class Exports(unittest.TestCase):
    def test_header_parsing_finds_the_library(self):
        functions = elf_facts.header_functions(os.environ["SOURCE_DIR"])
        self.assertIn("ezxml_parse_file", functions)
        self.assertGreaterEqual(len(functions), 30)

    def test_daemon_exports_exactly_the_library(self):
        symbols = defined_dynamic_symbols(os.environ["CFGWATCH"])
        expected = elf_facts.header_functions(os.environ["SOURCE_DIR"]) | {"EZXML_NIL"}
        self.assertEqual(expected - set(symbols), set(), "not exported")
        foreign = [s for s in symbols if s not in expected and not belongs_to_c_runtime(s)]
        self.assertEqual(foreign, [], "exported but not part of the XML library")

    def test_runtime_symbol_rule_on_this_abi(self):
        # The ARM C library versions its data GLIBC_2.4, not GLIBC_2.2.5.
        self.assertTrue(belongs_to_c_runtime("stdout@GLIBC_2.4"))
        self.assertFalse(belongs_to_c_runtime("fetch_file"))
        self.assertFalse(belongs_to_c_runtime("_Z10fetch_fileP5nvcfgPKcS2_"))


class Installed(unittest.TestCase):
    def setUp(self):
        if not runs_transparently(os.environ["CFGPROBE"]):
            self.skipTest("this kernel cannot start ARM programs (no binfmt_misc entry)")

    def test_installed_programs_run_from_the_prefix(self):
        with tempfile.TemporaryDirectory(prefix="target-install-") as prefix:
            installed = subprocess.run(
                [os.environ["CMAKE_COMMAND"], "--install", os.environ["BUILD_DIR"], "--prefix",
                 prefix], capture_output=True, text=True, timeout=120)
            self.assertEqual(installed.returncode, 0, installed.stdout + installed.stderr)
            bin_dir = os.path.join(prefix, "bin")
            record = os.path.join(prefix, "nvcfg.bin")
            env = {"PATH": "/usr/bin:/bin", "SETTINGSDB_FILE": record}

            # The target's own loader says where the library comes from.
            listing = subprocess.run([TARGET_LOADER, "--list", os.path.join(bin_dir, "cfgprobe")],
                                     capture_output=True, text=True, env=env, timeout=60)
            self.assertEqual(listing.returncode, 0, listing.stderr)
            self.assertIn(os.path.join(prefix, "bin", "..", "lib", "libsettingsdb.so"),
                          listing.stdout)

            missing = subprocess.run([os.path.join(bin_dir, "cfgprobe")], capture_output=True,
                                     text=True, env=env, timeout=60)
            self.assertEqual(missing.returncode, 255)
            self.assertEqual(missing.stdout,
                             "!!Unable to access non-volatile configuration!! exiting.\n")

            subprocess.run([os.path.join(bin_dir, "settingsdb"), "create"], env=env, check=True,
                           timeout=60)
            subprocess.run([os.path.join(bin_dir, "settingsdb"), "set", "enable_sip_mcast", "200"],
                           env=env, check=True, timeout=60)
            self.assertEqual(os.path.getsize(record), 23864)
            probe = subprocess.run([os.path.join(bin_dir, "cfgprobe")], capture_output=True,
                                   text=True, env=env, timeout=60)
            self.assertEqual(probe.returncode, 0, probe.stderr)
            # The byte at 23857, read through the target's struct, and the
            # record size as the target's compiler lays it out.
            self.assertEqual(probe.stdout,
                             "enable_sip_mcast = 200\nenable_sip_mcast = 55\n"
                             "sizeof nvcfg = 23864\n")


if __name__ == "__main__":
    unittest.main()
