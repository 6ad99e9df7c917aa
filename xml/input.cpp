// Input: loading a whole file, descriptor or stream into one buffer that
// the parsed document owns; and UTF-16 input (marked by its byte order
// mark), converted to UTF-8 before parsing, while everything else is parsed
// byte for byte.
#include <assert.h>
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "xml/bounded_parse.h"
#include "xml/chars.h"
#include "xml/ezxml.h"
#include "xml/parse_budget.h"
#include "xml/parser.h"

namespace {

constexpr size_t chunk = 8192;

// Parses a loaded buffer and hands it over to the document. The budget
// (null: none) has been charged for the buffer.
ezxml *parse_owned(char *buffer, size_t length, parse_budget *budget) {
    ezxml *root = parse_buffer(buffer, length, markup_kinds::full, budget);
    if (!root) {
        free(buffer);
        return nullptr;
    }
    reinterpret_cast<ezxml_document *>(root)->source_length = static_cast<size_t>(-1);
    return root;
}

// One read that an interrupting signal does not cut short.
ssize_t read_some(int fd, char *into, size_t count) {
    ssize_t got;
    do {
        got = read(fd, into, count);
    } while (got < 0 && errno == EINTR);
    return got;
}

// Reads a regular file of the given size: everything up to that size, or up
// to its end if it has shrunk since. False on a read error.
bool read_sized(int fd, char *buffer, size_t size, size_t *total) {
    *total = 0;
    while (*total < size) {
        ssize_t got = read_some(fd, buffer + *total, size - *total);
        if (got < 0) {
            return false;
        }
        if (got == 0) {
            break;
        }
        *total += static_cast<size_t>(got);
    }
    return true;
}

// Reads a descriptor whose status tells no size to its end, charging the
// buffer to the budget (null: to nothing). The buffer doubles as it fills,
// so that reading costs linear time and, charged at every growth, at most
// twice its size. Null on a read error or when memory (or the budget) runs
// out.
char *read_to_end(int fd, size_t *total, parse_budget *budget) {
    size_t capacity = chunk;
    char *buffer = static_cast<char *>(budget_malloc(budget, capacity));
    *total = 0;
    while (buffer) {
        if (*total == capacity) {
            size_t more = capacity > SIZE_MAX / 2 ? SIZE_MAX : capacity * 2;
            char *grown = static_cast<char *>(budget_realloc(budget, buffer, more));
            if (!grown) {
                break;
            }
            buffer = grown;
            capacity = more;
        }
        ssize_t got = read_some(fd, buffer + *total, capacity - *total);
        if (got == 0) {
            return buffer;
        }
        if (got < 0) {
            break;
        }
        *total += static_cast<size_t>(got);
    }
    free(buffer);
    return nullptr;
}

// A document for an input that could not be loaded within its budget: no
// tree, and the error that says why.
ezxml *over_budget(const parse_budget *budget) {
    ezxml *root = ezxml_new(nullptr);
    if (!root) {
        return nullptr;
    }
    return ezxml_err(reinterpret_cast<ezxml_document *>(root), nullptr, "%s",
                     budget_overrun_message(budget));
}

// ezxml_parse_fd, with the document paying from a budget of memory_limit
// bytes (no_memory_limit: no limit).
ezxml *load_and_parse(int fd, size_t memory_limit) {
    if (fd < 0) {
        return nullptr;
    }
    struct stat64 status;
    if (fstat64(fd, &status) < 0) {
        return nullptr;
    }

    // The buffer is charged first; the expansion allowance follows from the
    // length read, once it is known.
    parse_budget budget = document_budget(0, memory_limit);
    char *buffer;
    size_t length;
    // A regular file says how long it is (files of the kernel's own file
    // systems say 0 and are read like pipes); pipes, sockets and devices are
    // read to their end.
    if (S_ISREG(status.st_mode) && status.st_size != 0) {
        // The whole size, never cut to 32 bits; a file too large for this
        // host's address space cannot be held at all.
        if (status.st_size < 0 || static_cast<uint64_t>(status.st_size) >= SIZE_MAX) {
            return nullptr;
        }
        size_t size = static_cast<size_t>(status.st_size);
        buffer = static_cast<char *>(budget_malloc(&budget, size));
        if (!buffer) {
            return budget_overrun_happened(&budget) ? over_budget(&budget) : nullptr;
        }
        if (!read_sized(fd, buffer, size, &length)) {
            // No document is made from a failed read: its bytes are unknown.
            free(buffer);
            return nullptr;
        }
    } else {
        buffer = read_to_end(fd, &length, &budget);
        if (!buffer) {
            return budget_overrun_happened(&budget) ? over_budget(&budget) : nullptr;
        }
    }
    budget_allow_expansion_for(&budget, length);
    return parse_owned(buffer, length, &budget);
}

ezxml *load_file(const char *path, size_t memory_limit) {
    if (!path) {
        return nullptr;
    }
    int fd = open64(path, O_RDONLY, 0);
    ezxml *root = load_and_parse(fd, memory_limit);
    if (fd >= 0) {
        close(fd);
    }
    return root;
}

} // namespace

ezxml *ezxml_parse_fd(int fd) {
    return load_and_parse(fd, no_memory_limit);
}

ezxml *ezxml_parse_file(const char *path) {
    return load_file(path, no_memory_limit);
}

ezxml *parse_file_within(const char *path, size_t memory_budget) {
    return load_file(path, memory_budget);
}

ezxml *ezxml_parse_fp(FILE *fp) {
    if (!fp) {
        return nullptr;
    }
    char *buffer = static_cast<char *>(malloc(chunk));
    if (!buffer) {
        return nullptr;
    }
    size_t total = 0;
    for (;;) {
        size_t got = fread(buffer + total, 1, chunk, fp);
        total += got;
        if (got < chunk) {
            break;
        }
        char *grown = static_cast<char *>(realloc(buffer, total + chunk));
        if (!grown) {
            free(buffer);
            return nullptr;
        }
        buffer = grown;
    }
    if (ferror(fp)) {
        // A stream that failed part-way holds an unknown rest; parsing the
        // front alone could pass off a truncated document as whole.
        free(buffer);
        return nullptr;
    }
    return parse_owned(buffer, total, nullptr);
}

namespace {

constexpr size_t growth_step = 8192;

// Calls put(c) for each character of the UTF-16 text in[0..in_length),
// byte order mark excluded.
template <typename Put>
void for_each_character(const unsigned char *in, size_t in_length, bool big_endian, Put put) {
    auto unit_at = [&](size_t i) -> uint32_t {
        return big_endian ? (in[i] << 8) | in[i + 1] : (in[i + 1] << 8) | in[i];
    };
    for (size_t i = 2; i + 1 < in_length; i += 2) {
        uint32_t c = unit_at(i);
        if (c >= 0xD800 && c <= 0xDFFF) {
            // A surrogate takes the unit after it along, whatever that is; a
            // surrogate without a following unit is written as it stands.
            i += 2;
            if (i + 1 < in_length) {
                c = (((c & 0x3FF) << 10) | (unit_at(i) & 0x3FF)) + 0x10000;
            }
        }
        put(c);
    }
}

} // namespace

char *utf16_to_utf8(char **s, size_t *len, parse_budget *budget) {
    if (!s || !*s || !len || *len == 0) {
        return nullptr;
    }
    const auto *in = reinterpret_cast<const unsigned char *>(*s);
    size_t in_length = *len;
    bool big_endian;
    if (in[0] == 0xFE) {
        big_endian = true;
    } else if (in[0] == 0xFF) {
        big_endian = false;
    } else {
        return nullptr;
    }

    // Never a zero-sized block: even input that converts to nothing gets a
    // real buffer, so that the caller can tell "converted" from "not UTF-16".
    // A budgeted copy is measured first and made with room for the longest
    // sequence behind it, so that it never grows: growing by steps would be
    // charged anew at every step.
    size_t capacity = in_length;
    if (budget) {
        size_t exact = 0;
        char scratch[utf8_longest];
        for_each_character(in, in_length, big_endian,
                           [&](uint32_t c) { exact += utf8_encode(c, scratch); });
        capacity = exact + utf8_longest;
    }
    auto *out = static_cast<unsigned char *>(budget_malloc(budget, capacity));
    if (!out) {
        return nullptr;
    }
    size_t length = 0;
    bool failed = false;
    for_each_character(in, in_length, big_endian, [&](uint32_t c) {
        while (!failed && capacity < length + utf8_longest) {
            assert(!budget); // a measured copy never grows
            auto *grown = static_cast<unsigned char *>(realloc(out, capacity + growth_step));
            if (!grown) {
                failed = true;
                break;
            }
            out = grown;
            capacity += growth_step;
        }
        if (!failed) {
            length += utf8_encode(c, reinterpret_cast<char *>(out) + length);
        }
    });
    if (failed) {
        free(out);
        return nullptr;
    }

    if (auto *exact = static_cast<unsigned char *>(realloc(out, length ? length : 1))) {
        out = exact;
    }
    *len = length;
    *s = reinterpret_cast<char *>(out);
    return *s;
}

char *ezxml_str2utf8(char **s, size_t *len) {
    return utf16_to_utf8(s, len, nullptr);
}
