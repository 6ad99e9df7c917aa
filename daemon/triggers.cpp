#include "daemon/triggers.h"

#include "daemon/bounded_text.h"
#include "daemon/discovery.h"
#include "daemon/log_messages.h"
#include "daemon/run_program.h"
#include "platform/sysbus.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <unistd.h>

namespace {

constexpr size_t time_of_day_length = 6;

bool read_local_time(struct tm *now) {
    time_t seconds = time(nullptr);
    const struct tm *local = localtime(&seconds);
    if (local == nullptr) {
        return false;
    }
    *now = *local;
    return true;
}

/* The setting copied out of its field, so that a field without a terminator
 * cannot lead strtol past it. */
void copy_time_of_day(char (&setting)[NVCFG_TIME_OF_DAY_CAPACITY + 1], const char *field) {
    copy_text_field(setting, sizeof setting, field, NVCFG_TIME_OF_DAY_CAPACITY);
}

} // namespace

bool timer_trigger_due(trigger_state &state, uint32_t period_minutes) {
    if (period_minutes == 0) {
        return false;
    }
    state.ticks_since_timer += 1;
    if ((state.ticks_since_timer >> 2) >= period_minutes) {
        state.ticks_since_timer = 0;
        return true;
    }
    return false;
}

bool time_of_day_setting_valid(const char *setting_field) {
    char setting[NVCFG_TIME_OF_DAY_CAPACITY + 1];
    copy_time_of_day(setting, setting_field);
    char *parse_end = nullptr;
    strtol(setting, &parse_end, 10);
    return strlen(setting) == time_of_day_length && parse_end == setting + time_of_day_length;
}

bool time_of_day_matches(const char *setting_field, const struct tm &now) {
    if (!time_of_day_setting_valid(setting_field)) {
        return false;
    }
    char hour_minute[32];
    if (!format_bounded(hour_minute, sizeof hour_minute, "%02d%02d", now.tm_hour, now.tm_min)) {
        return false;
    }
    return strlen(hour_minute) == 4 && memcmp(hour_minute, setting_field, 4) == 0;
}

bool idle_trigger_enabled(uint32_t idle_minutes) {
    return idle_minutes >= 10;
}

tick_environment device_tick_environment() {
    return tick_environment{read_local_time, IDLE_MARKER_PATH, discover_server};
}

void run_tick(const nvcfg *record, trigger_state &state, const tick_environment &environment) {
    if (timer_trigger_due(state, record->autoprov_period)) {
        autoprov_log(TIMER_FIRED, static_cast<int>(record->autoprov_period));
        environment.discover(record);
    }

    // The clock is read only for a usable setting, as the setting is the
    // only reason to read it.
    struct tm now;
    if (time_of_day_setting_valid(record->autoprov_time_of_day) && environment.local_time(&now) &&
        time_of_day_matches(record->autoprov_time_of_day, now)) {
        char setting[NVCFG_TIME_OF_DAY_CAPACITY + 1];
        copy_time_of_day(setting, record->autoprov_time_of_day);
        autoprov_log(TIME_OF_DAY_MATCHED, setting);
        environment.discover(record);
    }

    if (idle_trigger_enabled(record->autoprov_idle_minutes) &&
        access(environment.idle_marker_path, F_OK) == 0) {
        autoprov_log(IDLE_FIRED, static_cast<int>(record->autoprov_idle_minutes));
        environment.discover(record);
        // Removed only after the check, so a check that restarts the device
        // leaves the marker for the next start.
        const char *const remove_marker[] = {"rm", environment.idle_marker_path, nullptr};
        run_program(remove_marker);
    }
}
