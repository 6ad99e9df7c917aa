#include "daemon/provisioning_pass.h"

#include "daemon/compare.h"
#include "daemon/fetch.h"
#include "daemon/file_names.h"
#include "daemon/linked_files.h"
#include "daemon/parsed_file.h"
#include "platform/sysbus.h"

#include <cstring>

namespace {

/* What the pass settled on for the main file. */
struct main_file {
    naming_mode mode;
    char file_setting[NVCFG_FILE_CAPACITY]; /* the setting, or the directory prefix */
    char mac_text[MAC_TEXT_CAPACITY];
    char local_path[FETCH_LOCAL_PATH_CAPACITY]; /* where the fetch stored it */
};

/* Asks for the setting itself; no other name is tried. */
int fetch_named_file(main_file &file, const nvcfg *record, const char *server,
                     const pass_steps &steps) {
    autoprov_log("Cfgwatch looking for %s at %s", file.file_setting, server);
    if (steps.fetch(record, file.file_setting, server, file.local_path) == 0) {
        autoprov_log("Cfgwatch error: could not download autoprov file");
        return 0;
    }
    return 1;
}

/* Asks for the MAC-based name, then for the default name, under the prefix
 * in directory-prefix mode. */
int fetch_mac_or_default_file(main_file &file, const nvcfg *record, const char *server,
                              const pass_steps &steps) {
    // The prefix ends in '/' already; the added one makes two in a row,
    // which is how servers have always been asked for these files.
    const char *prefix = file.mode == naming_mode::directory_prefix ? file.file_setting : "";
    const char *separator = file.mode == naming_mode::directory_prefix ? "/" : "";
    char remote_name[PASS_NAME_CAPACITY] = {};

    format_bounded(remote_name, sizeof remote_name, "%s%s%s.xml", prefix, separator, file.mac_text);
    autoprov_log("Cfgwatch looking for %s at %s", remote_name, server);
    if (steps.fetch(record, remote_name, server, file.local_path) != 0) {
        return 1;
    }

    format_bounded(remote_name, sizeof remote_name, "%s%s%s", prefix, separator, DEFAULT_FILE_NAME);
    autoprov_log("Cfgwatch looking for %s at %s", remote_name, server);
    if (steps.fetch(record, remote_name, server, file.local_path) != 0) {
        return 1;
    }
    return -1;
}

} // namespace

int run_provisioning_pass_with(const nvcfg *record, const char *server, const pass_steps &steps) {
    main_file file{};
    copy_text_field(file.file_setting, sizeof file.file_setting, record->autoprov_file,
                    sizeof record->autoprov_file - 1);
    file.mode = naming_mode_of(file.file_setting);
    format_mac_text(record->mac_address, file.mac_text);

    if (file.mode == naming_mode::named_file) {
        if (fetch_named_file(file, record, server, steps) == 0) {
            return 0;
        }
    } else if (fetch_mac_or_default_file(file, record, server, steps) < 0) {
        return -1;
    }

    // The main file is parsed before it is compared: a download that is not
    // a provisioning file (a portal's page, a body cut short) must not ask
    // for a restart, nor have its list followed.
    const char *prefix = file.mode == naming_mode::directory_prefix ? file.file_setting : "";
    linked_files list;
    {
        parsed_file main_document(file.local_path);
        if (!main_document.well_formed()) {
            autoprov_log(COULD_NOT_PARSE);
            return 0;
        }
        read_linked_files(main_document.root(), prefix, file.mac_text, list);
    }

    // A reset request that returns leaves the device as it was, so the
    // files that the main file lists are still handled.
    steps.compare(file.local_path);
    handle_linked_files(list, linked_walk{record, server}, steps);
    return 0;
}

namespace {

int fetch_into_download_directory(const nvcfg *record, const char *name, const char *server,
                                  char (&local_path)[FETCH_LOCAL_PATH_CAPACITY]) {
    return fetch_file_reporting_path(record, name, server, DOWNLOAD_DIRECTORY, local_path);
}

} // namespace

int run_provisioning_pass(const nvcfg *record, const char *server) {
    return run_provisioning_pass_with(
        record, server, pass_steps{fetch_into_download_directory, compare_with_applied});
}
