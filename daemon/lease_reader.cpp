#include "daemon/lease_reader.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <sys/types.h>
#include <unistd.h>

namespace {

/* A server text holds no more than this; longer values are cut here. */
constexpr size_t server_text_limit = SERVER_TEXT_CAPACITY - 1;

enum class value_encoding { hexadecimal, first_address };

struct lease_key {
    std::string_view key;
    value_encoding encoding;
};

/* Indexed by lease_option. */
constexpr lease_key lease_keys[] = {
    {"VENDOR_SPECIFIC=", value_encoding::hexadecimal},
    {"WWW_SERVER=", value_encoding::first_address},
    {"TFTP_SERVER_ADDRESS=", value_encoding::first_address},
    {"TFTP_SERVER_NAME=", value_encoding::first_address},
};
static_assert(sizeof lease_keys / sizeof lease_keys[0] ==
                  static_cast<size_t>(lease_option::tftp_server_name) + 1,
              "one key per lease option");

bool ends_value(char c) {
    return c == '\0' || c == '\r' || c == '\n';
}

/* The lease file and getline's growing line buffer, both released however
 * the scan ends. */
class lease_lines {
  public:
    explicit lease_lines(const char *path) : stream_(fopen(path, "r")) {}
    ~lease_lines() {
        free(line_);
        if (stream_ != nullptr) {
            fclose(stream_);
        }
    }
    lease_lines(const lease_lines &) = delete;
    lease_lines &operator=(const lease_lines &) = delete;

    bool is_open() const { return stream_ != nullptr; }

    /* The next line, NUL bytes and line feed included; false at the end. */
    bool next(std::string_view &line) {
        ssize_t length = getline(&line_, &capacity_, stream_);
        if (length < 0) {
            return false;
        }
        line = std::string_view(line_, static_cast<size_t>(length));
        return true;
    }

  private:
    FILE *stream_;
    char *line_ = nullptr;
    size_t capacity_ = 0;
};

/* Finds the first line holding key and decodes the value after the key's
 * first occurrence. The whole line is searched, so a NUL byte earlier in the
 * line does not hide the key. */
bool scan_for_key(const char *lease_path, const lease_key &entry,
                  char (&server)[SERVER_TEXT_CAPACITY]) {
    if (access(lease_path, F_OK) != 0) {
        return false;
    }
    lease_lines lines(lease_path);
    if (!lines.is_open()) {
        return false;
    }
    std::string_view line;
    while (lines.next(line)) {
        const void *found = memmem(line.data(), line.size(), entry.key.data(), entry.key.size());
        if (found == nullptr) {
            continue;
        }
        size_t value_start =
            static_cast<size_t>(static_cast<const char *>(found) - line.data()) + entry.key.size();
        const char *value = line.data() + value_start;
        size_t value_length = line.size() - value_start;
        if (entry.encoding == value_encoding::hexadecimal) {
            decode_vendor_specific(value, value_length, server);
        } else {
            decode_first_address(value, value_length, server);
        }
        return true;
    }
    return false;
}

} // namespace

int hex_digit_value(unsigned char c) {
    int code = c;
    if (code > 0x60) {
        code -= 0x20;
    }
    int value = 10 * ((code >> 4) - 3) + (code & 0x0F);
    if (value > 9) {
        value -= 1;
    }
    return value;
}

size_t decode_vendor_specific(const char *value, size_t length,
                              char (&server)[SERVER_TEXT_CAPACITY]) {
    size_t out = 0;
    for (size_t i = 0; i < length && !ends_value(value[i]); i += 2) {
        // A digit without a partner before the value ends is dropped, so
        // the pairing never looks past the line.
        if (i + 1 >= length || ends_value(value[i + 1])) {
            break;
        }
        unsigned byte =
            static_cast<unsigned>(hex_digit_value(static_cast<unsigned char>(value[i])) * 16 +
                                  hex_digit_value(static_cast<unsigned char>(value[i + 1]))) &
            0xFFu;
        if (byte >= 0x20 && byte <= 0x7E && out < server_text_limit) {
            server[out++] = static_cast<char>(byte);
        }
    }
    server[out] = '\0';
    return out;
}

size_t decode_first_address(const char *value, size_t length,
                            char (&server)[SERVER_TEXT_CAPACITY]) {
    size_t out = 0;
    while (out < length && out < server_text_limit &&
           (static_cast<unsigned char>(value[out]) > 0x20)) {
        server[out] = value[out];
        ++out;
    }
    server[out] = '\0';
    return out;
}

bool read_lease_option(const char *lease_path, lease_option option,
                       char (&server)[SERVER_TEXT_CAPACITY]) {
    return scan_for_key(lease_path, lease_keys[static_cast<size_t>(option)], server);
}
