#include "daemon/linked_files.h"

#include "daemon/bounded_text.h"
#include "daemon/log_messages.h"
#include "daemon/parsed_file.h"
#include "platform/sysbus.h"

namespace {

enum class walk_step { next_entry, end_pass };

/* Fetches one listed file, test-parses it, compares it and loads it once
 * more. Names come from the downloaded main file, so they are shown with
 * control characters masked; the fetch refuses such names outright. */
walk_step handle_entry(const listed_file &entry, const linked_walk &walk, const pass_steps &steps) {
    const char *remote_name = entry.remote_name;
    char shown_name[REMOTE_NAME_CAPACITY];
    printable_copy(remote_name, shown_name, sizeof shown_name);
    autoprov_log(LOOKING_FOR_LISTED_FILE, shown_name, walk.server);

    char local_path[LOCAL_PATH_CAPACITY] = {};
    bool fits = entry.fits;
    if (!fits) {
        autoprov_log(INVALID_FILENAME);
    }
    if (!fits || !steps.fetch(walk.record, remote_name, walk.server, local_path)) {
        autoprov_log(LISTED_FILE_NOT_FOUND, shown_name);
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

    // Loaded once more after the comparison, as a check that the download
    // is still where the comparison read it. The comparison is the step
    // that may ask for a restart, and a restart request may return while
    // the device goes down around the daemon; a download that vanished
    // meanwhile (or turned into something the parse cannot take) means the
    // download directory is no longer the pass's to work in, so the rest of
    // the list is left alone rather than fetched into it. Only loading
    // counts here: the bytes were found well formed just before, so
    // nothing else could fail, and nothing is read from this document. The
    // main file has no such check: its names were read out before its
    // comparison, and no document is held across the walk, so ending the
    // pass here leaves nothing to release.
    parsed_file after_compare(local_path);
    if (!after_compare.loaded()) {
        autoprov_log(COULD_NOT_PARSE);
        return walk_step::end_pass;
    }
    return walk_step::next_entry;
}

} // namespace

void read_linked_files(ezxml *main_document, const char *prefix, const char *mac_text,
                       linked_files &list) {
    list.count = 0;
    ezxml *entry = ezxml_get(main_document, "MiscSettings", 0, "AutoprovFile", -1);
    for (; entry != nullptr && list.count < LINKED_FILES_LIMIT; entry = entry->next) {
        replace_mac_token(entry->text, mac_text);
        listed_file &file = list.files[list.count++];
        file.fits = listed_remote_name(file.remote_name, prefix, entry->text);
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
