/* One provisioning check against one server: choose the main file, fetch
 * it and hold it against the applied copy. */
#ifndef DAEMON_PROVISIONING_PASS_H
#define DAEMON_PROVISIONING_PASS_H

#include "platform/nvcfg.h"

#include <stddef.h>

/* The remote name and local path buffers of a pass. */
constexpr size_t PASS_NAME_CAPACITY = 512;

/* The file asked for when the MAC-based one is missing. */
constexpr const char *DEFAULT_FILE_NAME = "000000ef.xml";

/* The steps a pass takes on each file. */
struct pass_steps {
    int (*fetch)(const nvcfg *record, const char *name, const char *server);
    void (*compare)(const char *local_path);
};

/* -1 when neither the MAC-based nor the default file could be fetched, 0
 * otherwise. */
int run_provisioning_pass(const nvcfg *record, const char *server);

/* The same, with the given steps. */
int run_provisioning_pass_with(const nvcfg *record, const char *server, const pass_steps &steps);

#endif
