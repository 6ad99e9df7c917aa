"""Peak memory of the installed cfgwatch over one check against a hostile
server, for each kind of document a server can send to make the parse or the
download grow: dense markup of 8 MiB (the download cap), entity expansion,
and an honest file for comparison. Each check runs as in the end-to-end
tests (private mount namespace, loopback HTTP server, fake clock); the figure
is the daemon's VmHWM at its next sleep, so it covers the whole check.

Run through tools/memory-under-attack, which builds and installs first."""

import os
import sys
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "e2e"))

import harness  # noqa: E402
from harness import DaemonTest, MAC, MAC_FILE  # noqa: E402
from servers import HttpServer  # noqa: E402

CAP = 8 << 20
GOAL_KIB = 64 * 1024


def fill(head, unit, tail, size=CAP):
    """head, then unit repeated (with a counter where unit holds %d), then tail,
    together at most size bytes."""
    parts, used, n = [head], len(head) + len(tail), 0
    while True:
        piece = unit % n if b"%d" in unit else unit
        if used + len(piece) > size:
            break
        parts.append(piece)
        used += len(piece)
        n += 1
    parts.append(tail)
    return b"".join(parts)


def honest(size):
    return fill(b'<?xml version="1.0"?>\n<Provisioning>\n',
                b'  <Setting name="param.%d" type="text" perm="rw">value &amp; text</Setting>\n',
                b"<MiscSettings/></Provisioning>\n", size)


def entity_bomb(references, entity_size):
    return (b"<!DOCTYPE config [<!ENTITY b \"" + b"x" * entity_size + b"\">]>\n<config>"
            + b"<a>&b;</a>" * references + b"</config>\n")


def listing(name):
    return (b"<config><MiscSettings><AutoprovFile>" + name.encode() +
            b"</AutoprovFile></MiscSettings></config>\n")


SCENARIOS = [
    ("honest provisioning file, 1 MiB", {MAC_FILE: honest(1 << 20)}),
    ("honest provisioning file, 8 MiB", {MAC_FILE: honest(CAP)}),
    ("8 MiB of empty elements", {MAC_FILE: fill(b"<r>", b"<a/>", b"</r>")}),
    ("8 MiB of elements of distinct names", {MAC_FILE: fill(b"<r>", b"<n%d/>", b"</r>")}),
    ("8 MiB of nested elements", {MAC_FILE: b"<a>" * (CAP // 7) + b"</a>" * (CAP // 7)}),
    ("8 MiB of attributes on one tag", {MAC_FILE: fill(b"<r", b' a%d=""', b"/>")}),
    ("8 MiB of attribute defaults", {MAC_FILE: fill(
        b"<!DOCTYPE r [<!ATTLIST a " + b" ".join(b"d%d CDATA 'v'" % i for i in range(64))
        + b">]><r>", b"<a/>", b"</r>")}),
    ("208 KB: 20,000 texts referring to an 8000-byte entity", {MAC_FILE: entity_bomb(20000, 8000)}),
    ("408 KB: 40,000 texts referring to an 8000-byte entity", {MAC_FILE: entity_bomb(40000, 8000)}),
    ("honest 8 MiB main file listing 8 MiB of elements",
     {MAC_FILE: fill(b"<Provisioning><MiscSettings><AutoprovFile>b.xml</AutoprovFile>"
                     b"</MiscSettings>\n",
                     b'  <Setting name="param.%d" type="text" perm="rw">value</Setting>\n',
                     b"</Provisioning>\n"),
      "b.xml": fill(b"<r>", b"<a/>", b"</r>")}),
]


class Measure(DaemonTest):
    def runTest(self):
        pass


def main():
    measure = Measure()
    measure.setUp()
    worst = 0
    print("%-52s %10s %12s  %s" % ("what the server sends", "bytes", "peak KiB", "last message"))
    for label, files in SCENARIOS:
        with HttpServer(files) as server:
            run = measure.run_daemon(
                record={"autoprov_idle_minutes": 10, "mac_address": MAC,
                        "autoprov_server": server.url},
                old={MAC_FILE: b"<config/>"}, idle=True, ticks=1, check_stderr=False)
        size = sum(len(content) for content in files.values())
        last = run.messages()[-1].rstrip("\n") if run.messages() else "(none)"
        print("%-52s %10d %12d  %s" % (label, size, run.peak_memory_kib, last[:60]))
        worst = max(worst, run.peak_memory_kib)
    print("worst: %d KiB; goal: under %d KiB" % (worst, GOAL_KIB))
    return 0 if worst < GOAL_KIB else 1


if __name__ == "__main__":
    sys.exit(main())
