/* One provisioning check against one server: choose the main file, fetch
 * it, hold it against the applied copy, then handle the further files that
 * it lists. */
#ifndef DAEMON_PROVISIONING_PASS_H
#define DAEMON_PROVISIONING_PASS_H

#include "daemon/fetch.h"
#include "platform/nvcfg.h"

#include <stddef.h>

/* The remote name and local path buffers of a pass. */
constexpr size_t PASS_NAME_CAPACITY = 512;

/* The file asked for when the MAC-based one is missing. */
constexpr const char *DEFAULT_FILE_NAME = "000000ef.xml";

/* The steps a pass takes on each file. */
struct pass_steps {
    /* 1 when name was fetched; local_path then names the stored download,
     * which is the file the pass compares and parses. */
    int (*fetch)(const nvcfg *record, const char *name, const char *server,
                 char (&local_path)[FETCH_LOCAL_PATH_CAPACITY]);
    void (*compare)(const char *local_path);
};

/* -1 when neither the MAC-based nor the default file could be fetched, 0
 * otherwise. */
int run_provisioning_pass(const nvcfg *record, const char *server);

/* The same, with the given steps. */
int run_provisioning_pass_with(const nvcfg *record, const char *server, const pass_steps &steps);

#endif
