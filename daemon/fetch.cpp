#include "daemon/fetch.h"

#include "daemon/bounded_text.h"
#include "daemon/download_commands.h"
#include "daemon/download_directory.h"
#include "daemon/log_messages.h"
#include "daemon/run_program.h"
#include "platform/sysbus.h"

#include <sys/stat.h>
#include <unistd.h>

namespace {

/* A download counts only as a file: a directory of that name (the download
 * directory itself, say) is not one. */
bool is_downloaded_file(const char *path) {
    struct stat status;
    return stat(path, &status) == 0 && !S_ISDIR(status.st_mode);
}

bool fetch_by_tftp(const char *name, const char *server, const char *directory,
                   const char *local_path) {
    command_words command;
    if (!build_tftp_command(command, server, directory, name) ||
        !run_program(command.argv.data(), download_limits())) {
        autoprov_log(TFTP_CALL_FAILED);
        return false;
    }
    return is_downloaded_file(local_path);
}

bool fetch_by_http(const nvcfg *record, const char *name, const char *server,
                   const char *local_path) {
    char user[NVCFG_HTTP_USER_CAPACITY];
    char password[NVCFG_HTTP_PASSWORD_CAPACITY];
    copy_text_field(user, sizeof user, record->autoprov_http_user,
                    sizeof record->autoprov_http_user);
    copy_text_field(password, sizeof password, record->autoprov_http_password,
                    sizeof record->autoprov_http_password);

    int credentials = -1;
    if (user[0] != '\0') {
        if (!wget_credentials_usable(user, password)) {
            autoprov_log(INVALID_HTTP_CREDENTIALS);
            return false;
        }
        credentials = open_wget_credentials(user, password);
    }
    command_words command;
    if ((user[0] != '\0' && credentials < 0) ||
        !build_wget_command(command, credentials, server, name, local_path)) {
        // Nothing ran, so nothing was written that would need removing.
        if (credentials >= 0) {
            close(credentials);
        }
        autoprov_log(WGET_CALL_FAILED);
        return false;
    }
    bool ran = run_program(command.argv.data(), download_limits(credentials));
    if (credentials >= 0) {
        close(credentials);
    }
    if (!ran) {
        autoprov_log(WGET_CALL_FAILED);
        // A partial download must not pass for the file.
        unlink(local_path);
        return false;
    }
    return is_downloaded_file(local_path);
}

} // namespace

bool fetch_file_using(const nvcfg *record, const char *name, const char *server,
                      const char *directory, char (&local_path)[LOCAL_PATH_CAPACITY]) {
    local_path[0] = '\0';
    // The server text leads the downloader's arguments; one that starts like
    // an option would be taken as one.
    if (server[0] == '-') {
        autoprov_log(INVALID_SERVER);
        return false;
    }
    // Names are checked before anything runs, the download directory's
    // creation included.
    bool use_tftp = record->autoprov_use_tftp != 0;
    if (!(use_tftp ? tftp_local_path(local_path, name, directory)
                   : http_local_path(local_path, name, directory))) {
        local_path[0] = '\0';
        autoprov_log(INVALID_FILENAME);
        return false;
    }
    if (!prepare_download_directory(directory)) {
        local_path[0] = '\0';
        return false;
    }
    return use_tftp ? fetch_by_tftp(name, server, directory, local_path)
                    : fetch_by_http(record, name, server, local_path);
}

bool fetch_file(const nvcfg *record, const char *name, const char *server,
                char (&local_path)[LOCAL_PATH_CAPACITY]) {
    return fetch_file_using(record, name, server, DOWNLOAD_DIRECTORY, local_path);
}
