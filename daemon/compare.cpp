#include "daemon/compare.h"

#include "daemon/file_names.h"
#include "platform/sysbus.h"

#include <cstdio>
#include <cstring>
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

void compare_with_applied_in(const char *local_path, const char *applied_directory) {
    char base[APPLIED_PATH_CAPACITY];
    char applied_path[APPLIED_PATH_CAPACITY];
    // Without a file name of its own the download has no applied copy to be
    // held against, and a shortened path would name some other copy: such a
    // file is reported as unreadable and does not restart the device.
    if (!base_name(local_path, base, sizeof base) || strcmp(base, ".") == 0 ||
        strcmp(base, "..") == 0 || strcmp(base, "/") == 0 ||
        !format_bounded(applied_path, sizeof applied_path, "%s/%s", applied_directory, base)) {
        autoprov_log("Cfgwatch failed to open %s...", local_path);
        return;
    }

    input_file applied(applied_path);
    if (!applied.is_open()) {
        // No applied copy: the file is new to the device, so it counts as a
        // change.
        autoprov_log("Cfgwatch failed to open %s...", applied_path);
        request_reboot();
        return;
    }
    input_file downloaded(local_path);
    if (!downloaded.is_open()) {
        autoprov_log("Cfgwatch failed to open %s...", local_path);
        return;
    }

    switch (compare_streams(applied, downloaded)) {
    case comparison::different:
        autoprov_log("Cfgwatch: The new autoprovisioning file is different. Rebooting device.");
        request_reboot();
        break;
    case comparison::larger:
        autoprov_log(
            "Cfgwatch: The new autoprovisioning file is larger than the old. Rebooting device.");
        request_reboot();
        break;
    case comparison::same:
        autoprov_log("Cfgwatch: no changes found.");
        break;
    }
}

void compare_with_applied(const char *local_path) {
    compare_with_applied_in(local_path, APPLIED_DIRECTORY);
}

void request_reboot() {
    fflush(stdout);
    orvex_reset();
}
