"""A server that sends a file slowly but steadily no longer holds the daemon:
every download ends two minutes after it began, the downloader is stopped,
nothing of the file is kept, and the loop goes on. This module takes about
two minutes of real time: the deadline is on the real monotonic clock, which
the fake clock leaves alone, and the HTTP and TFTP cases run side by side."""

import threading
import time
import unittest

from harness import DaemonTest, MAC
from streaming_servers import StreamingHttpServer, StreamingTftpServer
from messages import (LOOKING_FOR_MAIN_FILE as LOOKING, IDLE_TEN_MINUTES as IDLE,
                      MAIN_FILE_NOT_DOWNLOADED as NOT_DOWNLOADED, WGET_CALL_FAILED,
                      TFTP_CALL_FAILED)

NAME = "prov.xml"
DEADLINE_SECONDS = 120
SIGTERM_ENDED = "signal 15"


def run_side_by_side(*jobs):
    """Runs each job in a thread of its own; returns their results in order,
    raising the first exception one of them raised."""
    results = [None] * len(jobs)
    errors = []

    def run(index, job):
        try:
            results[index] = job()
        except BaseException as problem:  # handed to the test's own thread
            errors.append(problem)

    threads = [threading.Thread(target=run, args=(i, job)) for i, job in enumerate(jobs)]
    for thread in threads:
        thread.start()
    for thread in threads:
        thread.join()
    if errors:
        raise errors[0]
    return results


class DeadlineTest(DaemonTest):
    def timed_check(self, server_text, **record):
        # One named file, so one download: a missing MAC file would be
        # followed by a second try with the default name.
        settings = {"autoprov_idle_minutes": 10, "mac_address": MAC,
                    "autoprov_server": server_text, "autoprov_file": NAME}
        settings.update(record)
        started = time.monotonic()
        run = self.run_daemon(record=settings, idle=True, ticks=2)
        return run, time.monotonic() - started

    def assertCutOffAtTheDeadline(self, run, seconds, program, failure):
        # The loop went on to its second tick: the daemon was not held.
        self.assertLoopRan(run, 2)
        self.assertEqual(run.messages_in_tick(1), [
            IDLE, LOOKING % (NAME, run.server_text), failure, NOT_DOWNLOADED])
        self.assertEqual(run.messages_in_tick(2), [])
        started = [(argv[0], ended) for argv, ended in run.programs()]
        self.assertIn((program, SIGTERM_ENDED), started)
        # Nothing of the file is left, not even a partial file of the client.
        self.assertEqual(run.new, {})
        self.assertEqual([path for path in run.tmp_listing if path], [".", "./new"])
        # The deadline, not a time-out of the downloader's own, ended it.
        self.assertGreaterEqual(seconds, DEADLINE_SECONDS)
        self.assertLess(seconds, DEADLINE_SECONDS + 60)

    def test_trickling_servers_are_cut_off_after_two_minutes(self):
        # One byte every 5 seconds keeps wget's 10-second time-out from ever
        # firing; one block every 0.9 seconds does the same for the TFTP
        # client's 1-second one.
        with StreamingHttpServer(b"x", interval=5, limit=80, declared=1000) as http, \
                StreamingTftpServer(interval=0.9, limit=300) as tftp:
            (http_run, http_seconds), (tftp_run, tftp_seconds) = run_side_by_side(
                lambda: self.timed_check(http.url),
                lambda: self.timed_check(tftp.address, autoprov_use_tftp=1))
        http_run.server_text = http.url
        tftp_run.server_text = tftp.address
        self.assertCutOffAtTheDeadline(http_run, http_seconds, "wget",
                                       WGET_CALL_FAILED)
        self.assertCutOffAtTheDeadline(tftp_run, tftp_seconds, "minimumTFTP.py",
                                       TFTP_CALL_FAILED)
        # Both servers were still sending when the client went away.
        self.assertEqual(http.paths, ["/" + NAME])
        self.assertTrue(http.client_left.is_set() or http.sent < http.limit)
        self.assertLess(http.sent, http.limit)
        self.assertLess(tftp.acknowledged, tftp.limit)
        self.assertGreater(tftp.acknowledged, 100)


if __name__ == "__main__":
    unittest.main()
