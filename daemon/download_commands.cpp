#include "daemon/download_commands.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string_view>
#include <sys/mman.h>
#include <unistd.h>

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

bool build_wget_command(command_words &words, int credentials_fd, const char *server,
                        const char *name, const char *local_path) {
    start_words(words);
    bool fits = add_word(words, "wget") && add_word(words, "-q") && add_word(words, "-T") &&
                add_word(words, "10") && add_word(words, "--no-check-certificate") &&
                add_word(words, "--tries=1");
    if (fits && credentials_fd >= 0) {
        char number[16];
        snprintf(number, sizeof number, "%d", credentials_fd);
        fits = add_word(words, "--config=/proc/self/fd/", number) &&
               add_word(words, "--max-redirect=0");
    }
    return fits && add_word(words, server, "/", name) && add_word(words, "-O") &&
           add_word(words, local_path);
}

namespace {

/* What wget's start-up file reader keeps of a value unchanged. */
bool passes_exactly(const char *text) {
    size_t length = strlen(text);
    if (length > 0 && (text[0] == ' ' || text[length - 1] == ' ')) {
        return false;
    }
    for (const char *c = text; *c != '\0'; ++c) {
        unsigned char byte = static_cast<unsigned char>(*c);
        if (byte < 0x20 || byte == 0x7f) {
            return false;
        }
    }
    return true;
}

bool write_all(int fd, const char *text, size_t length) {
    while (length > 0) {
        ssize_t written = write(fd, text, length);
        if (written < 0 && errno == EINTR) {
            continue;
        }
        if (written <= 0) {
            return false;
        }
        text += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

} // namespace

bool wget_credentials_usable(const char *user, const char *password) {
    return passes_exactly(user) && passes_exactly(password);
}

int open_wget_credentials(const char *user, const char *password) {
    if (!wget_credentials_usable(user, password)) {
        return -1;
    }
    int fd = memfd_create("wget-credentials", MFD_CLOEXEC);
    if (fd < 0) {
        return -1;
    }
    bool written = write_all(fd, "user = ", 7) && write_all(fd, user, strlen(user)) &&
                   write_all(fd, "\npassword = ", 12) &&
                   write_all(fd, password, strlen(password)) && write_all(fd, "\n", 1);
    if (!written) {
        close(fd);
        return -1;
    }
    return fd;
}

size_t command_line_length(const command_words &words) {
    return words.count == 0 ? 0 : words.used - 1;
}
