"""The three triggers of the daemon's 15-second loop, driven by the fake clock."""

import unittest

import harness
from harness import DaemonTest, MAC, MAC_FILE, utc
from servers import HttpServer
from messages import (TIMER_FIRED as TIMER, TIME_OF_DAY_MATCHED as TIME_MATCH, IDLE_FIRED as IDLE,
                      NO_CHANGES_FOUND)

CONTENT = b"<config><MiscSettings/></config>\n"


class TimerTriggerTest(DaemonTest):
    def test_period_one_fires_every_fourth_tick(self):
        run = self.run_daemon(record={"autoprov_period": 1}, ticks=9)
        self.assertLoopRan(run, 9)
        self.assertEqual(run.ticks_with(TIMER % 1), [4, 8])
        self.assertEqual(run.messages(), [TIMER % 1, TIMER % 1])

    def test_period_two_fires_every_eighth_tick(self):
        run = self.run_daemon(record={"autoprov_period": 2}, ticks=17)
        self.assertLoopRan(run, 17)
        self.assertEqual(run.ticks_with(TIMER % 2), [8, 16])
        self.assertEqual(len(run.messages()), 2)

    def test_each_firing_runs_one_check(self):
        with HttpServer({MAC_FILE: CONTENT}) as server:
            run = self.run_daemon(record={"autoprov_period": 1, "mac_address": MAC,
                                          "autoprov_server": server.url},
                                  old={MAC_FILE: CONTENT}, ticks=8)
        self.assertLoopRan(run, 8)
        self.assertEqual(server.paths(), ["/" + MAC_FILE] * 2)
        for tick in (4, 8):
            self.assertEqual(run.messages_in_tick(tick), [
                TIMER % 1,
                "Cfgwatch looking for %s at %s" % (MAC_FILE, server.url),
                NO_CHANGES_FOUND,
            ])
        self.assertEqual(run.resets(), 0)


    def test_period_is_compared_unsigned(self):
        # Read as a signed number this period would be negative, and every
        # tick would count as overdue.
        run = self.run_daemon(record={"autoprov_period": 2147483648}, ticks=5)
        self.assertLoopRan(run, 5)
        self.assertEqual(run.messages(), [])


class TimeOfDayTriggerTest(DaemonTest):
    def run_around_half_past_seven(self, setting, ticks=9):
        # Tick n happens 15 * n seconds after 07:29:00 UTC: ticks 4 to 7 fall in 07:30.
        run = self.run_daemon(record={"autoprov_time_of_day": setting}, ticks=ticks,
                              start=utc(2026, 3, 2, 7, 29, 0))
        self.assertLoopRan(run, ticks)
        return run

    def test_fires_on_every_tick_of_the_matching_minute(self):
        run = self.run_around_half_past_seven("073000")
        self.assertEqual(run.ticks_with(TIME_MATCH % "073000"), [4, 5, 6, 7])
        self.assertEqual(len(run.messages()), 4)

    def test_seconds_part_does_not_matter(self):
        run = self.run_around_half_past_seven("073059")
        self.assertEqual(run.ticks_with(TIME_MATCH % "073059"), [4, 5, 6, 7])

    def test_other_minutes_never_fire(self):
        run = self.run_around_half_past_seven("073100", ticks=7)
        self.assertEqual(run.messages(), [])

    def test_hours_are_compared_too(self):
        run = self.run_daemon(record={"autoprov_time_of_day": "073000"}, ticks=8,
                              start=utc(2026, 3, 2, 19, 29, 0))
        self.assertLoopRan(run, 8)
        self.assertEqual(run.messages(), [])

    def test_text_that_does_not_parse_wholly_never_fires(self):
        run = self.run_around_half_past_seven("0730ab")
        self.assertEqual(run.messages(), [])

    def test_blank_or_sign_in_front_never_fires(self):
        for setting in (" 73000", "+07300"):
            with self.subTest(setting=setting):
                run = self.run_around_half_past_seven(setting)
                self.assertEqual(run.messages(), [])

    def test_local_time_not_universal_time(self):
        # 06:29 UTC is 07:29 one hour east of Greenwich.
        run = self.run_daemon(record={"autoprov_time_of_day": "073000"}, ticks=5,
                              start=utc(2026, 3, 2, 6, 29, 0), tz="CET-1")
        self.assertLoopRan(run, 5)
        self.assertEqual(run.ticks_with(TIME_MATCH % "073000"), [4, 5])

    def test_local_time_at_midnight(self):
        run = self.run_daemon(record={"autoprov_time_of_day": "000012"}, ticks=5,
                              start=utc(2026, 3, 2, 23, 59, 0))
        self.assertLoopRan(run, 5)
        self.assertEqual(run.ticks_with(TIME_MATCH % "000012"), [4, 5])


class IdleTriggerTest(DaemonTest):
    def test_idle_ten_fires_once_and_removes_the_marker(self):
        run = self.run_daemon(record={"autoprov_idle_minutes": 10}, idle=True, ticks=4)
        self.assertLoopRan(run, 4)
        self.assertEqual(run.ticks_with(IDLE % 10), [1])
        self.assertEqual(run.messages(), [IDLE % 10])
        self.assertFalse(run.idle_left)

    def test_setting_value_shows_in_the_message(self):
        run = self.run_daemon(record={"autoprov_idle_minutes": 45}, idle=True, ticks=2)
        self.assertEqual(run.messages(), [IDLE % 45])
        self.assertFalse(run.idle_left)

    def test_idle_setting_is_compared_unsigned(self):
        # 4294967295 is at least 10; the message prints it as the log's %d does.
        run = self.run_daemon(record={"autoprov_idle_minutes": 4294967295}, idle=True, ticks=2)
        self.assertLoopRan(run, 2)
        self.assertEqual(run.messages(), [IDLE % -1])
        self.assertFalse(run.idle_left)

    def test_idle_five_never_fires_and_leaves_the_marker(self):
        run = self.run_daemon(record={"autoprov_idle_minutes": 5}, idle=True, ticks=4)
        self.assertLoopRan(run, 4)
        self.assertEqual(run.messages(), [])
        self.assertTrue(run.idle_left)

    def test_no_marker_no_check(self):
        run = self.run_daemon(record={"autoprov_idle_minutes": 10}, ticks=4)
        self.assertLoopRan(run, 4)
        self.assertEqual(run.messages(), [])

    def test_marker_that_cannot_be_removed_fires_every_tick(self):
        run = self.run_daemon(record={"autoprov_idle_minutes": 10}, idle="directory", ticks=3)
        self.assertLoopRan(run, 3)
        self.assertEqual(run.ticks_with(IDLE % 10), [1, 2, 3])
        self.assertTrue(run.idle_left)

    def test_check_runs_before_the_marker_goes(self):
        with HttpServer({MAC_FILE: CONTENT}) as server:
            run = self.run_daemon(record={"autoprov_idle_minutes": 10, "mac_address": MAC,
                                          "autoprov_server": server.url},
                                  old={MAC_FILE: CONTENT}, idle=True, ticks=3)
        self.assertEqual(server.paths(), ["/" + MAC_FILE])
        self.assertEqual(run.messages_in_tick(1), [
            IDLE % 10,
            "Cfgwatch looking for %s at %s" % (MAC_FILE, server.url),
            NO_CHANGES_FOUND,
        ])
        self.assertEqual(run.messages_in_tick(2), [])
        self.assertFalse(run.idle_left)


class AllTriggersTest(DaemonTest):
    def test_one_tick_checks_three_times_timer_first(self):
        with HttpServer({MAC_FILE: CONTENT}) as server:
            run = self.run_daemon(
                record={"autoprov_period": 1, "autoprov_time_of_day": "073000",
                        "autoprov_idle_minutes": 10, "mac_address": MAC,
                        "autoprov_server": server.url},
                old={MAC_FILE: CONTENT}, idle="directory", ticks=4,
                start=utc(2026, 3, 2, 7, 29, 0))
        self.assertLoopRan(run, 4)
        check = ["Cfgwatch looking for %s at %s" % (MAC_FILE, server.url),
                 NO_CHANGES_FOUND]
        self.assertEqual(run.messages_in_tick(4),
                         [TIMER % 1] + check + [TIME_MATCH % "073000"] + check +
                         [IDLE % 10] + check)
        self.assertEqual(run.messages_in_tick(3), [IDLE % 10] + check)
        # One request per check: three idle ticks before, three checks on tick 4.
        self.assertEqual(len(server.paths()), 6)


if __name__ == "__main__":
    unittest.main()
