/* The two steps that a provisioning pass takes on every file it handles,
 * for the main file and the files it lists alike. */
#ifndef DAEMON_PASS_STEPS_H
#define DAEMON_PASS_STEPS_H

#include "daemon/file_names.h"
#include "platform/nvcfg.h"

struct pass_steps {
    /* True when name was fetched; local_path then names the stored
     * download, which is the file the pass compares and parses. */
    bool (*fetch)(const nvcfg *record, const char *name, const char *server,
                  char (&local_path)[LOCAL_PATH_CAPACITY]);
    void (*compare)(const char *local_path);
};

#endif
