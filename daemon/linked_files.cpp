#include "daemon/linked_files.h"

#include "platform/sysbus.h"
#include "xml/ezxml.h"

#include <cstring>

namespace {

constexpr const char *COULD_NOT_PARSE = "Cfgwatch error: could not parse autoprov file";

/* A parsed file, released on every way out of the scope that loaded it. */
class parsed_file {
  public:
    explicit parsed_file(const char *path) : root_(ezxml_parse_file(path)) {}
    ~parsed_file() {
        if (root_ != nullptr) {
            ezxml_free(root_);
        }
    }
    parsed_file(const parsed_file &) = delete;
    parsed_file &operator=(const parsed_file &) = delete;

    /* Only a file that cannot be loaded at all yields no document; one with
     * syntax errors is a document still, whose error text is not looked at:
     * its bytes take part in the comparison like any other file's. */
    bool loaded() const { return root_ != nullptr; }
    ezxml *root() const { return root_; }

  private:
    ezxml *root_;
};

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
 * more. */
walk_step handle_entry(ezxml *entry, const linked_walk &walk, const pass_steps &steps) {
    replace_mac_token(entry->text, walk.mac_text);

    char remote_name[PASS_NAME_CAPACITY] = {};
    bool fits = form_remote_name(remote_name, walk.prefix, entry->text);
    autoprov_log("Cfgwatch: Looking for \"%s\" at \"%s\".", remote_name, walk.server);

    char local_path[FETCH_LOCAL_PATH_CAPACITY] = {};
    if (!fits) {
        autoprov_log("Cfgwatch error: Invalid filename\n");
    }
    if (!fits || steps.fetch(walk.record, remote_name, walk.server, local_path) == 0) {
        autoprov_log("\"%s\" File not found.", remote_name);
        return walk_step::next_entry;
    }

    {
        parsed_file test_parse(local_path);
        if (!test_parse.loaded()) {
            autoprov_log(COULD_NOT_PARSE);
            return walk_step::next_entry;
        }
    }

    steps.compare(local_path);

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

int handle_linked_files(const linked_walk &walk, const pass_steps &steps) {
    parsed_file main_file(walk.main_local_path);
    if (!main_file.loaded()) {
        autoprov_log(COULD_NOT_PARSE);
        return 0;
    }

    ezxml *entry = ezxml_get(main_file.root(), "MiscSettings", 0, "AutoprovFile", -1);
    for (int handled = 0; entry != nullptr && handled < LINKED_FILES_LIMIT;
         ++handled, entry = entry->next) {
        if (handle_entry(entry, walk, steps) == walk_step::end_pass) {
            break;
        }
    }
    return 0;
}
