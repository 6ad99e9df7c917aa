"""The settingsdb tool from the command line: every field lands at its record
offset, and bad input leaves the record file exactly as it was."""

import os
import shutil
import struct
import subprocess
import tempfile
import unittest

TOOL = os.environ.get("SETTINGSDB_TOOL", "")
RECORD_SIZE = 23864

# name: (offset, width, kind); widths of texts are capacities with the NUL.
FIELDS = {
    "autoprov_period": (60, 4, "u32"),
    "mac_address": (10258, 6, "mac"),
    "autoprov_server": (11314, 256, "text"),
    "autoprov_http_user": (11570, 256, "text"),
    "autoprov_http_password": (11826, 400, "text"),
    "autoprov_disabled": (12226, 1, "u8"),
    "autoprov_file": (14782, 129, "text"),
    "autoprov_use_tftp": (14911, 1, "u8"),
    "autoprov_idle_minutes": (14912, 4, "u32"),
    "autoprov_time_of_day": (14916, 16, "text"),
    "enable_sip_mcast": (23857, 1, "u8"),
}


class ToolCase(unittest.TestCase):
    def setUp(self):
        self.assertTrue(TOOL and os.access(TOOL, os.X_OK), "SETTINGSDB_TOOL not set: %r" % TOOL)
        self.dir = tempfile.mkdtemp(prefix="settingsdb-tool-")
        self.path = os.path.join(self.dir, "etc", "settingsdb", "nvcfg.bin")

    def tearDown(self):
        shutil.rmtree(self.dir)

    def run_tool(self, *args, path=None):
        env = dict(os.environ)
        env["SETTINGSDB_FILE"] = path or self.path
        return subprocess.run([TOOL, *args], env=env, capture_output=True, text=True,
                              timeout=30)

    def ok(self, *args):
        result = self.run_tool(*args)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        return result.stdout

    def raw(self):
        with open(self.path, "rb") as f:
            return f.read()

    def create(self):
        self.ok("create")


class Create(ToolCase):
    def test_creates_a_zeroed_record_and_its_directories(self):
        self.assertFalse(os.path.exists(os.path.dirname(self.path)))
        self.create()
        self.assertEqual(self.raw(), bytes(RECORD_SIZE))
        self.assertEqual(os.stat(self.path).st_mode & 0o777, 0o644)

    def test_create_again_resets_to_zero(self):
        self.create()
        self.ok("set", "enable_sip_mcast", "9", "autoprov_server", "127.0.0.1")
        self.create()
        self.assertEqual(self.raw(), bytes(RECORD_SIZE))

    def test_leaves_no_temporary_files(self):
        self.create()
        self.ok("set", "autoprov_period", "5")
        self.assertEqual(os.listdir(os.path.dirname(self.path)), ["nvcfg.bin"])

    def test_create_refused_where_a_file_blocks_the_directory(self):
        blocker = os.path.join(self.dir, "etc")
        with open(blocker, "w") as f:
            f.write("not a directory")
        result = self.run_tool("create")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("settingsdb:", result.stderr)
        with open(blocker) as f:
            self.assertEqual(f.read(), "not a directory")

    def long_path(self, length):
        # Directory names of 200 bytes, so no single name is too long.
        path = self.dir
        while len(path) + 201 < length:
            path += "/" + "d" * 200
        return path + "/" + "r" * (length - len(path) - 1)

    def test_a_path_too_long_is_refused_in_one_short_line(self):
        # Too long for a path at all (PATH_MAX is 4096 with its NUL), and too
        # long only with the suffix ".XXXXXX" of the temporary file written
        # beside the record.
        for length, limit in ((6000, 4095), (4093, 4095 - 7)):
            with self.subTest(length=length):
                path = self.long_path(length)
                self.assertEqual(len(path.encode()), length)
                result = self.run_tool("create", path=path)
                self.assertNotEqual(result.returncode, 0)
                expected = "settingsdb: path too long (%d bytes, at most %d): %s...\n" % (
                    length, limit, path[:48])
                self.assertEqual(result.stderr, expected)
                self.assertFalse(os.path.exists(path))

    def test_help_lists_every_field(self):
        out = self.ok("--help")
        for name in FIELDS:
            self.assertIn(name, out)


class GetAndSet(ToolCase):
    def setUp(self):
        super().setUp()
        self.create()

    def check_set(self, name, value, expected_bytes, shown=None):
        before = self.raw()
        self.ok("set", name, value)
        after = self.raw()
        offset, width, _ = FIELDS[name]
        self.assertEqual(after[offset:offset + width], expected_bytes)
        # Nothing outside the field moved.
        self.assertEqual(after[:offset], before[:offset])
        self.assertEqual(after[offset + width:], before[offset + width:])
        self.assertEqual(self.ok("get", name), (shown if shown is not None else value) + "\n")

    def test_numbers_32_bit(self):
        for name in ("autoprov_period", "autoprov_idle_minutes"):
            for value in (0, 1, 1440, 0x01020304, 4294967295):
                with self.subTest(name=name, value=value):
                    self.check_set(name, str(value), struct.pack("<I", value))

    def test_numbers_8_bit(self):
        for name in ("autoprov_disabled", "autoprov_use_tftp", "enable_sip_mcast"):
            for value in (0, 1, 254, 255):
                with self.subTest(name=name, value=value):
                    self.check_set(name, str(value), bytes([value]))

    def test_leading_zeros_are_decimal(self):
        self.check_set("autoprov_period", "0010", struct.pack("<I", 10), shown="10")

    def test_mac_address(self):
        self.check_set("mac_address", "00:1a:2b:3c:4d:5e", bytes.fromhex("001a2b3c4d5e"))
        self.check_set("mac_address", "FF:EE:0A:0b:C0:01", bytes.fromhex("ffee0a0bc001"),
                       shown="ff:ee:0a:0b:c0:01")

    def test_texts_at_full_length_and_zero_filled(self):
        for name, (offset, width, kind) in FIELDS.items():
            if kind != "text":
                continue
            with self.subTest(name=name):
                longest = "".join(chr(ord("a") + i % 26) for i in range(width - 1))
                self.check_set(name, longest, longest.encode() + b"\0")
                # A shorter value must clear the tail of the longer one.
                self.check_set(name, "short", b"short" + bytes(width - 5))
                self.check_set(name, "", bytes(width))

    def test_texts_keep_spaces_and_shell_characters(self):
        value = "a b;$(x)'\"`|&"
        offset, width, _ = FIELDS["autoprov_http_password"]
        self.check_set("autoprov_http_password", value, value.encode() + bytes(width - len(value)))

    def test_several_fields_in_one_call(self):
        self.ok("set", "autoprov_server", "127.0.0.1:6969", "autoprov_use_tftp", "1",
                "mac_address", "01:02:03:04:05:06", "autoprov_period", "3")
        data = self.raw()
        self.assertEqual(data[11314:11314 + 15], b"127.0.0.1:6969\0")
        self.assertEqual(data[14911], 1)
        self.assertEqual(data[10258:10264], bytes([1, 2, 3, 4, 5, 6]))
        self.assertEqual(data[60:64], struct.pack("<I", 3))

    def test_later_pair_wins_for_the_same_field(self):
        self.ok("set", "enable_sip_mcast", "1", "enable_sip_mcast", "2")
        self.assertEqual(self.raw()[23857], 2)

    def test_bytes_outside_the_fields_are_kept(self):
        data = bytearray(self.raw())
        data[0] = 0x5A
        data[100] = 0x77
        data[RECORD_SIZE - 1] = 0x33
        with open(self.path, "wb") as f:
            f.write(data)
        self.ok("set", "autoprov_file", "x.xml")
        after = self.raw()
        self.assertEqual((after[0], after[100], after[RECORD_SIZE - 1]), (0x5A, 0x77, 0x33))

    def test_get_of_a_text_filling_its_whole_field(self):
        # A record written elsewhere may leave no NUL inside the field.
        data = bytearray(self.raw())
        offset, width, _ = FIELDS["autoprov_time_of_day"]
        data[offset:offset + width] = b"A" * width
        data[offset + width] = ord("B")
        with open(self.path, "wb") as f:
            f.write(data)
        self.assertEqual(self.ok("get", "autoprov_time_of_day"), "A" * width + "\n")


class Show(ToolCase):
    def test_every_field_once_in_order(self):
        self.create()
        self.ok("set", "autoprov_period", "60", "mac_address", "00:1a:2b:3c:4d:5e",
                "autoprov_server", "127.0.0.1", "autoprov_time_of_day", "0230xx")
        lines = self.ok("show").splitlines()
        self.assertEqual([line.split("=", 1)[0] for line in lines], list(FIELDS))
        values = dict(line.split("=", 1) for line in lines)
        self.assertEqual(values["autoprov_period"], "60")
        self.assertEqual(values["mac_address"], "00:1a:2b:3c:4d:5e")
        self.assertEqual(values["autoprov_server"], "127.0.0.1")
        self.assertEqual(values["autoprov_time_of_day"], "0230xx")
        self.assertEqual(values["autoprov_http_user"], "")
        self.assertEqual(values["enable_sip_mcast"], "0")

    def test_show_without_a_record_fails(self):
        result = self.run_tool("show")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn(self.path, result.stderr)
        self.assertEqual(result.stdout, "")


class BadInput(ToolCase):
    def setUp(self):
        super().setUp()
        self.create()
        self.ok("set", "autoprov_server", "127.0.0.1", "enable_sip_mcast", "7")
        self.before = self.raw()
        self.mtime = os.stat(self.path).st_mtime_ns

    def refused(self, *args, message):
        result = self.run_tool(*args)
        self.assertNotEqual(result.returncode, 0, "accepted: %r" % (args,))
        self.assertIn(message, result.stderr)
        self.assertTrue(result.stderr.startswith("settingsdb: "), result.stderr)
        self.assertEqual(self.raw(), self.before)
        self.assertEqual(os.stat(self.path).st_mtime_ns, self.mtime)
        self.assertEqual(os.listdir(os.path.dirname(self.path)), ["nvcfg.bin"])
        return result

    def test_unknown_field(self):
        self.refused("set", "autoprov_servr", "x", message="unknown field 'autoprov_servr'")
        self.refused("get", "reserved_0", message="unknown field 'reserved_0'")

    def test_text_too_long(self):
        for name, limit in (("autoprov_server", 255), ("autoprov_http_user", 255),
                            ("autoprov_http_password", 399), ("autoprov_file", 128),
                            ("autoprov_time_of_day", 15)):
            with self.subTest(name=name):
                self.refused("set", name, "x" * (limit + 1), message="value too long")

    def test_not_a_number(self):
        for value in ("", "abc", "12a", "-1", "+1", " 1", "1 ", "0x10", "1.5"):
            for name in ("autoprov_period", "enable_sip_mcast"):
                with self.subTest(name=name, value=value):
                    self.refused("set", name, value, message="not a number")

    def test_out_of_range(self):
        for name, value in (("autoprov_period", "4294967296"),
                            ("autoprov_idle_minutes", "99999999999999999999999"),
                            ("autoprov_disabled", "256"), ("autoprov_use_tftp", "1000"),
                            ("enable_sip_mcast", "256")):
            with self.subTest(name=name):
                self.refused("set", name, value, message="out of range")

    def test_bad_mac(self):
        for value in ("", "00:1a:2b:3c:4d", "00:1a:2b:3c:4d:5e:6f", "001a2b3c4d5e",
                      "00-1a-2b-3c-4d-5e", "0g:1a:2b:3c:4d:5e", "00:1a:2b:3c:4d:5", "00:1a:2b:3c:4d:5e "):
            with self.subTest(value=value):
                self.refused("set", "mac_address", value, message="not a MAC address")

    def test_missing_value(self):
        self.refused("set", "autoprov_period", message="missing value")
        self.refused("set", "autoprov_period", "1", "enable_sip_mcast", message="missing value")

    def test_all_or_nothing(self):
        # The good pair comes first; the bad second must stop both.
        self.refused("set", "autoprov_period", "5", "enable_sip_mcast", "300",
                     message="out of range")
        self.refused("set", "autoprov_file", "a.xml", "nonsense", "1", message="unknown field")

    def test_bad_commands(self):
        self.refused(message="command")
        self.refused("frobnicate", message="unknown command")
        self.refused("get", message="wrong number of arguments")
        self.refused("get", "autoprov_period", "extra", message="wrong number of arguments")
        self.refused("set", message="at least one")

    def test_wrongly_sized_file_is_refused_not_repaired(self):
        for size in (0, RECORD_SIZE - 1, RECORD_SIZE + 1):
            with self.subTest(size=size):
                content = bytes(range(256)) * (size // 256) + bytes(size % 256)
                with open(self.path, "wb") as f:
                    f.write(content)
                self.before = content
                self.mtime = os.stat(self.path).st_mtime_ns
                self.refused("set", "enable_sip_mcast", "1", message="not a settings record")
                self.refused("get", "enable_sip_mcast", message="not a settings record")
                self.refused("show", message="not a settings record")

    def test_directory_in_place_of_the_record(self):
        os.unlink(self.path)
        os.mkdir(self.path)
        result = self.run_tool("set", "enable_sip_mcast", "1")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("not a regular file", result.stderr)
        self.assertEqual(os.listdir(self.path), [])
        os.rmdir(self.path)


if __name__ == "__main__":
    unittest.main()
