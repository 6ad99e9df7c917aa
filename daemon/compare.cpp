#include "daemon/compare.h"

#include "daemon/file_names.h"
#include "daemon/log_messages.h"
#include "platform/sysbus.h"

#include <cstdio>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/* An input stream that is closed on every way out of the comparison. Only a
 * regular file opens. The applied copies lie where other local accounts may
 * have planted names first, so the final component is not followed when it
 * is a link, and the open does not wait: a FIFO or a device of the name
 * neither blocks the daemon nor counts as a copy. */
class input_file {
  public:
    explicit input_file(const char *path) : stream_(nullptr) {
        int fd = open(path, O_RDONLY | O_NONBLOCK | O_NOFOLLOW | O_CLOEXEC);
        if (fd < 0) {
            return;
        }
        struct stat status;
        if (fstat(fd, &status) != 0 || !S_ISREG(status.st_mode) ||
            (stream_ = fdopen(fd, "rb")) == nullptr) {
            close(fd);
        }
    }
    ~input_file() {
        if (stream_ != nullptr) {
            fclose(stream_);
        }
    }
    input_file(const input_file &) = delete;
    input_file &operator=(const input_file &) = delete;

    bool is_open() const { return stream_ != nullptr; }
    int next_byte() { return getc(stream_); }

  private:
    FILE *stream_;
};

enum class comparison { same, different, larger };

comparison compare_streams(input_file &applied, input_file &downloaded) {
    for (;;) {
        int old_byte = applied.next_byte();
        if (old_byte == EOF) {
            return downloaded.next_byte() == EOF ? comparison::same : comparison::larger;
        }
        if (downloaded.next_byte() != old_byte) {
            return comparison::different;
        }
    }
}

} // namespace

void compare_with_applied_using(const char *local_path, const char *applied_directory) {
    char copy_path[APPLIED_PATH_CAPACITY];
    // A download without an applied copy of its own (no file name, or a path
    // too long) is reported as unreadable and does not restart the device.
    if (!applied_path(copy_path, local_path, applied_directory)) {
        autoprov_log(FAILED_TO_OPEN, local_path);
        return;
    }

    input_file applied(copy_path);
    if (!applied.is_open()) {
        // No applied copy: the file is new to the device, so it counts as a
        // change.
        autoprov_log(FAILED_TO_OPEN, copy_path);
        request_reboot();
        return;
    }
    input_file downloaded(local_path);
    if (!downloaded.is_open()) {
        autoprov_log(FAILED_TO_OPEN, local_path);
        return;
    }

    switch (compare_streams(applied, downloaded)) {
    case comparison::different:
        autoprov_log(FILE_IS_DIFFERENT);
        request_reboot();
        break;
    case comparison::larger:
        autoprov_log(FILE_IS_LARGER);
        request_reboot();
        break;
    case comparison::same:
        autoprov_log(NO_CHANGES_FOUND);
        break;
    }
}

void compare_with_applied(const char *local_path) {
    compare_with_applied_using(local_path, APPLIED_DIRECTORY);
}

void request_reboot() {
    fflush(stdout);
    orvex_reset();
}
