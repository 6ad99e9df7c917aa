/* cfgwatch: keeps the device's configuration in step with its provisioning
 * server. Reads the settings once, then checks on every tick whether a
 * provisioning check is due. */
#include "daemon/startup.h"
#include "daemon/triggers.h"
#include "platform/nvcfg.h"

#include <sys/stat.h>
#include <unistd.h>

int main() {
    // Downloads hold the device's credentials and settings: whatever the
    // daemon and the downloaders it starts create is for root's eyes only.
    umask(S_IRWXG | S_IRWXO);

    // Kept for the whole life of the process; too large to sit on the stack
    // comfortably.
    static nvcfg record{};
    if (!daemon_may_start(get_config(&record), &record)) {
        return 0;
    }
    announce_main_loop();

    trigger_state state{};
    const tick_environment environment = device_tick_environment();
    for (;;) {
        sleep(TICK_SECONDS);
        run_tick(&record, state, environment);
    }
}
