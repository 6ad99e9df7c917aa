#include "daemon/provisioning_pass.h"

#include "daemon/bounded_text.h"
#include "daemon/compare.h"
#include "daemon/fetch.h"
#include "daemon/file_names.h"
#include "daemon/linked_files.h"
#include "daemon/log_messages.h"
#include "daemon/parsed_file.h"
#include "platform/sysbus.h"

namespace {

/* What the pass settled on for the main file. */
struct main_file {
    naming_mode mode;
    char file_setting[NVCFG_FILE_CAPACITY]; /* the setting, or the directory prefix */
    char mac_text[MAC_TEXT_CAPACITY];
    char local_path[LOCAL_PATH_CAPACITY]; /* where the fetch stored it */
};

/* Asks for the setting itself; no other name is tried. */
bool fetch_named_file(main_file &file, const nvcfg *record, const char *server,
                      const pass_steps &steps) {
    autoprov_log(LOOKING_FOR_MAIN_FILE, file.file_setting, server);
    if (!steps.fetch(record, file.file_setting, server, file.local_path)) {
        autoprov_log(MAIN_FILE_NOT_DOWNLOADED);
        return false;
    }
    return true;
}

/* Asks for the MAC-based name, then for the default name, under the prefix
 * in directory-prefix mode. Only the fetch's own messages tell of a
 * failure. */
bool fetch_mac_or_default_file(main_file &file, const nvcfg *record, const char *server,
                               const pass_steps &steps) {
    const char *prefix = directory_prefix(file.mode, file.file_setting);
    char remote_name[REMOTE_NAME_CAPACITY] = {};

    mac_based_remote_name(remote_name, prefix, file.mac_text);
    autoprov_log(LOOKING_FOR_MAIN_FILE, remote_name, server);
    if (steps.fetch(record, remote_name, server, file.local_path)) {
        return true;
    }

    default_remote_name(remote_name, prefix);
    autoprov_log(LOOKING_FOR_MAIN_FILE, remote_name, server);
    return steps.fetch(record, remote_name, server, file.local_path);
}

} // namespace

void run_provisioning_pass_using(const nvcfg *record, const char *server, const pass_steps &steps) {
    main_file file{};
    copy_text_field(file.file_setting, sizeof file.file_setting, record->autoprov_file,
                    sizeof record->autoprov_file - 1);
    file.mode = naming_mode_of(file.file_setting);
    format_mac_text(record->mac_address, file.mac_text);

    bool fetched = file.mode == naming_mode::named_file
                       ? fetch_named_file(file, record, server, steps)
                       : fetch_mac_or_default_file(file, record, server, steps);
    if (!fetched) {
        return;
    }

    // The main file is parsed before it is compared: a download that is not
    // a provisioning file (a portal's page, a body cut short) must not ask
    // for a restart, nor have its list followed.
    linked_files list;
    {
        parsed_file main_document(file.local_path);
        if (!main_document.well_formed()) {
            autoprov_log(COULD_NOT_PARSE);
            return;
        }
        read_linked_files(main_document.root(), directory_prefix(file.mode, file.file_setting),
                          file.mac_text, list);
    }

    // A reset request that returns leaves the device as it was, so the
    // files that the main file lists are still handled.
    steps.compare(file.local_path);
    handle_linked_files(list, linked_walk{record, server}, steps);
}

void run_provisioning_pass(const nvcfg *record, const char *server) {
    run_provisioning_pass_using(record, server, pass_steps{fetch_file, compare_with_applied});
}
