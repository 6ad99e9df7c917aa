// Loading a whole input into one buffer that the parsed document owns.
#include <errno.h>
#include <fcntl.h>
#include <stdint.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include "xml/ezxml.h"

namespace {

constexpr size_t chunk = 8192;

// Parses a loaded buffer and hands it over to the document.
ezxml *parse_owned(char *buffer, size_t length) {
    ezxml *root = ezxml_parse_str(buffer, length);
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
    do
        got = read(fd, into, count);
    while (got < 0 && errno == EINTR);
    return got;
}

// Reads a regular file of the given size: everything up to that size, or up
// to its end if it has shrunk since. False on a read error.
bool read_sized(int fd, char *buffer, size_t size, size_t *total) {
    *total = 0;
    while (*total < size) {
        ssize_t got = read_some(fd, buffer + *total, size - *total);
        if (got < 0)
            return false;
        if (got == 0)
            break;
        *total += static_cast<size_t>(got);
    }
    return true;
}

// Reads a descriptor whose status tells no size to its end.
// Null on a read error or when memory runs out.
char *read_to_end(int fd, size_t *total) {
    size_t capacity = chunk;
    char *buffer = static_cast<char *>(malloc(capacity));
    *total = 0;
    while (buffer) {
        if (*total == capacity) {
            char *grown = static_cast<char *>(realloc(buffer, capacity + chunk));
            if (!grown)
                break;
            buffer = grown;
            capacity += chunk;
        }
        ssize_t got = read_some(fd, buffer + *total, capacity - *total);
        if (got == 0)
            return buffer;
        if (got < 0)
            break;
        *total += static_cast<size_t>(got);
    }
    free(buffer);
    return nullptr;
}

} // namespace

ezxml *ezxml_parse_fd(int fd) {
    if (fd < 0)
        return nullptr;
    struct stat64 status;
    if (fstat64(fd, &status) < 0)
        return nullptr;

    char *buffer;
    size_t length;
    // A regular file says how long it is (files of the kernel's own file
    // systems say 0 and are read like pipes); pipes, sockets and devices are
    // read to their end.
    if (S_ISREG(status.st_mode) && status.st_size != 0) {
        // The whole size, never cut to 32 bits; a file too large for this
        // host's address space cannot be held at all.
        if (status.st_size < 0 || static_cast<uint64_t>(status.st_size) >= SIZE_MAX)
            return nullptr;
        size_t size = static_cast<size_t>(status.st_size);
        buffer = static_cast<char *>(malloc(size));
        if (!buffer)
            return nullptr;
        if (!read_sized(fd, buffer, size, &length)) {
            // No document is made from a failed read: its bytes are unknown.
            free(buffer);
            return nullptr;
        }
    } else {
        buffer = read_to_end(fd, &length);
        if (!buffer)
            return nullptr;
    }
    return parse_owned(buffer, length);
}

ezxml *ezxml_parse_file(const char *path) {
    if (!path)
        return nullptr;
    int fd = open64(path, O_RDONLY, 0);
    ezxml *root = ezxml_parse_fd(fd);
    if (fd >= 0)
        close(fd);
    return root;
}

ezxml *ezxml_parse_fp(FILE *fp) {
    if (!fp)
        return nullptr;
    char *buffer = static_cast<char *>(malloc(chunk));
    if (!buffer)
        return nullptr;
    size_t total = 0;
    for (;;) {
        size_t got = fread(buffer + total, 1, chunk, fp);
        total += got;
        if (got < chunk)
            break;
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
    return parse_owned(buffer, total);
}
