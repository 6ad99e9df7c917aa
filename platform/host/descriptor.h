/* An open file descriptor that closes itself on every way out of a scope. */
#ifndef PLATFORM_HOST_DESCRIPTOR_H
#define PLATFORM_HOST_DESCRIPTOR_H

#include <unistd.h>

struct descriptor {
    int fd;
    explicit descriptor(int opened) : fd(opened) {}
    descriptor(const descriptor &) = delete;
    descriptor &operator=(const descriptor &) = delete;
    ~descriptor() {
        if (fd >= 0) {
            close(fd);
        }
    }
    /* Hands the closing over to the caller, who wants to see its result. */
    int release() {
        int kept = fd;
        fd = -1;
        return kept;
    }
};

#endif
