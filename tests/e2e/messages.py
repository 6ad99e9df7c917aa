"""The daemon's log messages, byte for byte: one home for every end-to-end
module. They are typed out here rather than read from daemon/log_messages.h,
so that a byte changed there fails these tests instead of passing through.
Format directives stay as the daemon writes them (Python's % fills them
alike), and the texts that end in "\n" end in it here too, since the log
keeps exactly the text it was given."""

# Start-up.
SETTINGS_UNREADABLE = "Cfgwatch error: unable to access non-volatile configuration"
PROVISIONING_DISABLED = "Cfgwatch disabled."
NO_TRIGGER_CAN_FIRE = "Cfgwatch timeout will never hit."

# Triggers.
TIMER_FIRED = "Cfgwatch: %d minutes have passed, checking for autoprovisioning changes"
TIME_OF_DAY_MATCHED = ("Cfgwatch: found time of day match at localtime %s, "
                       "checking for autoprovisioning changes")
IDLE_FIRED = "Cfgwatch: we've been idle for %d minutes, checking for autoprovisioning changes"
# The idle setting that most tests use to start one check on the first tick.
IDLE_TEN_MINUTES = IDLE_FIRED % 10

# Discovery: the option number and the server text.
FOUND_SERVER_IN_OPTION = "Cfgwatch: Found server in option %d: %s"

# The main file and the files it lists.
LOOKING_FOR_MAIN_FILE = "Cfgwatch looking for %s at %s"
MAIN_FILE_NOT_DOWNLOADED = "Cfgwatch error: could not download autoprov file"
COULD_NOT_PARSE = "Cfgwatch error: could not parse autoprov file"
LOOKING_FOR_LISTED_FILE = 'Cfgwatch: Looking for "%s" at "%s".'
LISTED_FILE_NOT_FOUND = '"%s" File not found.'

# The fetch.
INVALID_SERVER = "Cfgwatch error: Invalid server\n"
INVALID_FILENAME = "Cfgwatch error: Invalid filename\n"
INVALID_HTTP_CREDENTIALS = "Cfgwatch error: Invalid HTTP credentials\n"
TFTP_CALL_FAILED = "Cfgwatch error: TFTP call failed\n"
WGET_CALL_FAILED = "Cfgwatch error: wget call failed\n"

# The download directory.
MOVED_ASIDE = "Cfgwatch error: %s was not a private directory, moved it to %s"
NO_PRIVATE_DOWNLOAD_DIRECTORY = "Cfgwatch error: no private download directory %s, nothing downloaded"

# The comparison.
FAILED_TO_OPEN = "Cfgwatch failed to open %s..."
FILE_IS_DIFFERENT = "Cfgwatch: The new autoprovisioning file is different. Rebooting device."
FILE_IS_LARGER = "Cfgwatch: The new autoprovisioning file is larger than the old. Rebooting device."
NO_CHANGES_FOUND = "Cfgwatch: no changes found."
