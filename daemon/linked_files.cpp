#include "daemon/linked_files.h"

#include "daemon/parsed_file.h"
#include "platform/sysbus.h"

#include <cstring>

namespace {

enum class walk_step { next_entry, end_pass };

/* Fetches one listed file, test-parses it, compares it and parses it once
 * more. Names come from the downloaded main file, so they are shown with
 * control characters masked; the fetch refuses such names outright. */
walk_step handle_entry(const listed_file &entry, const linked_walk &walk, const pass_steps &steps) {
    const char *remote_name = entry.remote_name;
    char shown_name[PASS_NAME_CAPACITY];
    printable_copy(remote_name, shown_name, sizeof shown_name);
    autoprov_log("Cfgwatch: Looking for \"%s\" at \"%s\".", shown_name, walk.server);

    char local_path[FETCH_LOCAL_PATH_CAPACITY] = {};
    bool fits = entry.fits;
    if (!fits) {
        autoprov_log("Cfgwatch error: Invalid filename\n");
    }
    if (!fits || steps.fetch(walk.record, remote_name, walk.server, local_path) == 0) {
        autoprov_log("\"%s\" File not found.", shown_name);
        return walk_step::next_entry;
    }

    {
        // Only a file that parses without an error is held against its
        // applied copy.
        parsed_file test_parse(local_path);
        if (!test_parse.well_formed()) {
            autoprov_log(COULD_NOT_PARSE);
            return walk_step::next_entry;
        }
    }

    steps.compare(local_path);

    // Parsed once more after the comparison; a failure now ends the pass
    // and leaves the rest of the list alone.
    parsed_file after_compare(local_path);
    if (!after_compare.loaded()) {
        autoprov_log(COULD_NOT_PARSE);
        return walk_step::end_pass;
    }
    return walk_step::next_entry;
}

} // namespace

void replace_mac_token(char *text, const char *mac_text) {
    char *token = strstr(text, MAC_TOKEN);
    if (token != nullptr) {
        memcpy(token, mac_text, sizeof MAC_TOKEN - 1);
    }
}

void read_linked_files(ezxml *main_document, const char *prefix, const char *mac_text,
                       linked_files &list) {
    list.count = 0;
    ezxml *entry = ezxml_get(main_document, "MiscSettings", 0, "AutoprovFile", -1);
    for (; entry != nullptr && list.count < LINKED_FILES_LIMIT; entry = entry->next) {
        replace_mac_token(entry->text, mac_text);
        listed_file &file = list.files[list.count++];
        // Under the directory prefix as it stands (it ends in '/' already).
        // A name that does not fit is kept cut, to be shown, but must not be
        // asked for, since it could name some other file.
        file.fits =
            format_bounded(file.remote_name, sizeof file.remote_name, "%s%s", prefix, entry->text);
    }
}

void handle_linked_files(const linked_files &list, const linked_walk &walk,
                         const pass_steps &steps) {
    for (int i = 0; i < list.count; ++i) {
        if (handle_entry(list.files[i], walk, steps) == walk_step::end_pass) {
            break;
        }
    }
}
