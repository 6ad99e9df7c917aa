/* Starting the helper programs (the downloaders, rm) without a shell, so
 * that texts from DHCP, settings or downloaded files are only ever arguments
 * and never commands; and keeping each program within the time and the file
 * size that its caller allows. */
#ifndef DAEMON_RUN_PROGRAM_H
#define DAEMON_RUN_PROGRAM_H

#include <stdint.h>

struct run_limits {
    /* The whole run, on the monotonic clock; 0: no deadline. Past it the
     * program's process group gets SIGTERM, and SIGKILL grace_ms later. */
    int deadline_ms = 0;
    int grace_ms = 0;
    /* The largest file the program may write (its RLIMIT_FSIZE); writing
     * past it fails with EFBIG or ends the program by SIGXFSZ. 0: the
     * daemon's own limit. */
    uint64_t file_size_cap = 0;
    /* A descriptor of the caller's (close-on-exec, as all of the daemon's
     * are) that stays open in the program under the same number; -1: none. */
    int inherited_fd = -1;
};

/* The limits of every download (download_limits.h). */
run_limits download_limits(int inherited_fd = -1);

/* Runs the program argv[0], looked up on PATH, with the null-terminated
 * argument vector argv, in a process group of its own, and waits for it.
 * True only when it ran, exited with status 0 and was not stopped at its
 * deadline; a failed start or death by a signal is a failure. When it has
 * ended, whatever it left running in its process group is killed, so no
 * part of it outlives the call. */
bool run_program(const char *const *argv, const run_limits &limits = {});

#endif
