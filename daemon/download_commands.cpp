#include "daemon/download_commands.h"

#include <cstring>
#include <string_view>

namespace {

void start_words(command_words &words) {
    words.argv.fill(nullptr);
    words.count = 0;
    words.used = 0;
}

/* Appends one word made of up to three pieces. False when the words no
 * longer fit, which is exactly when the command line would pass 511
 * characters. */
bool add_word(command_words &words, std::string_view first, std::string_view second = {},
              std::string_view third = {}) {
    size_t length = first.size() + second.size() + third.size();
    if (words.count + 1 >= words.argv.size() || length + 1 > words.text.size() - words.used) {
        return false;
    }
    char *word = words.text.data() + words.used;
    char *out = word;
    for (std::string_view piece : {first, second, third}) {
        if (!piece.empty()) {
            memcpy(out, piece.data(), piece.size());
            out += piece.size();
        }
    }
    *out = '\0';
    words.used += length + 1;
    words.argv[words.count++] = word;
    return true;
}

} // namespace

bool build_tftp_command(command_words &words, const char *server, const char *directory,
                        const char *name) {
    start_words(words);
    return add_word(words, "minimumTFTP.py") && add_word(words, "-g") && add_word(words, server) &&
           add_word(words, directory) && add_word(words, name);
}

bool build_wget_command(command_words &words, const char *user, const char *password,
                        const char *server, const char *name, const char *local_path) {
    start_words(words);
    bool fits = add_word(words, "wget") && add_word(words, "-q") && add_word(words, "-T") &&
                add_word(words, "10") && add_word(words, "--no-check-certificate") &&
                add_word(words, "--tries=1");
    if (fits && user[0] != '\0') {
        fits = add_word(words, "--user=", user) && add_word(words, "--password=", password);
    }
    return fits && add_word(words, server, "/", name) && add_word(words, "-O") &&
           add_word(words, local_path);
}

size_t command_line_length(const command_words &words) {
    return words.count == 0 ? 0 : words.used - 1;
}
