#include "daemon/startup.h"

#include "platform/sysbus.h"

#include <cstdio>
#include <cstring>

bool daemon_may_start(int config_status, const nvcfg *record) {
    if (config_status != 0) {
        autoprov_log("Cfgwatch error: unable to access non-volatile configuration");
        return false;
    }
    if (record->autoprov_disabled != 0) {
        autoprov_log("Cfgwatch disabled.");
        return false;
    }
    // Any one trigger that might fire keeps the daemon running, even one that
    // the loop will later find unusable.
    if (record->autoprov_period == 0 && record->autoprov_idle_minutes == 0 &&
        strnlen(record->autoprov_time_of_day, sizeof record->autoprov_time_of_day) != 6) {
        autoprov_log("Cfgwatch timeout will never hit.");
        return false;
    }
    return true;
}

void announce_main_loop() {
    puts("Starting autoprov main loop...");
    fflush(stdout);
}
