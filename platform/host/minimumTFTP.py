#!/usr/bin/env python3
"""A minimal TFTP client: fetches one file, in octet mode, into a directory.

    minimumTFTP.py -g SERVER DIR FILE

SERVER is a host or host:port (port 69 by default; an IPv6 address goes in
brackets when a port follows). The file lands in DIR/FILE only once the whole
transfer has arrived; a failed transfer leaves nothing under that name, and
neither does one ended by SIGTERM, SIGHUP or SIGINT or by a write that fails
(a full disk, or EFBIG past the file size limit the caller set): the partial
file is removed. Exit status: 0 after a complete transfer, 1 when the
transfer failed, 2 for bad usage; ended by a signal, the client ends by that
same signal once it has cleaned up.
"""

import os
import signal
import socket
import struct
import sys
import tempfile
import time

PROGRAM = "minimumTFTP.py"
USAGE = "usage: minimumTFTP.py -g SERVER DIR FILE\n"

BLOCK_SIZE = 512
DEFAULT_PORT = 69
TRY_SECONDS = 1.0
TRIES = 5

OP_RRQ = 1
OP_DATA = 3
OP_ACK = 4
OP_ERROR = 5
ERROR_UNKNOWN_TID = 5


class TransferFailed(Exception):
    pass


class UsageError(Exception):
    pass


class Stopped(BaseException):
    """A stop signal arrived; raised from the handler, so that the partial
    file is removed on the way out wherever the transfer stood."""

    def __init__(self, signum):
        super().__init__(signum)
        self.signum = signum


STOP_SIGNALS = (signal.SIGTERM, signal.SIGHUP, signal.SIGINT)


def stop(signum, frame):
    raise Stopped(signum)


def parse_server(text):
    """Splits host[:port] or [v6-address][:port] into (host, port)."""
    host, port = text, DEFAULT_PORT
    if text.startswith("["):
        end = text.find("]")
        if end < 0:
            raise UsageError("bad server address: %r" % text)
        host, rest = text[1:end], text[end + 1:]
        if rest:
            if not rest.startswith(":"):
                raise UsageError("bad server address: %r" % text)
            port = rest[1:]
    elif text.count(":") == 1:
        host, port = text.split(":")
    if not host:
        raise UsageError("bad server address: %r" % text)
    if isinstance(port, str):
        if not port.isdigit() or not 0 < int(port) < 65536:
            raise UsageError("bad port in server address: %r" % text)
        port = int(port)
    return host, port


def check_file_name(name):
    # The name is used under DIR as it stands, so it must be a plain name.
    if not name or "/" in name or name in (".", "..") or "\0" in name:
        raise UsageError("refusing file name %r: it must be a plain name" % name)


def read_request(name):
    return struct.pack("!H", OP_RRQ) + os.fsencode(name) + b"\0octet\0"


def ack(block):
    return struct.pack("!HH", OP_ACK, block)


def error_packet(code, message):
    return struct.pack("!HH", OP_ERROR, code) + message.encode() + b"\0"


def server_error_text(packet):
    code = struct.unpack("!H", packet[2:4])[0] if len(packet) >= 4 else 0
    message = packet[4:].split(b"\0", 1)[0].decode("utf-8", "replace")
    # The text is the server's: shown on one line, with nothing in it that
    # could start a line of its own in the log.
    message = "".join(c if c.isprintable() else "?" for c in message)
    return "server error %d: %s" % (code, message)


def fetch(address, family, name, out):
    """Receives name from the server at address and writes it to out."""
    with socket.socket(family, socket.SOCK_DGRAM) as sock:
        request = read_request(name)
        sock.sendto(request, address)
        last_sent, last_sent_to = request, address
        server = None  # the server's transfer address, fixed by its first reply
        expected = 1
        acked = None  # the last block acknowledged
        tries = 1
        deadline = time.monotonic() + TRY_SECONDS
        while True:
            remaining = deadline - time.monotonic()
            if remaining <= 0:
                if tries >= TRIES:
                    raise TransferFailed(
                        "timed out waiting for %s after %d tries"
                        % ("block %d" % expected if server else "the server", tries))
                tries += 1
                sock.sendto(last_sent, last_sent_to)
                deadline = time.monotonic() + TRY_SECONDS
                continue
            sock.settimeout(remaining)
            try:
                packet, sender = sock.recvfrom(BLOCK_SIZE + 4 + 1)
            except socket.timeout:
                continue
            # Only the host that was asked may answer; once it has, only from
            # the port it chose for this transfer.
            if sender[0] != address[0]:
                continue
            if server is None:
                server = sender
            elif sender[:2] != server[:2]:
                sock.sendto(error_packet(ERROR_UNKNOWN_TID, "Unknown transfer ID"), sender)
                continue
            if len(packet) < 4:
                continue
            opcode, block = struct.unpack("!HH", packet[:4])
            if opcode == OP_ERROR:
                raise TransferFailed(server_error_text(packet))
            if opcode != OP_DATA:
                continue
            payload = packet[4:]
            if len(payload) > BLOCK_SIZE:
                raise TransferFailed("server sent an oversized block %d" % block)
            if block == expected:
                out.write(payload)
                acked = block
                last_sent, last_sent_to = ack(block), server
                sock.sendto(last_sent, server)
                if len(payload) < BLOCK_SIZE:
                    return
                # Block numbers wrap past 65535 back to 0, as servers count them.
                expected = (expected + 1) & 0xFFFF
                tries = 1
                deadline = time.monotonic() + TRY_SECONDS
            elif block == acked:
                # Our acknowledgement went missing: say it again.
                sock.sendto(ack(acked), server)


def run(arguments):
    if len(arguments) != 4 or arguments[0] != "-g":
        raise UsageError("expected -g SERVER DIR FILE")
    server_text, directory, name = arguments[1:]
    host, port = parse_server(server_text)
    check_file_name(name)
    if not os.path.isdir(directory):
        raise TransferFailed("not a directory: %s" % directory)
    try:
        infos = socket.getaddrinfo(host, port, type=socket.SOCK_DGRAM)
    except socket.gaierror as problem:
        raise TransferFailed("cannot find server %s: %s" % (host, problem))
    family, _, _, _, address = infos[0]

    target = os.path.join(directory, name)
    # A stop signal that came between creating the partial file and
    # watching over it would leave the file behind; so they wait until then.
    signal.pthread_sigmask(signal.SIG_BLOCK, STOP_SIGNALS)
    handle, partial = tempfile.mkstemp(prefix="." + name + ".", suffix=".part", dir=directory)
    try:
        signal.pthread_sigmask(signal.SIG_UNBLOCK, STOP_SIGNALS)
        with os.fdopen(handle, "wb") as out:
            fetch(address, family, name, out)
        mask = os.umask(0)
        os.umask(mask)
        os.chmod(partial, 0o666 & ~mask)
        os.replace(partial, target)
    except BaseException:
        # A second signal must not cut the removal short.
        signal.pthread_sigmask(signal.SIG_BLOCK, STOP_SIGNALS)
        try:
            os.unlink(partial)
        except FileNotFoundError:
            pass  # already renamed: the signal came after the last step
        raise


def end_by_signal(signum):
    """Ends the process by signum itself, as if it had not been caught, so
    the caller sees how the client ended."""
    signal.signal(signum, signal.SIG_DFL)
    signal.pthread_sigmask(signal.SIG_UNBLOCK, [signum])
    os.kill(os.getpid(), signum)
    return 1  # not reached unless the signal is ignored


def main():
    for signum in STOP_SIGNALS:
        signal.signal(signum, stop)
    try:
        run(sys.argv[1:])
    except UsageError as problem:
        sys.stderr.write("%s: %s\n%s" % (PROGRAM, problem, USAGE))
        return 2
    except (TransferFailed, OSError) as problem:
        sys.stderr.write("%s: %s\n" % (PROGRAM, problem))
        return 1
    except Stopped as stopped:
        return end_by_signal(stopped.signum)
    return 0


if __name__ == "__main__":
    sys.exit(main())
