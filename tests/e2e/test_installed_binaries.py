"""What the installation puts on the device: run-time dependencies of the two
programs and the daemon's exported symbols."""

import os
import re
import subprocess
import sys
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir))
import elf_facts  # noqa: E402

import harness

ALLOWED_LIBRARIES = {
    "cfgwatch": {"libc.so.6", "libsettingsdb.so", "libsysbus.so"},
    "cfgprobe": {"libc.so.6", "libsettingsdb.so"},
}
# A sanitizer build links the sanitizer run-times as well.
SANITIZER_LIBRARY = re.compile(r"^lib(asan|ubsan)\.so(\.\d+)*$")


def needed(path):
    return elf_facts.needed_libraries("readelf", path)


def defined_dynamic_symbols(path):
    out = subprocess.run(["nm", "-D", "--defined-only", path], capture_output=True,
                         text=True, check=True).stdout
    symbols = []
    for line in out.splitlines():
        fields = line.split()
        if fields:
            symbols.append(fields[-1])
    return symbols


def belongs_to_c_runtime(symbol):
    """Symbols that an executable defines for the C library, not for itself:
    copies of C library data (they carry the library's symbol version) and the
    names that C reserves for the implementation. Mangled C++ names and the
    C++ run-time's own entry points never count as such."""
    if "@" in symbol:
        return symbol.split("@", 1)[1].lstrip("@").startswith("GLIBC_")
    if symbol.startswith(("_Z", "__cxa", "__gxx", "__cxx")):
        return False
    return re.match(r"^_[A-Z_]", symbol) is not None


class InstalledBinariesTest(unittest.TestCase):
    def setUp(self):
        harness.check_environment(self)

    def assertOnlyAllowedLibraries(self, name):
        libraries = needed(harness.program(name))
        self.assertIn("libc.so.6", libraries)
        for library in libraries:
            self.assertFalse(library.startswith(("libstdc++", "libgcc_s")),
                             "%s needs %s at run time" % (name, library))
            if harness.SANITIZED and SANITIZER_LIBRARY.match(library):
                continue
            self.assertIn(library, ALLOWED_LIBRARIES[name],
                          "%s needs %s at run time" % (name, library))

    def test_daemon_needs_only_c_library_and_platform_libraries(self):
        self.assertOnlyAllowedLibraries("cfgwatch")
        libraries = needed(harness.program("cfgwatch"))
        self.assertIn("libsettingsdb.so", libraries)
        self.assertIn("libsysbus.so", libraries)

    def test_probe_needs_only_c_library_and_settings_library(self):
        self.assertOnlyAllowedLibraries("cfgprobe")
        self.assertIn("libsettingsdb.so", needed(harness.program("cfgprobe")))

    def test_platform_libraries_are_installed_beside_the_programs(self):
        for library in ("libsettingsdb.so", "libsysbus.so"):
            found = [d for d in ("lib", "lib64", "lib/x86_64-linux-gnu")
                     if os.path.exists(os.path.join(harness.PREFIX, d, library))]
            self.assertTrue(found, "%s not installed" % library)
        for tool in ("settingsdb", "minimumTFTP.py", "cfgwatch", "cfgprobe"):
            self.assertTrue(os.access(harness.program(tool), os.X_OK), tool)

    def test_header_lists_the_library_functions(self):
        # Guards the header parsing below against silently finding nothing.
        functions = elf_facts.header_functions(os.environ["E2E_SOURCE_DIR"])
        for known in ("ezxml_parse_file", "ezxml_get", "ezxml_free", "ezxml_toxml",
                      "ezxml_tag_list", "ezxml_err"):
            self.assertIn(known, functions)
        self.assertGreaterEqual(len(functions), 30)

    def test_daemon_exports_exactly_the_library(self):
        symbols = defined_dynamic_symbols(harness.program("cfgwatch"))
        expected = elf_facts.header_functions(os.environ["E2E_SOURCE_DIR"]) | {"EZXML_NIL"}
        missing = expected - set(symbols)
        self.assertEqual(missing, set(), "not exported")
        foreign = [s for s in symbols if s not in expected and not belongs_to_c_runtime(s)]
        self.assertEqual(foreign, [], "exported but not part of the XML library")

    def test_runtime_symbol_rule(self):
        self.assertTrue(belongs_to_c_runtime("_IO_stdin_used"))
        self.assertTrue(belongs_to_c_runtime("stderr@GLIBC_2.2.5"))
        self.assertTrue(belongs_to_c_runtime("stdout@@GLIBC_2.2.5"))
        self.assertFalse(belongs_to_c_runtime("_Z10fetch_fileP5nvcfgPKcS2_"))
        self.assertFalse(belongs_to_c_runtime("fetch_file"))
        self.assertFalse(belongs_to_c_runtime("__cxa_pure_virtual"))
        self.assertFalse(belongs_to_c_runtime("ezxml_private_helper"))


if __name__ == "__main__":
    unittest.main()
