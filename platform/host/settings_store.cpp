#include "platform/host/record_path.h"
#include "platform/host/descriptor.h"
#include "platform/nvcfg.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

/* Reads until the buffer is full or the file ends; -1 on a read error. */
ssize_t read_fully(int fd, unsigned char *buffer, size_t capacity) {
    size_t filled = 0;
    while (filled < capacity) {
        ssize_t got = read(fd, buffer + filled, capacity - filled);
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            return -1;
        }
        if (got == 0) {
            break;
        }
        filled += static_cast<size_t>(got);
    }
    return static_cast<ssize_t>(filled);
}

} // namespace

extern "C" int get_config(struct nvcfg *record) {
    if (record == nullptr) {
        return -1;
    }
    descriptor file(open(settings_record_path(), O_RDONLY | O_CLOEXEC));
    if (file.fd < 0) {
        return -1;
    }
    // A record of the wrong length is somebody else's format: taking its first
    // bytes would hand out settings at shifted meanings, so refuse it whole.
    // One byte more than a record is asked for, so a longer file shows itself.
    unsigned char copy[NVCFG_SIZE + 1];
    ssize_t got = read_fully(file.fd, copy, sizeof copy);
    if (got != NVCFG_SIZE) {
        return -1;
    }
    std::memcpy(record, copy, NVCFG_SIZE);
    return 0;
}
