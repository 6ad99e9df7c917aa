/* When a provisioning check is due: the timer, the time of day and the idle
 * marker, tested in that order on every 15-second tick. */
#ifndef DAEMON_TRIGGERS_H
#define DAEMON_TRIGGERS_H

#include "platform/nvcfg.h"

#include <stdint.h>
#include <time.h>

/* Seconds between ticks. */
constexpr unsigned TICK_SECONDS = 15;

/* The marker that something else on the device leaves when it has been idle. */
constexpr const char *IDLE_MARKER_PATH = "/tmp/idle";

/* What survives from one tick to the next. */
struct trigger_state {
    uint32_t ticks_since_timer; /* ticks since the timer last fired */
};

/* Counts one tick while the timer is on (period_minutes non-zero). True
 * when period_minutes minutes of ticks have gone by, four ticks to the
 * minute; the count then starts again. */
bool timer_trigger_due(trigger_state &state, uint32_t period_minutes);

/* The time-of-day setting as stored: a text field of NVCFG_TIME_OF_DAY_CAPACITY
 * bytes. True when it is exactly six characters long and reads whole as a
 * base-10 number (leading blanks and a sign allowed). */
bool time_of_day_setting_valid(const char *setting_field);

/* True when the setting is valid and its first four characters equal the
 * hour and minute of now, "%02d%02d". */
bool time_of_day_matches(const char *setting_field, const struct tm &now);

/* The idle marker is honoured only from ten minutes up. */
bool idle_trigger_enabled(uint32_t idle_minutes);

/* What a tick needs from outside. */
struct tick_environment {
    /* Fills the current local time; false when it cannot be read. */
    bool (*local_time)(struct tm *now);
    const char *idle_marker_path;
    void (*discover)(const nvcfg *record);
};

/* The device's clock, idle marker and server discovery. */
tick_environment device_tick_environment();

/* Tests the three triggers once, in order, and runs discovery for each that
 * is due; after an idle-triggered check the marker is removed. */
void run_tick(const nvcfg *record, trigger_state &state, const tick_environment &environment);

#endif
