"""Real provisioning servers on the loopback address: tftpd-hpa, and HTTP and
HTTPS servers that record every request and can demand Basic authentication.
Each is started on a free high port with its own directory and always stopped."""

import base64
import http.server
import os
import shutil
import socket
import ssl
import struct
import subprocess
import threading
import time
import urllib.parse

LOOPBACK = "127.0.0.1"


def free_port(kind):
    with socket.socket(socket.AF_INET, kind) as s:
        s.bind((LOOPBACK, 0))
        return s.getsockname()[1]


def find_tftpd():
    for candidate in ("/usr/sbin/in.tftpd", shutil.which("in.tftpd") or ""):
        if candidate and os.access(candidate, os.X_OK):
            return candidate
    raise AssertionError("in.tftpd (Debian package tftpd-hpa) is not installed")


class TftpServer:
    """tftpd-hpa serving `directory` on 127.0.0.1:port."""

    def __init__(self, directory):
        self.directory = directory
        os.makedirs(directory, exist_ok=True)
        self.process = None
        self.port = None

    def put(self, name, content):
        path = os.path.join(self.directory, name)
        with open(path, "wb") as f:
            f.write(content)
        # tftpd-hpa serves only files that everybody may read.
        os.chmod(path, 0o644)

    @property
    def address(self):
        return "%s:%d" % (LOOPBACK, self.port)

    def start(self):
        os.chmod(self.directory, 0o755)
        for _ in range(10):
            self.port = free_port(socket.SOCK_DGRAM)
            self.process = subprocess.Popen(
                [find_tftpd(), "--foreground", "--listen", "--address", self.address,
                 "--secure", "--user", "root", self.directory],
                stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
            if self._answers():
                return self
            self.stop()
        raise AssertionError("tftpd-hpa did not come up")

    def _answers(self):
        """True once the server answers a read request (with an error for a
        file it does not have)."""
        request = b"\x00\x01" + b"e2e-readiness-probe\x00octet\x00"
        deadline = time.monotonic() + 5
        with socket.socket(socket.AF_INET, socket.SOCK_DGRAM) as s:
            s.settimeout(0.1)
            while time.monotonic() < deadline:
                if self.process.poll() is not None:
                    return False
                s.sendto(request, (LOOPBACK, self.port))
                try:
                    reply, _ = s.recvfrom(1024)
                except (socket.timeout, ConnectionRefusedError):
                    continue
                return struct.unpack("!H", reply[:2])[0] in (3, 5)
        return False

    def stop(self):
        if self.process is not None:
            self.process.terminate()
            try:
                self.process.wait(timeout=5)
            except subprocess.TimeoutExpired:
                self.process.kill()
                self.process.wait()
            if self.process.stderr:
                self.process.stderr.close()
            self.process = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


class BackgroundHttpd:
    """An HTTP server (self.httpd, made by the subclass's start) answering on
    a thread of its own, and always shut down on leaving the with block."""

    httpd = None
    thread = None

    def serve_in_background(self):
        self.thread = threading.Thread(target=self.httpd.serve_forever, daemon=True)
        self.thread.start()
        return self

    def stop(self):
        if self.httpd is not None:
            self.httpd.shutdown()
            self.httpd.server_close()
            self.thread.join()
            self.httpd = None

    def __enter__(self):
        return self.start()

    def __exit__(self, *exc):
        self.stop()


class HttpServer(BackgroundHttpd):
    """Serves `files` ({path: bytes}, path without the leading '/') and keeps
    every request: (path as sent, Authorization header or None). `redirects`
    ({path: URL}) answers those paths, once past the authentication, with a
    redirection to the URL."""

    def __init__(self, files=None, user=None, password=None, tls_files=None, cut_short=(),
                 unannounced=(), content_type="application/xml", redirects=None):
        self.files = dict(files or {})
        self.redirects = dict(redirects or {})
        # Paths whose answer announces the whole file but breaks off halfway.
        self.cut_short = set(cut_short)
        # Paths whose answer gives no length and ends, with the connection,
        # halfway: the client cannot tell it from a whole file.
        self.unannounced = set(unannounced)
        self.content_type = content_type
        self.requests = []
        self.user = user
        self.password = password
        self.tls_files = tls_files
        self.httpd = None
        self.thread = None
        self.port = None

    @property
    def url(self):
        scheme = "https" if self.tls_files else "http"
        return "%s://%s:%d" % (scheme, LOOPBACK, self.port)

    def paths(self):
        return [path for path, _ in self.requests]

    def start(self):
        server = self

        class Handler(http.server.BaseHTTPRequestHandler):
            def do_GET(self):
                authorization = self.headers.get("Authorization")
                server.requests.append((self.path, authorization))
                if server.user is not None:
                    expected = "Basic " + base64.b64encode(
                        ("%s:%s" % (server.user, server.password)).encode()).decode()
                    if authorization != expected:
                        self.send_response(401)
                        # wget retries with credentials on the same connection
                        # unless told plainly that it is closed.
                        self.send_header("Connection", "close")
                        self.send_header("WWW-Authenticate", 'Basic realm="provisioning"')
                        self.send_header("Content-Length", "0")
                        self.end_headers()
                        return
                name = urllib.parse.unquote(self.path.lstrip("/"))
                if name in server.redirects:
                    self.send_response(302)
                    self.send_header("Location", server.redirects[name])
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                content = server.files.get(name)
                if content is None:
                    self.send_response(404)
                    self.send_header("Content-Length", "0")
                    self.end_headers()
                    return
                self.send_response(200)
                self.send_header("Content-Type", server.content_type)
                if name in server.unannounced:
                    self.send_header("Connection", "close")
                    self.end_headers()
                    self.wfile.write(content[:len(content) // 2])
                    self.wfile.flush()
                    self.close_connection = True
                    return
                self.send_header("Content-Length", str(len(content)))
                self.end_headers()
                if name in server.cut_short:
                    self.wfile.write(content[:len(content) // 2])
                    self.wfile.flush()
                    self.close_connection = True
                    return
                self.wfile.write(content)

            def log_message(self, *args):
                pass

        self.httpd = http.server.ThreadingHTTPServer((LOOPBACK, 0), Handler)
        self.port = self.httpd.server_address[1]
        if self.tls_files:
            context = ssl.SSLContext(ssl.PROTOCOL_TLS_SERVER)
            context.load_cert_chain(*self.tls_files)
            self.httpd.socket = context.wrap_socket(self.httpd.socket, server_side=True)
        return self.serve_in_background()


def self_signed_certificate(directory):
    """A throwaway certificate for 127.0.0.1, made with openssl."""
    os.makedirs(directory, exist_ok=True)
    key = os.path.join(directory, "key.pem")
    cert = os.path.join(directory, "cert.pem")
    if not os.path.exists(cert):
        subprocess.run(["openssl", "req", "-x509", "-newkey", "rsa:2048", "-nodes", "-days", "1",
                        "-subj", "/CN=127.0.0.1", "-keyout", key, "-out", cert],
                       check=True, capture_output=True, timeout=120)
    return cert, key
