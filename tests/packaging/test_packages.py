"""The built Debian packages, as apt would install them: the files each one
holds and nothing else, safe modes, the service unit where Debian 12's
systemd helpers enable it, dependencies that the device's own platform
libraries can satisfy, programs without a C++ run time, manual pages that man
reads without a warning, and lintian's verdict.

Run by tools/build-packages once the packages are built:
PACKAGES_DIR holds one directory per architecture, ARCHES names the
architectures to check and PACKAGE_VERSION their version."""

import os
import re
import shutil
import stat
import subprocess
import sys
import tarfile
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), os.pardir))
import elf_facts  # noqa: E402

PACKAGES_DIR = os.environ.get("PACKAGES_DIR", "")
ARCHES = os.environ.get("ARCHES", "").split()
VERSION = os.environ.get("PACKAGE_VERSION", "")

MAIN = "cfgwatch"
HOST = "cfgwatch-host-platform"

# Every file each package holds; directories are checked apart.
def expected_files(package, multiarch):
    doc = "usr/share/doc/%s/" % package
    if package == MAIN:
        files = ["lib/systemd/system/cfgwatch.service", "usr/bin/cfgwatch", "usr/bin/cfgprobe",
                 "usr/share/man/man8/cfgwatch.8.gz", "usr/share/man/man8/cfgprobe.8.gz",
                 "usr/share/lintian/overrides/cfgwatch"]
    else:
        files = ["usr/bin/settingsdb", "usr/bin/minimumTFTP.py",
                 "usr/lib/%s/libsettingsdb.so" % multiarch,
                 "usr/lib/%s/libsysbus.so" % multiarch,
                 "usr/share/man/man8/settingsdb.8.gz",
                 "usr/share/lintian/overrides/cfgwatch-host-platform"]
    return sorted(files + [doc + "changelog.gz", doc + "copyright"])

MULTIARCH = {"amd64": "x86_64-linux-gnu", "armhf": "arm-linux-gnueabihf"}
MACHINE = {"amd64": "Advanced Micro Devices X86-64", "armhf": "ARM"}

# What each program may load: the C library and the platform's libraries.
NEEDED = {
    "usr/bin/cfgwatch": {"libc.so.6", "libsettingsdb.so", "libsysbus.so"},
    "usr/bin/cfgprobe": {"libc.so.6", "libsettingsdb.so"},
    "usr/bin/settingsdb": {"libc.so.6"},
    "usr/lib/{multiarch}/libsettingsdb.so": {"libc.so.6"},
    "usr/lib/{multiarch}/libsysbus.so": {"libc.so.6"},
}


def run(*command, **kwargs):
    return subprocess.run(list(command), capture_output=True, text=True, timeout=300,
                          **kwargs)


def field(deb, name):
    return run("dpkg-deb", "-f", deb, name).stdout.strip()


def relations(text):
    """Package names of a Depends or Provides field, alternatives flattened."""
    names = set()
    for clause in filter(None, (part.strip() for part in text.split(","))):
        for alternative in clause.split("|"):
            names.add(re.match(r"\s*([a-z0-9][a-z0-9+.-]*)", alternative).group(1))
    return names


def dynamic_section(path):
    return run("readelf", "-d", "-W", path).stdout


class PackageCase(unittest.TestCase):
    arch = None

    @classmethod
    def setUpClass(cls):
        cls.dir = os.path.join(PACKAGES_DIR, cls.arch)
        cls.root = tempfile.mkdtemp(prefix="cfgwatch-packages-%s-" % cls.arch)
        cls.debs = {}
        for package in (MAIN, HOST):
            deb = os.path.join(cls.dir, "%s_%s_%s.deb" % (package, VERSION, cls.arch))
            cls.debs[package] = deb
            if os.path.isfile(deb):
                subprocess.run(["dpkg-deb", "-x", deb, os.path.join(cls.root, package)],
                               check=True)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.root)

    def setUp(self):
        self.assertTrue(VERSION, "PACKAGE_VERSION is not set")
        for deb in self.debs.values():
            self.assertTrue(os.path.isfile(deb), "%s was not built" % deb)

    def members(self, package):
        with tarfile.open(fileobj=subprocess.Popen(
                ["dpkg-deb", "--fsys-tarfile", self.debs[package]],
                stdout=subprocess.PIPE).stdout, mode="r|") as archive:
            return [(member.name.lstrip("./"), member) for member in archive]

    def installed(self, package, path):
        return os.path.join(self.root, package, path)

    def test_only_these_packages_are_built(self):
        self.assertEqual(sorted(name for name in os.listdir(self.dir) if name.endswith(".deb")),
                         sorted(os.path.basename(deb) for deb in self.debs.values()))

    def test_each_package_holds_its_files_and_nothing_else(self):
        for package in (MAIN, HOST):
            with self.subTest(package=package):
                files = sorted(name for name, member in self.members(package)
                               if not member.isdir())
                self.assertEqual(files, expected_files(package, MULTIARCH[self.arch]))

    def test_nothing_is_writable_by_others_or_set_id_and_root_owns_all(self):
        for package in (MAIN, HOST):
            for name, member in self.members(package):
                with self.subTest(package=package, name=name):
                    self.assertEqual((member.uname, member.gname), ("root", "root"))
                    self.assertEqual(member.mode & (stat.S_IWOTH | stat.S_IWGRP), 0)
                    self.assertEqual(member.mode & (stat.S_ISUID | stat.S_ISGID | stat.S_ISVTX),
                                     0)
                    self.assertTrue(member.isdir() or member.isfile(), "not a plain file")

    def test_programs_are_built_for_the_architecture(self):
        for package, name in ((MAIN, "usr/bin/cfgwatch"), (MAIN, "usr/bin/cfgprobe"),
                              (HOST, "usr/bin/settingsdb")):
            with self.subTest(name=name):
                path = self.installed(package, name)
                self.assertTrue(os.access(path, os.X_OK))
                header = run("readelf", "-h", path).stdout
                self.assertRegex(header, r"Machine:\s+%s\n" % re.escape(MACHINE[self.arch]))

    def test_programs_load_only_the_c_library_and_the_platform(self):
        for name, needed in NEEDED.items():
            name = name.format(multiarch=MULTIARCH[self.arch])
            package = MAIN if name in ("usr/bin/cfgwatch", "usr/bin/cfgprobe") else HOST
            with self.subTest(name=name):
                path = self.installed(package, name)
                needed = set(needed)
                if self.arch == "armhf":
                    # With Debian's stack protector, 32-bit ARM code reads the
                    # canary __stack_chk_guard from the dynamic loader, which
                    # is part of the C library's package.
                    needed.add("ld-linux-armhf.so.3")
                self.assertEqual(set(elf_facts.needed_libraries("readelf", path)), needed)
                # The libraries are on the loader's own path; a run path
                # would let a program load them from elsewhere.
                self.assertNotRegex(dynamic_section(path), r"\((RPATH|RUNPATH)\)")

    def test_the_unit_is_where_debian_12_enables_it_and_starts_the_installed_daemon(self):
        unit = self.installed(MAIN, "lib/systemd/system/cfgwatch.service")
        with open(unit) as f:
            text = f.read()
        self.assertIn("\nExecStart=/usr/bin/cfgwatch\n", text)
        self.assertRegex(text, r"\nWantedBy=multi-user\.target\n")
        with tempfile.TemporaryDirectory() as control:
            subprocess.run(["dpkg-deb", "-e", self.debs[MAIN], control], check=True)
            with open(os.path.join(control, "postinst")) as f:
                postinst = f.read()
        self.assertIn("deb-systemd-helper enable 'cfgwatch.service'", postinst)
        self.assertIn("deb-systemd-invoke $_dh_action 'cfgwatch.service'", postinst)

    def test_the_daemon_depends_on_the_c_library_and_the_platform_by_library_name(self):
        depends = relations(field(self.debs[MAIN], "Depends"))
        self.assertEqual(depends, {"libc6", "libsettingsdb", "libsysbus", "wget"})
        # The stand-ins, like the device's own platform package, provide the
        # libraries' names, so either satisfies the daemon.
        self.assertEqual(relations(field(self.debs[HOST], "Provides")),
                         {"libsettingsdb", "libsysbus"})
        host_depends = relations(field(self.debs[HOST], "Depends"))
        self.assertEqual(host_depends, {"libc6", "python3"})

    def test_manual_pages_read_without_a_warning(self):
        pages = [(MAIN, "cfgwatch"), (MAIN, "cfgprobe"), (HOST, "settingsdb")]
        for package, name in pages:
            with self.subTest(page=name):
                path = self.installed(package, "usr/share/man/man8/%s.8.gz" % name)
                shown = run("man", "--warnings", "-E", "UTF-8", "-l", path,
                            env=dict(os.environ, LC_ALL="C.UTF-8", MANWIDTH="80"))
                self.assertEqual((shown.returncode, shown.stderr), (0, ""))
                self.assertRegex(shown.stdout, r"\nNAME\n +%s +- " % name)

    def test_lintian_reports_no_error_or_warning_and_every_override_is_used(self):
        debs = sorted(self.debs.values())
        checked = run("lintian", "--info", "--display-info", "--fail-on", "error,warning",
                      *debs)
        self.assertEqual(checked.returncode, 0, checked.stdout + checked.stderr)
        tags = [line for line in checked.stdout.splitlines() if re.match(r"[EWI]: ", line)]
        self.assertEqual(tags, [])


class Amd64(PackageCase):
    arch = "amd64"


class Armhf(PackageCase):
    arch = "armhf"

    def test_the_device_build_keeps_its_clock_after_2038(self):
        # The C library's 64-bit time interfaces are the ones called.
        symbols = run("readelf", "--dyn-syms", "-W",
                      self.installed(MAIN, "usr/bin/cfgwatch")).stdout
        imported = {name.split("@")[0] for name in re.findall(r" UND (\S+)", symbols)}
        self.assertIn("__time64", imported)
        self.assertIn("__localtime64", imported)
        self.assertNotIn("time", imported)
        self.assertNotIn("localtime", imported)


class Arches(unittest.TestCase):
    def test_architectures_to_check_are_named(self):
        self.assertTrue(ARCHES, "ARCHES is not set")
        self.assertLessEqual(set(ARCHES), {"amd64", "armhf"})


def load_tests(loader, tests, pattern):
    suite = loader.loadTestsFromTestCase(Arches)
    for case in (Amd64, Armhf):
        if case.arch in ARCHES:
            suite.addTests(loader.loadTestsFromTestCase(case))
    return suite


if __name__ == "__main__":
    unittest.main()
