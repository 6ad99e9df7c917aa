#include "daemon/startup.h"

#include "daemon/log_messages.h"
#include "platform/sysbus.h"

#include <cstdio>
#include <cstring>

bool daemon_may_start(int config_status, const nvcfg *record) {
    if (config_status != 0) {
        autoprov_log(SETTINGS_UNREADABLE);
        return false;
    }
    if (record->autoprov_disabled != 0) {
        autoprov_log(PROVISIONING_DISABLED);
        return false;
    }
    // Any one trigger that might fire keeps the daemon running, even one that
    // the loop will later find unusable.
    if (record->autoprov_period == 0 && record->autoprov_idle_minutes == 0 &&
        strnlen(record->autoprov_time_of_day, sizeof record->autoprov_time_of_day) != 6) {
        autoprov_log(NO_TRIGGER_CAN_FIRE);
        return false;
    }
    return true;
}

void announce_main_loop() {
    puts(MAIN_LOOP_STARTING);
    fflush(stdout);
}
