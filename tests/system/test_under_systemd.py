"""cfgwatch.service under a real systemd, booted in a container whose init is
CFGWATCH_CONTAINER_PID outside it (tools/system-test boots it and installs the
packages there). Commands run inside through nsenter; the container shares
the machine's network, so the servers here listen on 127.0.0.1 and the
daemon in the container reaches them there.

The tests build on each other and run in the order of their names: the first
starts the service, the later ones restart, kill and stop it."""

import base64
import os
import re
import subprocess
import sys
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(os.path.dirname(HERE))
sys.path.insert(0, os.path.join(ROOT, "tests", "e2e"))

from servers import HttpServer, TftpServer  # noqa: E402

CONTAINER_PID = os.environ.get("CFGWATCH_CONTAINER_PID", "")
UNIT = "cfgwatch"
EXAMPLE = os.path.join(ROOT, "tools", "example")
MAC = "00:1a:2b:3c:4d:5e"
MAIN = "001a2b3c4d5e.xml"
PHONE = "001a2b3c4d5e-phone.xml"
RESET_LINE = "sysbus: device reset requested"
CHANGED = "Cfgwatch: The new autoprovisioning file is different. Rebooting device."
IDLE = "Cfgwatch: we've been idle for 10 minutes, checking for autoprovisioning changes"
MOVED_ASIDE = "Cfgwatch error: /tmp/new was not a private directory, moved it to /tmp/new.untrusted-"
LEASE = "/run/systemd/netif/leases/2"
NOBODY = 65534
USER = "device-1a2b3c"
PASSWORD = "provisioning secret"
# Every download may write up to 8 MiB, and a file of exactly that size is
# kept: the unit's limits (file size, memory) must leave room for it.
DOWNLOAD_CAP = 8 * 1024 * 1024
# The confinement directives as systemd reports them for the unit.
CONFINEMENT = {
    "CapabilityBoundingSet": "cap_dac_read_search",
    "NoNewPrivileges": "yes",
    "ProtectSystem": "strict",
    "ReadWritePaths": "/tmp",
    "ReadOnlyPaths": "/run",
    "ProtectHome": "yes",
    "PrivateTmp": "no",
    "PrivateDevices": "yes",
    "PrivateMounts": "yes",
    "ProtectKernelTunables": "yes",
    "ProtectKernelModules": "yes",
    "ProtectKernelLogs": "yes",
    "ProtectControlGroups": "yes",
    "ProtectClock": "yes",
    "ProtectHostname": "yes",
    "ProtectProc": "invisible",
    "ProcSubset": "pid",
    "PrivateIPC": "yes",
    "KeyringMode": "private",
    "RestrictNamespaces": "yes",
    "RestrictRealtime": "yes",
    "RestrictSUIDSGID": "yes",
    "LockPersonality": "yes",
    "MemoryDenyWriteExecute": "yes",
    "SystemCallArchitectures": "native",
    "RestrictAddressFamilies": "AF_INET AF_INET6",
    "UMask": "0077",
    "MemoryMax": str(256 << 20),
    "LimitFSIZE": str(16 << 20),
    "TasksMax": "16",
}
# Generous bounds for things that take one or two 15-second ticks.
CYCLE_SECONDS = 120


def example(name):
    with open(os.path.join(EXAMPLE, name), "rb") as f:
        return f.read()


def eight_mib_phone_file():
    """An honest provisioning file of exactly the download cap, different
    from the applied copy."""
    head = b'<?xml version="1.0" encoding="UTF-8"?>\n<phone>\n  <Ringtone>bells</Ringtone>\n'
    tail = b"</phone>\n"
    entry = b'  <Contact name="reception-%06d">sip:%06d@127.0.0.1</Contact>\n'
    body = bytearray(head)
    number = 0
    while len(body) + len(entry % (0, 0)) + len(tail) <= DOWNLOAD_CAP:
        body += entry % (number, number)
        number += 1
    body += b" " * (DOWNLOAD_CAP - len(body) - len(tail))
    body += tail
    assert len(body) == DOWNLOAD_CAP
    return bytes(body)


def inside(*command, check=True, input=None):
    """Runs a command in the container, in every one of its namespaces."""
    done = subprocess.run(["nsenter", "-t", CONTAINER_PID, "-a", *command],
                          capture_output=True, input=input, timeout=120)
    if check and done.returncode != 0:
        raise AssertionError("in the container, %s failed (%d): %s%s" % (
            command, done.returncode, done.stdout.decode(errors="replace"),
            done.stderr.decode(errors="replace")))
    return done


def text_inside(*command):
    return inside(*command).stdout.decode()


def write_inside(path, content, mode="644"):
    inside("sh", "-c", 'cat >"$1" && chmod "$2" "$1"', "sh", path, mode, input=content)


def show(*properties):
    out = text_inside("systemctl", "show", UNIT, "-p", ",".join(properties))
    values = dict(line.split("=", 1) for line in out.splitlines() if "=" in line)
    return values


def wait_for(what, condition, seconds=CYCLE_SECONDS):
    deadline = time.monotonic() + seconds
    while True:
        value = condition()
        if value:
            return value
        if time.monotonic() > deadline:
            raise AssertionError("waited %d s for %s" % (seconds, what))
        time.sleep(1)


def journal(invocation):
    """What one run of the service (one invocation) wrote to the journal."""
    return text_inside("journalctl", "--no-pager", "-o", "cat",
                       "_SYSTEMD_INVOCATION_ID=" + invocation).splitlines()


def settings(*pairs):
    inside("settingsdb", "set", *pairs)


def prepare_device():
    """The shared files as the rest of the device and its other accounts
    leave them: applied copies that only their owner, another account, may
    read; an idle marker made by that account; and a /tmp/new that a local
    account made first, which the daemon must move aside, not use."""
    inside("rm", "-rf", "/tmp/new", "/tmp/old", "/tmp/idle")
    inside("find", "/tmp", "-maxdepth", "1", "-name", "new.untrusted-*", "-exec",
           "rm", "-rf", "{}", "+")
    inside("mkdir", "-m", "700", "/tmp/old")
    write_inside("/tmp/old/" + MAIN, example("applied-001a2b3c4d5e.xml"), mode="600")
    write_inside("/tmp/old/" + PHONE, example("applied-001a2b3c4d5e-phone.xml"), mode="600")
    inside("touch", "/tmp/idle")
    inside("mkdir", "-m", "700", "/tmp/new")
    inside("chown", "-R", "%d:%d" % (NOBODY, NOBODY), "/tmp/old", "/tmp/idle", "/tmp/new")


class ServiceUnderSystemd(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        if not CONTAINER_PID:
            raise unittest.SkipTest("CFGWATCH_CONTAINER_PID is not set; run tools/system-test")
        cls.phone = eight_mib_phone_file()

    def started_invocation(self):
        return wait_for("the service to run", lambda: (
            show("ActiveState")["ActiveState"] == "active" and show("InvocationID")["InvocationID"]))

    def wait_for_line(self, invocation, line):
        return wait_for("%r in the journal" % line, lambda: line in journal(invocation))

    def test_1_whole_cycle_over_http_after_the_network(self):
        served = {MAIN: example("served-001a2b3c4d5e.xml"), PHONE: self.phone}
        # Installed and not running: without a settings record it ended at
        # start-up, so enable --now is what starts it with the settings below.
        self.assertEqual(show("ActiveState")["ActiveState"], "inactive")
        # With credentials: wget reads them from the daemon's in-memory file
        # through /proc/self/fd, which the unit's view of /proc must keep.
        with HttpServer(served, user=USER, password=PASSWORD) as server:
            inside("settingsdb", "create")
            settings("autoprov_idle_minutes", "10", "mac_address", MAC, "autoprov_use_tftp", "0",
                     "autoprov_http_user", USER, "autoprov_http_password", PASSWORD)
            inside("mkdir", "-p", os.path.dirname(LEASE))
            lease = example("networkd-lease-2").replace(b"@SERVER@", server.url.encode())
            write_inside(LEASE, lease)
            prepare_device()

            inside("systemctl", "enable", "--now", UNIT)
            invocation = self.started_invocation()
            self.wait_for_line(invocation, RESET_LINE)
            lines = journal(invocation)

        self.assertIn("Starting autoprov main loop...", lines)
        self.assertIn(IDLE, lines)
        self.assertTrue(any(line.startswith(MOVED_ASIDE) for line in lines), lines)
        self.assertIn("Cfgwatch: no changes found.", lines)
        self.assertIn(CHANGED, lines)
        authorized = "Basic " + base64.b64encode(("%s:%s" % (USER, PASSWORD)).encode()).decode()
        self.assertEqual([path for path, authorization in server.requests
                          if authorization == authorized], ["/" + MAIN, "/" + PHONE])
        # The downloads are in /tmp/new, whole, and the marker is gone.
        self.assertEqual(inside("cat", "/tmp/new/" + MAIN).stdout, served[MAIN])
        self.assertEqual(inside("cat", "/tmp/new/" + PHONE).stdout, self.phone)
        self.assertEqual(inside("test", "-e", "/tmp/idle", check=False).returncode, 1)
        self.assertEqual(text_inside("stat", "-c", "%a %u", "/tmp/new").split(), ["700", "0"])

        # Enabled for boot, ordered after the network, which was up first.
        self.assertEqual(text_inside("systemctl", "is-enabled", UNIT).strip(), "enabled")
        unit = show("After", "Wants", "ExecMainStartTimestampMonotonic")
        self.assertIn("network-online.target", unit["After"].split())
        self.assertIn("network-online.target", unit["Wants"].split())
        target = text_inside("systemctl", "show", "network-online.target",
                             "-p", "ActiveState,ActiveEnterTimestampMonotonic")
        target = dict(line.split("=", 1) for line in target.splitlines())
        self.assertEqual(target["ActiveState"], "active")
        self.assertLess(int(target["ActiveEnterTimestampMonotonic"]),
                        int(unit["ExecMainStartTimestampMonotonic"]))

    def test_2_changed_settings_taken_by_a_restart_tftp(self):
        tftp_dir = os.path.join(ROOT, "build", "system-test", "tftp")
        server = TftpServer(tftp_dir)
        server.put(MAIN, example("served-001a2b3c4d5e.xml"))
        server.put(PHONE, example("served-001a2b3c4d5e-phone.xml"))
        with server:
            before = show("InvocationID")["InvocationID"]
            settings("autoprov_use_tftp", "1", "autoprov_server", server.address)
            prepare_device()
            inside("systemctl", "restart", UNIT)
            invocation = self.started_invocation()
            self.assertNotEqual(invocation, before)
            self.wait_for_line(invocation, RESET_LINE)
            lines = journal(invocation)
        self.assertIn('Cfgwatch looking for %s at %s' % (MAIN, server.address), lines)
        self.assertIn(CHANGED, lines)
        self.assertEqual(inside("cat", "/tmp/new/" + PHONE).stdout,
                         example("served-001a2b3c4d5e-phone.xml"))
        self.assertEqual(inside("test", "-e", "/tmp/idle", check=False).returncode, 1)

    def test_3_started_again_after_sigkill(self):
        unit = show("MainPID", "NRestarts", "RestartUSec", "ActiveState")
        self.assertEqual(unit["ActiveState"], "active")
        self.assertEqual(unit["RestartUSec"], "15s")
        inside("systemctl", "kill", "--signal=SIGKILL", UNIT)
        # The death is seen and a restart is scheduled, not made at once:
        # the unit waits in auto-restart for its 15 seconds.
        waiting = wait_for("the scheduled restart", lambda: (
            show("SubState")["SubState"] == "auto-restart" and show("Result", "MainPID")),
            seconds=14)
        self.assertEqual(waiting, {"Result": "signal", "MainPID": "0"})
        again = wait_for("the restart", lambda: (
            show("NRestarts")["NRestarts"] != unit["NRestarts"] and
            show("ActiveState")["ActiveState"] == "active" and show("MainPID", "NRestarts")))
        self.assertEqual(int(again["NRestarts"]), int(unit["NRestarts"]) + 1)
        self.assertNotIn(again["MainPID"], ("0", unit["MainPID"]))

    def test_4_not_started_again_after_status_0_at_start_up(self):
        settings("autoprov_disabled", "1")
        inside("systemctl", "restart", UNIT)
        ended = wait_for("the start-up end", lambda: (
            show("ActiveState")["ActiveState"] in ("inactive", "failed") and
            show("ActiveState", "SubState", "Result", "ExecMainStatus", "NRestarts",
                 "InvocationID")), seconds=60)
        self.assertEqual((ended["ActiveState"], ended["SubState"], ended["Result"],
                          ended["ExecMainStatus"]), ("inactive", "dead", "success", "0"))
        self.assertIn("Cfgwatch disabled.", journal(ended["InvocationID"]))
        # Past the restart delay it is still stopped.
        time.sleep(20)
        later = show("ActiveState", "NRestarts")
        self.assertEqual(later, {"ActiveState": "inactive", "NRestarts": ended["NRestarts"]})
        settings("autoprov_disabled", "0")

    def test_5_confined_as_the_unit_says(self):
        inside("systemctl", "start", UNIT)
        self.started_invocation()
        pid = show("MainPID")["MainPID"]
        self.assertNotEqual(pid, "0")

        # systemd understood every directive (one it did not know would be
        # left at its default here).
        unit = show(*CONFINEMENT)
        self.assertEqual(unit, CONFINEMENT)

        # The kernel holds the running daemon to them.
        status = dict(line.split(":\t", 1) for line in
                      text_inside("cat", "/proc/%s/status" % pid).splitlines() if ":\t" in line)
        self.assertEqual(status["NoNewPrivs"].strip(), "1")
        self.assertEqual(status["Seccomp"].strip(), "2")
        self.assertEqual(status["Umask"].strip(), "0077")
        # CAP_DAC_READ_SEARCH (bit 2) alone.
        self.assertEqual(int(status["CapBnd"], 16), 1 << 2)
        self.assertEqual(int(status["CapEff"], 16), 1 << 2)
        limits = text_inside("cat", "/proc/%s/limits" % pid)
        self.assertRegex(limits, r"Max file size +%d +%d " % (16 << 20, 16 << 20))

        def in_its_mounts(*command):
            return inside("nsenter", "-t", pid, "-m", *command, check=False)

        def mount_options(path):
            found = in_its_mounts("findmnt", "-n", "-o", "OPTIONS", "--target", path)
            self.assertEqual(found.returncode, 0, found)
            return found.stdout.decode().strip().split(",")

        for path in ("/usr", "/etc", "/run/systemd/netif", "/var"):
            self.assertIn("ro", mount_options(path), path)
        self.assertIn("rw", mount_options("/tmp"))
        # Home directories are empty and inaccessible in its view.
        inside("touch", "/root/.seen-by-cfgwatch")
        self.assertEqual(in_its_mounts("test", "-e", "/root/.seen-by-cfgwatch").returncode, 1)
        self.assertEqual(in_its_mounts("stat", "-c", "%a", "/root").stdout.strip(), b"0")
        self.assertEqual(in_its_mounts("test", "-c", "/dev/null").returncode, 0)
        # A private /dev: the container's console device is not in it.
        self.assertEqual(in_its_mounts("test", "-e", "/dev/console").returncode, 1)

        security = text_inside("systemd-analyze", "security", "--no-pager", UNIT)
        score = re.search(r"Overall exposure level for cfgwatch.service: ([0-9.]+)", security)
        self.assertIsNotNone(score, security)
        print("\n   systemd-analyze security: exposure %s" % score.group(1), file=sys.stderr)
        self.assertLessEqual(float(score.group(1)), 3.0, security)

    def test_6_device_drop_in_example_adds_to_the_unit(self):
        # Every line of the example, uncommented, as a device that needed
        # them all would have it.
        with open(os.path.join(ROOT, "daemon", "cfgwatch-device.conf.example")) as f:
            drop_in = re.sub(r"(?m)^#([A-Z][A-Za-z]*=)", r"\1", f.read())
        directory = "/etc/systemd/system/cfgwatch.service.d"
        inside("mkdir", "-p", directory, "/var/lib/settingsdb")
        write_inside(directory + "/device.conf", drop_in.encode())
        try:
            inside("systemctl", "daemon-reload")
            inside("systemctl", "restart", UNIT)
            invocation = self.started_invocation()
            self.wait_for_line(invocation, "Starting autoprov main loop...")
            unit = show("CapabilityBoundingSet", "RestrictAddressFamilies", "ReadWritePaths",
                        "PrivateDevices", "PrivateIPC", "SystemCallFilter")
            self.assertEqual(unit["CapabilityBoundingSet"], "cap_dac_read_search cap_sys_boot")
            self.assertEqual(unit["RestrictAddressFamilies"], "AF_INET AF_INET6 AF_NETLINK AF_UNIX")
            self.assertEqual(unit["ReadWritePaths"], "/tmp /var/lib/settingsdb")
            self.assertEqual((unit["PrivateDevices"], unit["PrivateIPC"]), ("no", "no"))
            calls = unit["SystemCallFilter"].split()
            self.assertIn("reboot", calls)
            # The rest of the privileged calls stay refused.
            self.assertNotIn("mount", calls)
            self.assertNotIn("setuid", calls)
        finally:
            inside("rm", "-rf", directory, "/var/lib/settingsdb")
            inside("systemctl", "daemon-reload")
            inside("systemctl", "restart", UNIT)


if __name__ == "__main__":
    unittest.main()
