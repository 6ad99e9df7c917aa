#include "platform/host/record_file.h"
#include "platform/host/descriptor.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/* A path too long to use is named by its length and its first bytes only:
 * the rest would not fit the explanation, and a message cut short mid-path
 * would hide why the path was refused. */
constexpr int too_long_path_shown = 48;

void refuse_too_long_path(const char *path, size_t limit, record_error &why) {
    std::snprintf(why, sizeof why, "path too long (%zu bytes, at most %zu): %.*s...",
                  std::strlen(path), limit, too_long_path_shown, path);
}

bool write_fully(int fd, const unsigned char *data, size_t length) {
    while (length > 0) {
        ssize_t written = write(fd, data, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data += written;
        length -= static_cast<size_t>(written);
    }
    return true;
}

} // namespace

bool read_record_file(const char *path, record_bytes record, record_error &why) {
    descriptor file(open(path, O_RDONLY | O_CLOEXEC));
    if (file.fd < 0) {
        std::snprintf(why, sizeof why, "cannot open %s: %s", path, std::strerror(errno));
        return false;
    }
    struct stat status;
    if (fstat(file.fd, &status) != 0) {
        std::snprintf(why, sizeof why, "cannot examine %s: %s", path, std::strerror(errno));
        return false;
    }
    if (!S_ISREG(status.st_mode)) {
        std::snprintf(why, sizeof why, "%s is not a regular file", path);
        return false;
    }
    if (status.st_size != NVCFG_SIZE) {
        std::snprintf(why, sizeof why, "%s holds %lld bytes, not a settings record of %d bytes",
                      path, static_cast<long long>(status.st_size), NVCFG_SIZE);
        return false;
    }
    size_t filled = 0;
    while (filled < record.size()) {
        ssize_t got = read(file.fd, record.data() + filled, record.size() - filled);
        if (got < 0 && errno == EINTR) {
            continue;
        }
        if (got <= 0) {
            std::snprintf(why, sizeof why, "cannot read %s: %s", path,
                          got < 0 ? std::strerror(errno) : "the file ended early");
            return false;
        }
        filled += static_cast<size_t>(got);
    }
    return true;
}

bool replace_record_file(const char *path, const_record_bytes record, record_error &why) {
    char temporary[PATH_MAX];
    static constexpr char temporary_suffix[] = ".XXXXXX";
    int needed = std::snprintf(temporary, sizeof temporary, "%s%s", path, temporary_suffix);
    if (needed < 0 || static_cast<size_t>(needed) >= sizeof temporary) {
        refuse_too_long_path(path, sizeof temporary - sizeof temporary_suffix, why);
        return false;
    }
    // Keep the permissions of the record being replaced; a new one is
    // readable by all, as the programs reading it may run as anyone.
    mode_t mode = 0644;
    struct stat existing;
    if (stat(path, &existing) == 0) {
        mode = existing.st_mode & 07777;
    }
    descriptor file(mkostemp(temporary, O_CLOEXEC));
    if (file.fd < 0) {
        std::snprintf(why, sizeof why, "cannot create a file beside %s: %s", path,
                      std::strerror(errno));
        return false;
    }
    bool written = fchmod(file.fd, mode) == 0 &&
                   write_fully(file.fd, record.data(), record.size()) && fsync(file.fd) == 0;
    int saved = errno;
    bool closed = close(file.release()) == 0;
    if (!closed && written) {
        saved = errno;
    }
    if (!written || !closed) {
        unlink(temporary);
        std::snprintf(why, sizeof why, "cannot write %s: %s", temporary, std::strerror(saved));
        return false;
    }
    if (rename(temporary, path) != 0) {
        saved = errno;
        unlink(temporary);
        std::snprintf(why, sizeof why, "cannot replace %s: %s", path, std::strerror(saved));
        return false;
    }
    return true;
}

bool make_parent_directories(const char *path, record_error &why) {
    char prefix[PATH_MAX];
    size_t length = std::strlen(path);
    if (length >= sizeof prefix) {
        refuse_too_long_path(path, sizeof prefix - 1, why);
        return false;
    }
    std::memcpy(prefix, path, length + 1);
    // Each '/' after the first character ends one directory on the way.
    for (size_t i = 1; i < length; ++i) {
        if (prefix[i] != '/') {
            continue;
        }
        prefix[i] = '\0';
        if (mkdir(prefix, 0755) != 0 && errno != EEXIST) {
            std::snprintf(why, sizeof why, "cannot create directory %s: %s", prefix,
                          std::strerror(errno));
            return false;
        }
        struct stat status;
        if (stat(prefix, &status) != 0 || !S_ISDIR(status.st_mode)) {
            std::snprintf(why, sizeof why, "%s is not a directory", prefix);
            return false;
        }
        prefix[i] = '/';
    }
    return true;
}
