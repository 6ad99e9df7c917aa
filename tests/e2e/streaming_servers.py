"""Servers on the loopback address that never finish a file: they send it
slowly but steadily, or without end. Each is bounded in time and bytes, so a
test that fails never leaves one running, and each counts what it sent."""

import http.server
import socket
import struct
import threading

from servers import LOOPBACK, BackgroundHttpd

TFTP_BLOCK = 512
OP_RRQ = 1
OP_DATA = 3
OP_ACK = 4


class StreamingHttpServer(BackgroundHttpd):
    """Answers every GET with 200 and a body sent `chunk` bytes at a time,
    `interval` seconds apart, until the client goes away, `limit` bytes are
    out or the server is stopped. `declared` is the Content-Length announced
    (None: the body ends when the connection does)."""

    def __init__(self, chunk, interval, limit, declared=None):
        self.chunk = chunk
        self.interval = interval
        self.limit = limit
        self.declared = declared
        self.sent = 0
        self.paths = []
        self.client_left = threading.Event()  # the client closed before the end
        self.stopping = threading.Event()
        self.httpd = None
        self.thread = None
        self.url = None  # "http://127.0.0.1:PORT" once started

    def start(self):
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                server.paths.append(self.path)
                self.send_response(200)
                self.send_header("Content-Type", "application/xml")
                if server.declared is not None:
                    self.send_header("Content-Length", str(server.declared))
                self.send_header("Connection", "close")
                self.end_headers()
                self.close_connection = True
                while server.sent < server.limit and not server.stopping.is_set():
                    try:
                        self.wfile.write(server.chunk)
                        self.wfile.flush()
                    except OSError:
                        server.client_left.set()
                        return
                    server.sent += len(server.chunk)
                    if server.interval:
                        server.stopping.wait(server.interval)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer((LOOPBACK, 0), Handler)
        self.httpd.daemon_threads = True
        self.url = "http://%s:%d" % (LOOPBACK, self.httpd.server_address[1])
        return self.serve_in_background()

    def stop(self):
        self.stopping.set()
        super().stop()


class StreamingTftpServer:
    """Answers one read request with full 512-byte blocks, each sent once the
    previous one is acknowledged and `interval` seconds have passed, so the
    file never ends: until the client stops acknowledging, `limit` blocks
    are out or the server is stopped. Blocks are resent, as a real server
    does, when an acknowledgement is late."""

    def __init__(self, interval, limit):
        self.interval = interval
        self.limit = limit
        self.acknowledged = 0  # blocks the client confirmed
        self.request = None
        self.client_left = threading.Event()
        self.stopping = threading.Event()
        self.listen = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
        self.listen.bind((LOOPBACK, 0))
        self.address = "%s:%d" % (LOOPBACK, self.listen.getsockname()[1])
        self.thread = None

    def start(self):
        self.thread = threading.Thread(target=self._serve, daemon=True)
        self.thread.start()
        return self

    def _serve(self):
        self.listen.settimeout(0.2)
        client = None
        while client is None and not self.stopping.is_set():
            try:
                packet, sender = self.listen.recvfrom(2048)
            except socket.timeout:
                continue
            if len(packet) >= 2 and struct.unpack("!H", packet[:2])[0] == OP_RRQ:
                self.request, client = packet, sender
        if client is None:
            return
        payload = b"<x>" + b"y" * (TFTP_BLOCK - 3)
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as transfer:
            transfer.bind((LOOPBACK, 0))
            transfer.settimeout(1.0)
            block = 1
            while self.acknowledged < self.limit and not self.stopping.is_set():
                packet = struct.pack("!HH", OP_DATA, block & 0xFFFF) + payload
                if not self._send_until_acknowledged(transfer, client, packet, block):
                    self.client_left.set()
                    return
                self.acknowledged += 1
                block += 1
                if self.interval:
                    self.stopping.wait(self.interval)

    def _send_until_acknowledged(self, transfer, client, packet, block):
        for _ in range(5):
            transfer.sendto(packet, client)
            try:
                while True:
                    reply, sender = transfer.recvfrom(2048)
                    if sender == client and reply == struct.pack("!HH", OP_ACK, block & 0xFFFF):
                        return True
            except socket.timeout:
                continue
            except OSError:
                return False
        return False

    def stop(self):
        self.stopping.set()
        if self.thread is not None:
            self.thread.join(timeout=30)
        self.listen.close()

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()
