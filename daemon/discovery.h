/* Server discovery: the configured server, or else the servers that the
 * DHCP lease announces, one provisioning pass for each. */
#ifndef DAEMON_DISCOVERY_H
#define DAEMON_DISCOVERY_H

#include "platform/nvcfg.h"

/* What runs one provisioning pass against one server text. */
using pass_runner = void (*)(const nvcfg *record, const char *server);

/* Runs one provisioning pass with the configured server when there is one;
 * otherwise one pass per lease option present, in the order 43, 72, 150,
 * 66, each logged with the server text it holds (an empty one included). */
void discover_server(const nvcfg *record);

/* The same, reading the lease at lease_path and running each pass through
 * run_pass. */
void discover_server_using(const nvcfg *record, const char *lease_path, pass_runner run_pass);

#endif
