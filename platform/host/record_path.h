/* Where the host stand-in keeps the settings record. */
#ifndef PLATFORM_HOST_RECORD_PATH_H
#define PLATFORM_HOST_RECORD_PATH_H

/* The file named by SETTINGSDB_FILE, or the device's usual place when unset
 * or empty. The environment belongs to this stand-in, not to its callers. */
const char *settings_record_path();

#endif
