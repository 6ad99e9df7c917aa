#include "daemon/linked_files.h"

#include "daemon/parsed_file.h"
#include "platform/sysbus.h"

#include <cstring>

namespace {

enum class walk_step { next_entry, end_pass };

/* The name the server knows the entry by: the entry's text, under the
 * directory prefix as it stands (it ends in '/' already). False when it does
 * not fit; the buffer then holds the cut name, which must not be asked for,
 * since it could name some other file. */
bool form_remote_name(char (&remote_name)[PASS_NAME_CAPACITY], const char *prefix,
                      const char *text) {
    return format_bounded(remote_name, sizeof remote_name, "%s%s", prefix, text);
}

/* Fetches one listed file, test-parses it, compares it and parses it once
 * more. Names come from the downloaded main file, so they are shown with
 * control characters masked; the fetch refuses such names outright. */
walk_step handle_entry(ezxml *entry, const linked_walk &walk, const pass_steps &steps) {
    replace_mac_token(entry->text, walk.mac_text);

    char remote_name[PASS_NAME_CAPACITY] = {};
    bool fits = form_remote_name(remote_name, walk.prefix, entry->text);
    char shown_name[PASS_NAME_CAPACITY];
    printable_copy(remote_name, shown_name, sizeof shown_name);
    autoprov_log("Cfgwatch: Looking for \"%s\" at \"%s\".", shown_name, walk.server);

    char local_path[FETCH_LOCAL_PATH_CAPACITY] = {};
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

void handle_linked_files(ezxml *main_document, const linked_walk &walk, const pass_steps &steps) {
    ezxml *entry = ezxml_get(main_document, "MiscSettings", 0, "AutoprovFile", -1);
    for (int handled = 0; entry != nullptr && handled < LINKED_FILES_LIMIT;
         ++handled, entry = entry->next) {
        if (handle_entry(entry, walk, steps) == walk_step::end_pass) {
            break;
        }
    }
}
