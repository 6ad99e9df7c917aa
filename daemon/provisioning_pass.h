/* One provisioning check against one server: choose the main file, fetch
 * it, hold it against the applied copy, then handle the further files that
 * it lists. What happened shows in the log only; nothing waits on it. */
#ifndef DAEMON_PROVISIONING_PASS_H
#define DAEMON_PROVISIONING_PASS_H

#include "daemon/pass_steps.h"
#include "platform/nvcfg.h"

/* Runs one pass with the real fetch into the download directory and the
 * comparison with the applied copies. */
void run_provisioning_pass(const nvcfg *record, const char *server);

/* The same, with the given steps. */
void run_provisioning_pass_using(const nvcfg *record, const char *server, const pass_steps &steps);

#endif
