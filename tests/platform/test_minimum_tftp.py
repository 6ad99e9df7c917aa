"""minimumTFTP.py against a real tftpd-hpa on 127.0.0.1, plus a scripted peer
for the misbehaviour a real server will not produce on demand."""

import errno
import hashlib
import os
import resource
import shutil
import signal
import socket
import struct
import subprocess
import sys
import tempfile
import threading
import time
import unittest

CLIENT = os.environ.get("MINIMUM_TFTP", "")
IN_TFTPD = os.environ.get("IN_TFTPD", "")


def free_udp_port():
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        s.bind(("127.0.0.1", 0))
        return s.getsockname()[1]


def port_taken(port):
    with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
        try:
            s.bind(("127.0.0.1", port))
        except OSError:
            return True
        return False


class TftpServer:
    """A private in.tftpd serving one directory on 127.0.0.1 and a free port."""

    def __init__(self, root):
        self.root = root
        self.port = free_udp_port()
        self.process = subprocess.Popen(
            [IN_TFTPD, "--foreground", "--listen", "--address", "127.0.0.1:%d" % self.port,
             "--secure", "--user", "root", root],
            stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        deadline = time.monotonic() + 10
        while not port_taken(self.port):
            if self.process.poll() is not None or time.monotonic() > deadline:
                self.stop()
                raise RuntimeError("in.tftpd did not start: %s" % self.process.stderr.read())
            time.sleep(0.02)

    def stop(self):
        if self.process.poll() is None:
            self.process.terminate()
            self.process.wait(timeout=10)
        self.process.stderr.close()


def run_client(*args, timeout=60, file_size_limit=None):
    def limit_file_size():
        resource.setrlimit(resource.RLIMIT_FSIZE, (file_size_limit, file_size_limit))

    return subprocess.run([sys.executable, CLIENT, *args], capture_output=True, text=True,
                          timeout=timeout,
                          preexec_fn=limit_file_size if file_size_limit is not None else None)


class ClientCase(unittest.TestCase):
    def setUp(self):
        self.assertTrue(CLIENT and os.path.isfile(CLIENT), "MINIMUM_TFTP not set: %r" % CLIENT)
        self.out = tempfile.mkdtemp(prefix="tftp-out-")

    def tearDown(self):
        shutil.rmtree(self.out)

    def assert_nothing_written(self):
        self.assertEqual(os.listdir(self.out), [])


class ServedCase(ClientCase):
    @classmethod
    def setUpClass(cls):
        if not (IN_TFTPD and os.access(IN_TFTPD, os.X_OK)):
            raise AssertionError("in.tftpd not found: %r" % IN_TFTPD)
        cls.root = tempfile.mkdtemp(prefix="tftp-root-")
        os.chmod(cls.root, 0o755)
        cls.server = TftpServer(cls.root)
        cls.address = "127.0.0.1:%d" % cls.server.port

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.root)

    def serve(self, name, content):
        path = os.path.join(self.root, name)
        with open(path, "wb") as f:
            f.write(content)
        # tftpd-hpa hands out only files that everyone may read.
        os.chmod(path, 0o644)
        return content

    def fetch_and_compare(self, name, content):
        self.serve(name, content)
        result = run_client("-g", self.address, self.out, name)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(result.stderr, "")
        with open(os.path.join(self.out, name), "rb") as f:
            got = f.read()
        self.assertEqual(len(got), len(content))
        self.assertEqual(hashlib.sha256(got).digest(), hashlib.sha256(content).digest())
        self.assertEqual(os.listdir(self.out), [name])


class Transfers(ServedCase):
    def test_small_file(self):
        self.fetch_and_compare("001a2b3c4d5e.xml", b"<x>hello</x>\n")

    def test_empty_file(self):
        self.fetch_and_compare("empty.xml", b"")

    def test_block_boundaries(self):
        for size in (511, 512, 513, 1024, 1025):
            with self.subTest(size=size):
                self.fetch_and_compare("b%d.bin" % size, os.urandom(size))
                os.unlink(os.path.join(self.out, "b%d.bin" % size))

    def test_multi_megabyte_file(self):
        self.fetch_and_compare("big.bin", os.urandom(5 * 1024 * 1024 + 77))

    def test_block_numbers_wrap_past_65535(self):
        # 65536 blocks of 512 bytes and some: block numbers go round once.
        self.fetch_and_compare("wrap.bin", os.urandom(65536 * 512 + 1000))

    def test_binary_bytes_arrive_unchanged(self):
        self.fetch_and_compare("crlf.bin", b"a\r\nb\nc\r\0d\xff" * 100)

    def test_existing_file_is_replaced(self):
        with open(os.path.join(self.out, "cfg.xml"), "wb") as f:
            f.write(b"old contents that are longer than the new ones")
        self.fetch_and_compare("cfg.xml", b"new")


class Failures(ServedCase):
    def test_missing_file_reports_the_server_error(self):
        result = run_client("-g", self.address, self.out, "absent.xml")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("server error 1", result.stderr)
        self.assertIn("File not found", result.stderr)
        self.assert_nothing_written()

    def test_missing_file_leaves_an_older_copy_alone(self):
        with open(os.path.join(self.out, "absent.xml"), "wb") as f:
            f.write(b"keep me")
        result = run_client("-g", self.address, self.out, "absent.xml")
        self.assertNotEqual(result.returncode, 0)
        with open(os.path.join(self.out, "absent.xml"), "rb") as f:
            self.assertEqual(f.read(), b"keep me")
        self.assertEqual(os.listdir(self.out), ["absent.xml"])

    def test_unreadable_file_is_refused_by_the_server(self):
        path = os.path.join(self.root, "private.xml")
        with open(path, "wb") as f:
            f.write(b"secret")
        os.chmod(path, 0o600)
        result = run_client("-g", self.address, self.out, "private.xml")
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("server error", result.stderr)
        self.assert_nothing_written()

    def test_no_server_listening_times_out(self):
        port = free_udp_port()
        result = run_client("-g", "127.0.0.1:%d" % port, self.out, "a.xml", timeout=30)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("timed out", result.stderr)
        self.assert_nothing_written()

    def test_output_directory_missing(self):
        self.serve("here.xml", b"x")
        missing = os.path.join(self.out, "nope")
        result = run_client("-g", self.address, missing, "here.xml")
        self.assertEqual(result.returncode, 1)
        self.assertIn("not a directory", result.stderr)
        self.assertFalse(os.path.exists(missing))


class Usage(ClientCase):
    def refused(self, *args, status=2, message=""):
        result = run_client(*args)
        self.assertEqual(result.returncode, status, result.stderr)
        self.assertIn(message, result.stderr)
        self.assert_nothing_written()
        return result

    def test_file_names_that_leave_the_directory(self):
        for name in ("a/b.xml", "../up.xml", "/etc/passwd", "dir/", ".", "..", ""):
            with self.subTest(name=name):
                self.refused("-g", "127.0.0.1:1", self.out, name, message="plain name")

    def test_wrong_arguments(self):
        self.refused(message="usage: minimumTFTP.py -g SERVER DIR FILE")
        self.refused("-g", "127.0.0.1", self.out, message="usage:")
        self.refused("-p", "127.0.0.1", self.out, "a.xml", message="usage:")
        self.refused("-g", "127.0.0.1", self.out, "a.xml", "extra", message="usage:")

    def test_bad_server_addresses(self):
        for server in ("127.0.0.1:", "127.0.0.1:0", "127.0.0.1:65536", "127.0.0.1:x69",
                       ":69", "[::1", "[::1]x"):
            with self.subTest(server=server):
                self.refused("-g", server, self.out, "a.xml", message="server address")


class ScriptedPeer:
    """Answers one read request with a fixed script of packets, from a port
    of its own as a real server does, and records the client's replies."""

    def __init__(self, script, port=0):
        self.listen = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.listen.bind(("127.0.0.1", port))
        self.port = self.listen.getsockname()[1]
        self.script = script
        self.received = []
        self.request = None
        self.thread = threading.Thread(target=self.run, daemon=True)
        self.thread.start()

    def run(self):
        self.listen.settimeout(20)
        self.request, client = self.listen.recvfrom(2048)
        transfer = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        transfer.bind(("127.0.0.1", 0))
        stray = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        stray.bind(("127.0.0.1", 0))
        transfer.settimeout(3)
        stray.settimeout(3)
        for action, payload in self.script:
            if action == "send":
                transfer.sendto(payload, client)
            elif action == "stray":
                stray.sendto(payload, client)
                self.received.append(("stray", stray.recvfrom(2048)[0]))
            elif action == "expect":
                self.received.append(("transfer", transfer.recvfrom(2048)[0]))
        transfer.close()
        stray.close()
        self.listen.close()


def data(block, payload):
    return struct.pack("!HH", 3, block) + payload


def ack(block):
    return struct.pack("!HH", 4, block)


class Misbehaving(ClientCase):
    def fetch(self, peer, name="f.bin"):
        result = run_client("-g", "127.0.0.1:%d" % peer.port, self.out, name, timeout=30)
        peer.thread.join(timeout=30)
        return result

    def test_request_is_an_octet_read_request(self):
        peer = ScriptedPeer([("send", data(1, b"x")), ("expect", None)])
        result = self.fetch(peer, name="cfg.xml")
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(peer.request, b"\0\x01cfg.xml\0octet\0")
        self.assertEqual(peer.received, [("transfer", ack(1))])

    def test_port_defaults_to_69(self):
        try:
            peer = ScriptedPeer([("send", data(1, b"69")), ("expect", None)], port=69)
        except OSError as problem:
            self.skipTest("UDP port 69 of 127.0.0.1 is not free here: %s" % problem)
        result = run_client("-g", "127.0.0.1", self.out, "d.xml", timeout=30)
        peer.thread.join(timeout=30)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(peer.request, b"\0\x01d.xml\0octet\0")
        with open(os.path.join(self.out, "d.xml"), "rb") as f:
            self.assertEqual(f.read(), b"69")

    def test_duplicate_data_is_acknowledged_again_and_written_once(self):
        first = os.urandom(512)
        peer = ScriptedPeer([
            ("send", data(1, first)), ("expect", None),
            ("send", data(1, first)), ("expect", None),
            ("send", data(2, b"end")), ("expect", None)])
        result = self.fetch(peer)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual([packet for _, packet in peer.received], [ack(1), ack(1), ack(2)])
        with open(os.path.join(self.out, "f.bin"), "rb") as f:
            self.assertEqual(f.read(), first + b"end")

    def test_packets_from_another_port_are_turned_away(self):
        block = os.urandom(512)
        peer = ScriptedPeer([
            ("send", data(1, block)), ("expect", None),
            ("stray", data(2, b"intruder")),
            ("send", data(2, b"real")), ("expect", None)])
        result = self.fetch(peer)
        self.assertEqual(result.returncode, 0, result.stderr)
        kinds = [(kind, packet[:4]) for kind, packet in peer.received]
        self.assertEqual(kinds, [("transfer", ack(1)), ("stray", struct.pack("!HH", 5, 5)),
                                 ("transfer", ack(2))])
        with open(os.path.join(self.out, "f.bin"), "rb") as f:
            self.assertEqual(f.read(), block + b"real")

    def test_server_that_stops_midway_leaves_nothing(self):
        peer = ScriptedPeer([("send", data(1, os.urandom(512))), ("expect", None)])
        result = self.fetch(peer)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("timed out waiting for block 2", result.stderr)
        self.assert_nothing_written()

    def test_error_packet_midway_leaves_nothing(self):
        peer = ScriptedPeer([
            ("send", data(1, os.urandom(512))), ("expect", None),
            ("send", struct.pack("!HH", 5, 3) + b"Disk full or allocation exceeded\0")])
        result = self.fetch(peer)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("server error 3: Disk full or allocation exceeded", result.stderr)
        self.assert_nothing_written()

    def test_error_text_cannot_start_lines_of_its_own(self):
        # The client's messages end up in the daemon's log; the server's text
        # is shown on one line.
        peer = ScriptedPeer([
            ("send", struct.pack("!HH", 5, 1) +
             b"gone\nsysbus: device reset requested\r\x1b[2J\0")])
        result = self.fetch(peer)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("server error 1: gone?sysbus: device reset requested??[2J\n",
                      result.stderr)
        self.assertEqual(result.stderr.count("\n"), 1, result.stderr)
        self.assert_nothing_written()

    def test_oversized_block_is_refused(self):
        peer = ScriptedPeer([("send", data(1, os.urandom(600)))])
        result = self.fetch(peer)
        self.assertNotEqual(result.returncode, 0)
        self.assertIn("oversized", result.stderr)
        self.assert_nothing_written()


class SizeLimit(ServedCase):
    """The caller caps the files the client may write (RLIMIT_FSIZE)."""

    def test_write_past_the_limit_fails_and_leaves_nothing(self):
        self.serve("big.xml", os.urandom(5000))
        result = run_client("-g", self.address, self.out, "big.xml", file_size_limit=1024)
        self.assertEqual(result.returncode, 1, result.stderr)
        self.assertIn(os.strerror(errno.EFBIG), result.stderr)
        self.assert_nothing_written()

    def test_file_of_exactly_the_limit_arrives(self):
        self.serve("fits.xml", os.urandom(1024))
        result = run_client("-g", self.address, self.out, "fits.xml", file_size_limit=1024)
        self.assertEqual(result.returncode, 0, result.stderr)
        self.assertEqual(os.path.getsize(os.path.join(self.out, "fits.xml")), 1024)


class Stopping(ClientCase):
    """A client stopped in the middle of a transfer removes its partial file
    and ends by the signal that stopped it."""

    def stop_midway(self, signum):
        # One full block arrives and is acknowledged, then the peer falls
        # silent and the client waits for the next one.
        peer = ScriptedPeer([("send", data(1, os.urandom(512))), ("expect", None)])
        client = subprocess.Popen([sys.executable, CLIENT, "-g", "127.0.0.1:%d" % peer.port,
                                   self.out, "f.bin"], stderr=subprocess.PIPE)
        try:
            deadline = time.monotonic() + 10
            while not peer.received and time.monotonic() < deadline:
                time.sleep(0.01)
            self.assertEqual(peer.received, [("transfer", ack(1))])
            partial = [name for name in os.listdir(self.out) if name.endswith(".part")]
            self.assertEqual(len(partial), 1, os.listdir(self.out))
            client.send_signal(signum)
            client.wait(timeout=10)
        finally:
            if client.poll() is None:
                client.kill()
                client.wait()
            client.stderr.close()
            peer.thread.join(timeout=30)
        return client.returncode

    def test_each_stop_signal_leaves_nothing(self):
        for signum in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
            with self.subTest(signal=signum.name):
                self.assertEqual(self.stop_midway(signum), -signum)
                self.assert_nothing_written()


if __name__ == "__main__":
    unittest.main()
