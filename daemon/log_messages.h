/* Every line the daemon logs, and the one line it writes to standard output.
 *
 * These texts are byte-exact: the device's tools and the people who read its
 * logs match on them, so not one byte may change, printf directives
 * included. Some end in "\n" and most do not; that is deliberate and must
 * stay as it is. The log adds a line feed to a text that lacks one, so both
 * kinds make one line on the host; but the text handed to autoprov_log
 * differs by that byte, and that text is what the device's log library
 * receives and what the tests check. */
#ifndef DAEMON_LOG_MESSAGES_H
#define DAEMON_LOG_MESSAGES_H

/* Start-up (startup.cpp). MAIN_LOOP_STARTING goes to standard output through
 * puts, which adds the line end. */
constexpr const char *SETTINGS_UNREADABLE =
    "Cfgwatch error: unable to access non-volatile configuration";
constexpr const char *PROVISIONING_DISABLED = "Cfgwatch disabled.";
constexpr const char *NO_TRIGGER_CAN_FIRE = "Cfgwatch timeout will never hit.";
constexpr const char *MAIN_LOOP_STARTING = "Starting autoprov main loop...";

/* Triggers (triggers.cpp): the period in minutes, the six-character time
 * setting, the idle setting in minutes. */
constexpr const char *TIMER_FIRED =
    "Cfgwatch: %d minutes have passed, checking for autoprovisioning changes";
constexpr const char *TIME_OF_DAY_MATCHED =
    "Cfgwatch: found time of day match at localtime %s, checking for autoprovisioning changes";
constexpr const char *IDLE_FIRED =
    "Cfgwatch: we've been idle for %d minutes, checking for autoprovisioning changes";

/* Discovery (discovery.cpp): the server text found under each lease key. */
constexpr const char *FOUND_SERVER_IN_OPTION_43 = "Cfgwatch: Found server in option 43: %s";
constexpr const char *FOUND_SERVER_IN_OPTION_72 = "Cfgwatch: Found server in option 72: %s";
constexpr const char *FOUND_SERVER_IN_OPTION_150 = "Cfgwatch: Found server in option 150: %s";
constexpr const char *FOUND_SERVER_IN_OPTION_66 = "Cfgwatch: Found server in option 66: %s";

/* The main file (provisioning_pass.cpp): remote name and server text. */
constexpr const char *LOOKING_FOR_MAIN_FILE = "Cfgwatch looking for %s at %s";
constexpr const char *MAIN_FILE_NOT_DOWNLOADED = "Cfgwatch error: could not download autoprov file";

/* Any download that does not parse: the main file or a listed one. */
constexpr const char *COULD_NOT_PARSE = "Cfgwatch error: could not parse autoprov file";

/* Listed files (linked_files.cpp): remote name, with control characters
 * masked, and server text. */
constexpr const char *LOOKING_FOR_LISTED_FILE = "Cfgwatch: Looking for \"%s\" at \"%s\".";
constexpr const char *LISTED_FILE_NOT_FOUND = "\"%s\" File not found.";

/* The fetch (fetch.cpp; INVALID_FILENAME also for a listed name too long to
 * be asked for). These five end in "\n". */
constexpr const char *INVALID_SERVER = "Cfgwatch error: Invalid server\n";
constexpr const char *INVALID_FILENAME = "Cfgwatch error: Invalid filename\n";
constexpr const char *INVALID_HTTP_CREDENTIALS = "Cfgwatch error: Invalid HTTP credentials\n";
constexpr const char *TFTP_CALL_FAILED = "Cfgwatch error: TFTP call failed\n";
constexpr const char *WGET_CALL_FAILED = "Cfgwatch error: wget call failed\n";

/* The download directory (download_directory.cpp): its path, and where
 * what stood there was moved. */
constexpr const char *MOVED_ASIDE =
    "Cfgwatch error: %s was not a private directory, moved it to %s";
constexpr const char *NO_PRIVATE_DOWNLOAD_DIRECTORY =
    "Cfgwatch error: no private download directory %s, nothing downloaded";

/* The comparison (compare.cpp): the path that could not be opened. */
constexpr const char *FAILED_TO_OPEN = "Cfgwatch failed to open %s...";
constexpr const char *FILE_IS_DIFFERENT =
    "Cfgwatch: The new autoprovisioning file is different. Rebooting device.";
constexpr const char *FILE_IS_LARGER =
    "Cfgwatch: The new autoprovisioning file is larger than the old. Rebooting device.";
constexpr const char *NO_CHANGES_FOUND = "Cfgwatch: no changes found.";

#endif
