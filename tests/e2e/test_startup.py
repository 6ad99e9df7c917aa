"""Start-up of the installed daemon: its refusals and the start of its loop."""

import unittest

import harness
from harness import DaemonTest, START_LINE
from messages import NO_TRIGGER_CAN_FIRE, PROVISIONING_DISABLED, SETTINGS_UNREADABLE


class StartupRefusalTest(DaemonTest):
    def assertRefused(self, run, message):
        self.assertEqual(run.status, 0)
        self.assertEqual(run.messages(), [message])
        self.assertEqual(run.stderr, message + "\n")
        self.assertEqual(run.stdout, "")
        self.assertEqual(run.ticks, [], "the loop ran")
        self.assertFalse(run.ended_by_clock)
        self.assertEqual(run.resets(), 0)

    def test_missing_settings_record(self):
        run = self.run_daemon(record_file_missing=True, lease="TFTP_SERVER_NAME=127.0.0.1:9\n",
                              idle=True)
        self.assertRefused(run, SETTINGS_UNREADABLE)
        self.assertFalse(run.new_dir_exists)
        self.assertTrue(run.idle_left)

    def test_disabled(self):
        run = self.run_daemon(record={"autoprov_disabled": 1, "autoprov_period": 1,
                                      "autoprov_idle_minutes": 10,
                                      "autoprov_time_of_day": "073000"})
        self.assertRefused(run, PROVISIONING_DISABLED)

    def test_disabled_is_checked_before_the_triggers(self):
        run = self.run_daemon(record={"autoprov_disabled": 255})
        self.assertRefused(run, PROVISIONING_DISABLED)

    def test_no_trigger_can_fire(self):
        run = self.run_daemon(record={"autoprov_period": 0, "autoprov_idle_minutes": 0,
                                      "autoprov_time_of_day": "0730"})
        self.assertRefused(run, NO_TRIGGER_CAN_FIRE)

    def test_no_trigger_with_seven_character_time(self):
        run = self.run_daemon(record={"autoprov_time_of_day": "0730000"})
        self.assertRefused(run, NO_TRIGGER_CAN_FIRE)

    def test_empty_record_never_hits(self):
        run = self.run_daemon(record={})
        self.assertRefused(run, NO_TRIGGER_CAN_FIRE)


class StartupAcceptedTest(DaemonTest):
    """Any one trigger setting lets the loop start, even one that can never fire."""

    def assertStarted(self, record, ticks=2):
        run = self.run_daemon(record=record, ticks=ticks)
        self.assertLoopRan(run, ticks)
        self.assertEqual(run.messages_in_tick(0), [])
        return run

    def test_start_line_on_standard_output_only(self):
        run = self.assertStarted({"autoprov_period": 5})
        self.assertEqual(run.stdout, START_LINE + "\n")
        self.assertNotIn(START_LINE, run.stderr)
        self.assertEqual(run.messages(), [])

    def test_idle_below_ten_still_starts(self):
        run = self.assertStarted({"autoprov_idle_minutes": 1})
        self.assertEqual(run.messages(), [])

    def test_six_character_time_that_is_no_number_still_starts(self):
        run = self.assertStarted({"autoprov_time_of_day": "0730ab"},)
        self.assertEqual(run.messages(), [])

    def test_time_and_no_other_trigger(self):
        self.assertStarted({"autoprov_time_of_day": "235959"})


if __name__ == "__main__":
    unittest.main()
