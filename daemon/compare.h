/* Change detection: a downloaded file against the copy that the device last
 * applied, and the device restart that a change calls for. */
#ifndef DAEMON_COMPARE_H
#define DAEMON_COMPARE_H

#include <stddef.h>

/* Where the applied copies lie, under the base names of their files. */
constexpr const char *APPLIED_DIRECTORY = "/tmp/old";

/* Compares local_path byte for byte with its applied copy in
 * APPLIED_DIRECTORY and requests a reboot when they differ or when there is
 * no applied copy. */
void compare_with_applied(const char *local_path);

/* The same, with the applied copies in the given directory. */
void compare_with_applied_using(const char *local_path, const char *applied_directory);

/* Flushes standard output, then restarts the device. */
void request_reboot();

#endif
