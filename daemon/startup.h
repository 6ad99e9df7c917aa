/* The start-up checks that decide whether the daemon runs at all. */
#ifndef DAEMON_STARTUP_H
#define DAEMON_STARTUP_H

#include "platform/nvcfg.h"

/* config_status is get_config's result for record. Logs why the daemon
 * stops and returns false when the settings could not be read, provisioning
 * is switched off, or no trigger could ever fire; true otherwise. */
bool daemon_may_start(int config_status, const nvcfg *record);

/* Tells whoever started the daemon, on standard output and at once, that
 * the checks passed and the loop begins. */
void announce_main_loop();

#endif
