"""Runs the installed programs the way the device does, and reads back what
they did.

Paths come from the environment that CTest sets (see CMakeLists.txt):
E2E_PREFIX (the installation under test), E2E_WORK_DIR (scratch space for this
test module), E2E_FAKE_CLOCK (the preload library), E2E_SANITIZED."""

import calendar
import os
import shlex
import shutil
import subprocess
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
PREFIX = os.environ.get("E2E_PREFIX", "")
WORK_DIR = os.environ.get("E2E_WORK_DIR", "")
FAKE_CLOCK = os.environ.get("E2E_FAKE_CLOCK", "")
SANITIZED = os.environ.get("E2E_SANITIZED", "0") == "1"
RUNNER = os.path.join(HERE, "in_namespace.sh")

MAC = "00:1a:2b:3c:4d:5e"
MAC_FILE = "001a2b3c4d5e.xml"
DEFAULT_FILE = "000000ef.xml"
RESET_LINE = "sysbus: device reset requested"
LEASE_DIRECTORY = "/run/systemd/netif/leases/"
LEASE_FILE = LEASE_DIRECTORY + "2"
START_LINE = "Starting autoprov main loop..."


def program(name):
    return os.path.join(PREFIX, "bin", name)


def check_environment(test):
    if os.geteuid() != 0:
        test.fail("the end-to-end tests need root: they mount tmpfs in private namespaces")
    if not PREFIX or not os.path.isdir(PREFIX):
        test.fail("E2E_PREFIX does not name an installation; run through ctest")
    if not WORK_DIR:
        test.fail("E2E_WORK_DIR is not set; run through ctest")


def utc(year, month, day, hour, minute, second=0):
    return calendar.timegm((year, month, day, hour, minute, second, 0, 0, 0))


class Workspace:
    """A fresh directory under the module's work directory, one per test."""

    counter = 0

    def __init__(self, test):
        Workspace.counter += 1
        name = "%s-%d" % (test.id().split(".")[-1], Workspace.counter)
        self.path = os.path.join(WORK_DIR, name)
        shutil.rmtree(self.path, ignore_errors=True)
        os.makedirs(self.path)

    def sub(self, *parts):
        path = os.path.join(self.path, *parts)
        os.makedirs(path, exist_ok=True)
        return path


def settingsdb(record_file, *arguments):
    environment = {"PATH": "/usr/bin:/bin", "SETTINGSDB_FILE": record_file}
    return subprocess.run([program("settingsdb"), *arguments], env=environment,
                          capture_output=True, text=True, timeout=60)


def make_record(record_file, **fields):
    """Creates a settings record with the installed settings tool; fields not
    given keep the tool's defaults."""
    created = settingsdb(record_file, "create")
    if created.returncode != 0:
        raise AssertionError("settingsdb create failed: %r" % (created,))
    if fields:
        arguments = []
        for name, value in fields.items():
            arguments += [name, str(value)]
        changed = settingsdb(record_file, "set", *arguments)
        if changed.returncode != 0:
            raise AssertionError("settingsdb set failed: %r" % (changed,))


def unescape(payload):
    out = []
    i = 0
    while i < len(payload):
        c = payload[i]
        if c == "\\" and i + 1 < len(payload):
            if payload[i + 1] == "\\":
                out.append("\\")
                i += 2
                continue
            if payload[i + 1] == "x":
                out.append(chr(int(payload[i + 2:i + 4], 16)))
                i += 4
                continue
        out.append(c)
        i += 1
    return "".join(out)


class Run:
    """What one daemon run left behind."""

    def __init__(self, output, trace_file):
        def read(name):
            path = os.path.join(output, name)
            if not os.path.exists(path):
                return None
            with open(path, "rb") as f:
                return f.read()

        self.stdout = read("stdout").decode("latin-1")
        self.stderr = read("stderr").decode("latin-1")
        self.status = int(read("status").decode().strip())
        self.idle_left = os.path.exists(os.path.join(output, "idle"))
        self.tmp_listing = read("tmp-listing").decode("latin-1").split("\n")
        self.run_listing = read("run-listing").decode("latin-1").split("\n")
        self.new = self._files(os.path.join(output, "new"))
        self.old = self._files(os.path.join(output, "old"))
        self.new_dir_exists = os.path.isdir(os.path.join(output, "new"))
        self.victims = self._files(os.path.join(output, "victims"))
        # {path under /tmp: (octal mode, owner, find's type letter)}
        self.tmp_modes = {}
        for line in (read("tmp-modes") or b"").decode("latin-1").split("\n"):
            if line:
                mode, owner, kind, path = line.split(" ", 3)
                self.tmp_modes[path[2:] if path.startswith("./") else path] = (
                    int(mode, 8), owner, kind)
        self.attacker_output = (read("attacker-output") or b"").decode("latin-1")
        self.attacker_after_output = (read("attacker-after-output") or b"").decode("latin-1")
        # Trace: [(tick, kind, payload)] of log messages and resets, tick 0
        # being start-up; the programs started are kept apart.
        self.events = []
        self.process_events = []
        # [(tick, "access" | "fopen" | "open", path)] for the lease directory.
        self.lease_calls = []
        self.ticks = []
        self.ended_by_clock = False
        # The daemon's peak resident memory (VmHWM, KiB) at its last sleep.
        self.peak_memory_kib = 0
        tick = 0
        trace = b""
        if os.path.exists(trace_file):
            with open(trace_file, "rb") as f:
                trace = f.read()
        for line in trace.decode("latin-1").split("\n"):
            if not line:
                continue
            kind, _, payload = line.partition(" ")
            if kind == "tick":
                number, seconds, now = payload.split(" ")
                tick = int(number)
                self.ticks.append((tick, int(seconds), int(now)))
            elif kind == "log":
                self.events.append((tick, "log", unescape(payload)))
            elif kind == "reset":
                self.events.append((tick, "reset", None))
            elif kind == "spawn":
                self.process_events.append(("spawn", unescape(payload).split("\x1f")))
            elif kind == "ended":
                self.process_events.append(("ended", payload))
            elif kind == "file":
                call, _, path = payload.partition(" ")
                self.lease_calls.append((tick, call, unescape(path)))
            elif kind == "memory":
                self.peak_memory_kib = max(self.peak_memory_kib, int(payload))
            elif kind == "end":
                self.ended_by_clock = True

    @staticmethod
    def _files(directory):
        files = {}
        if os.path.isdir(directory):
            for name in sorted(os.listdir(directory)):
                path = os.path.join(directory, name)
                if os.path.isfile(path):
                    with open(path, "rb") as f:
                        files[name] = f.read()
        return files

    def messages(self):
        """Every log message, exactly as the daemon formatted it."""
        return [payload for _, kind, payload in self.events if kind == "log"]

    def messages_in_tick(self, tick):
        return [p for t, kind, p in self.events if kind == "log" and t == tick]

    def ticks_with(self, message):
        return sorted({t for t, kind, p in self.events if kind == "log" and p == message})

    def programs(self):
        """[(argument vector, how it ended)] of every program the daemon started.
        A command line run through the shell counts as the words the shell
        makes of it."""
        started = []
        for kind, payload in self.process_events:
            if kind == "spawn":
                if payload[:2] == ["/bin/sh", "-c"] and len(payload) == 3:
                    payload = shlex.split(payload[2])
                started.append([payload, None])
            elif kind == "ended" and started and started[-1][1] is None:
                started[-1][1] = payload
        return [tuple(entry) for entry in started]

    def resets(self):
        return sum(1 for _, kind, _ in self.events if kind == "reset")

    def stderr_lines(self):
        return self.stderr.split("\n")[:-1] if self.stderr.endswith("\n") else self.stderr.split("\n")


def expected_stderr(run):
    """The lines the host IPC library writes for the traced calls: each
    message on its own line (a message's own final line feed is not doubled),
    and one notice per reset."""
    out = []
    for _, kind, payload in run.events:
        if kind == "log":
            out.append(payload if payload.endswith("\n") else payload + "\n")
        else:
            out.append(RESET_LINE + "\n")
    return "".join(out)


# What the daemon itself writes; anything else on its standard error comes
# from the programs it starts (rm, the TFTP client), which share it.
DAEMON_LINE = ("Cfgwatch", "sysbus: ", '"')


def daemon_stderr(run):
    return "".join(line + "\n" for line in run.stderr_lines() if line.startswith(DAEMON_LINE))


class DaemonTest(unittest.TestCase):
    """Base for tests that run the installed cfgwatch."""

    maxDiff = None

    def setUp(self):
        check_environment(self)
        self.workspace = Workspace(self)

    def run_daemon(self, record=None, lease=None, old=None, new=None, idle=False,
                   ticks=1, start=None, record_file_missing=False, check_stderr=True,
                   modes=None, bounding_set=None, tz="UTC", victims=None, attacker=None,
                   attacker_after=None):
        """Runs the installed cfgwatch for `ticks` ticks of the fake clock.

        record: settings fields for the installed settings tool; lease: the
        text of /run/systemd/netif/leases/2; old/new: {name: bytes} laid out in
        /tmp/old and /tmp/new beforehand; idle: create /tmp/idle (True) or make it a
        non-empty directory that "rm" cannot remove ("directory"); start: the
        fake clock's first moment (seconds since the epoch, UTC); modes:
        {path: octal mode} applied inside the namespace before the start;
        bounding_set: capabilities the daemon runs without; tz: the daemon's
        time zone; victims: {name: bytes}, root's files in /run/victims;
        attacker, attacker_after: shell scripts that the unprivileged user
        65534 runs in /tmp before the daemon starts and after it ended."""
        ws = self.workspace
        # Runs may go on side by side in threads: each claims its own
        # directory, and mkdir lets only one of them have a name.
        run_id = len(os.listdir(ws.path))
        while True:
            try:
                os.mkdir(os.path.join(ws.path, "run%d" % run_id))
                break
            except FileExistsError:
                run_id += 1
        scenario = ws.sub("run%d" % run_id, "scenario")
        output = ws.sub("run%d" % run_id, "output")
        record_file = os.path.join(ws.path, "run%d" % run_id, "nvcfg.bin")
        if not record_file_missing:
            make_record(record_file, **(record or {}))
        with open(os.path.join(scenario, "resolv.conf"), "w") as f:
            f.write("nameserver 127.0.0.1\n")
        if lease is not None:
            with open(os.path.join(scenario, "lease"), "w") as f:
                f.write(lease)
        for name, files in (("old", old), ("new", new)):
            if files is not None:
                directory = ws.sub("run%d" % run_id, "scenario", name)
                for file_name, content in files.items():
                    with open(os.path.join(directory, file_name), "wb") as f:
                        f.write(content)
        if idle == "directory":
            ws.sub("run%d" % run_id, "scenario", "idle", "keep")
        elif idle:
            open(os.path.join(scenario, "idle"), "w").close()
        if victims is not None:
            directory = ws.sub("run%d" % run_id, "scenario", "victims")
            for file_name, content in victims.items():
                with open(os.path.join(directory, file_name), "wb") as f:
                    f.write(content)
        for name, script in (("attacker", attacker), ("attacker-after", attacker_after)):
            if script is not None:
                with open(os.path.join(scenario, name), "w") as f:
                    f.write("set -e\n" + script)
        if modes:
            with open(os.path.join(scenario, "modes"), "w") as f:
                for path, mode in modes.items():
                    f.write("%o %s\n" % (mode, path))
        if bounding_set:
            with open(os.path.join(scenario, "bounding-set"), "w") as f:
                f.write(bounding_set)
        trace_file = os.path.join(output, "trace")
        environment = {
            "PATH": "%s:/usr/bin:/bin" % os.path.join(PREFIX, "bin"),
            "TZ": tz,
            "LC_ALL": "C",
            "SETTINGSDB_FILE": record_file,
            "LD_PRELOAD": FAKE_CLOCK,
            "E2E_FAKE_PROGRAM": "cfgwatch",
            "E2E_CLOCK_START": str(start if start is not None else utc(2026, 3, 2, 12, 0)),
            "E2E_CLOCK_TICKS": str(ticks),
            "E2E_TRACE_FILE": trace_file,
            "E2E_WATCH_PATH": LEASE_DIRECTORY,
        }
        if SANITIZED:
            # The preloaded clock comes before the sanitizer runtime.
            asan = os.environ.get("ASAN_OPTIONS", "")
            environment["ASAN_OPTIONS"] = (asan + ":" if asan else "") + "verify_asan_link_order=0"
            if "UBSAN_OPTIONS" in os.environ:
                environment["UBSAN_OPTIONS"] = os.environ["UBSAN_OPTIONS"]
        with open(os.path.join(scenario, "env"), "w") as f:
            for name, value in environment.items():
                f.write("%s=%s\n" % (name, value))
        finished = subprocess.run(
            ["unshare", "--mount", "--propagation", "private", "/bin/sh", RUNNER,
             scenario, output, program("cfgwatch")],
            capture_output=True, text=True, timeout=400)
        self.assertEqual(finished.returncode, 0,
                         "namespace runner failed: %s%s" % (finished.stdout, finished.stderr))
        run = Run(output, trace_file)
        if check_stderr:
            # The trace is only an observer: what reached standard error must be
            # exactly what the IPC library makes of the traced calls.
            self.assertEqual(daemon_stderr(run), expected_stderr(run))
            self.assertTrue(run.stderr.endswith("\n") or not run.stderr)
        return run

    def assertLoopRan(self, run, ticks):
        """The daemon started its loop, slept 15 seconds per tick, and was still
        running when the fake clock ended it."""
        self.assertEqual(run.stdout, START_LINE + "\n")
        self.assertEqual(run.status, 0)
        self.assertTrue(run.ended_by_clock, "the daemon did not reach tick %d" % (ticks + 1))
        self.assertEqual([t for t, _, _ in run.ticks], list(range(1, ticks + 1)))
        self.assertTrue(all(seconds == 15 for _, seconds, _ in run.ticks), run.ticks)


SERVER_KEYS = ("VENDOR_SPECIFIC=", "WWW_SERVER=", "TFTP_SERVER_ADDRESS=", "TFTP_SERVER_NAME=")


def lease(vendor=None, www=None, tftp_address=None, tftp_name=None, extra=""):
    """A lease in the form systemd-networkd writes (modelled on a device's
    lease, every address on the loopback), carrying only the server keys given.
    vendor is the raw hexadecimal value of option 43."""
    with open(os.path.join(HERE, "data", "networkd-lease-2")) as f:
        lines = [line for line in f.read().split("\n")
                 if line and not line.startswith(SERVER_KEYS)]
    tail = lines.pop()  # CLIENTID comes last, as networkd writes it
    for key, value in zip(SERVER_KEYS, (vendor, www, tftp_address, tftp_name)):
        if value is not None:
            lines.append(key + value)
    lines.append(tail)
    return "\n".join(lines) + "\n" + extra


def vendor_hex(url, upper=False):
    """Option 43 as networkd stores it: sub-option 1, a length byte, the URL."""
    value = (bytes([1, len(url)]) + url.encode()).hex()
    return value.upper() if upper else value
