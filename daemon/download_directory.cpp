#include "daemon/download_directory.h"

#include "daemon/bounded_text.h"
#include "daemon/log_messages.h"
#include "platform/sysbus.h"

#include <cerrno>
#include <cstdio>
#include <fcntl.h>
#include <stdint.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

/* Room for the path and the ".untrusted-" suffix with sixteen digits. */
constexpr size_t ASIDE_PATH_CAPACITY = 320;

/* Fresh names tried when moving an entry aside. */
constexpr int ASIDE_ATTEMPTS = 3;

/* Moving aside, creating and checking take three looks; someone planting
 * the name again and again meanwhile makes the download give up after a
 * few more, until the next one. */
constexpr int PREPARE_STEPS = 6;

enum class standing { missing, private_directory, foreign, unknown };

standing look_at(const char *path) {
    struct stat status;
    if (lstat(path, &status) != 0) {
        return errno == ENOENT ? standing::missing : standing::unknown;
    }
    // A link is judged as a link, never by what it points to: the link
    // itself is what a local account may have put here.
    bool private_directory = S_ISDIR(status.st_mode) && status.st_uid == geteuid() &&
                             (status.st_mode & (S_IWGRP | S_IWOTH)) == 0;
    return private_directory ? standing::private_directory : standing::foreign;
}

/* Narrows a directory of our own to 0700 through a descriptor opened
 * without following links, so the change lands on the directory looked at
 * and on nothing a link could name. */
bool make_owner_only(const char *path) {
    int directory = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (directory < 0) {
        return false;
    }
    struct stat status;
    bool ok = fstat(directory, &status) == 0 && status.st_uid == geteuid() &&
              ((status.st_mode & 07777) == S_IRWXU || fchmod(directory, S_IRWXU) == 0);
    close(directory);
    return ok;
}

/* Renames whatever stands at path to a fresh name beside it. The rename
 * moves the entry itself (a link stays a link, a directory keeps its
 * contents) and never replaces an existing name, so it can neither follow
 * nor destroy anything. */
bool move_aside(const char *path) {
    for (int attempt = 0; attempt < ASIDE_ATTEMPTS; ++attempt) {
        uint64_t random = 0;
        if (getrandom(&random, sizeof random, 0) != sizeof random) {
            return false;
        }
        char aside[ASIDE_PATH_CAPACITY];
        if (!format_bounded(aside, sizeof aside, "%s.untrusted-%016llx", path,
                            static_cast<unsigned long long>(random))) {
            return false;
        }
        if (renameat2(AT_FDCWD, path, AT_FDCWD, aside, RENAME_NOREPLACE) == 0) {
            autoprov_log(MOVED_ASIDE, path, aside);
            return true;
        }
        if (errno == ENOENT) {
            return true; // gone already; the caller looks again
        }
        if (errno != EEXIST) {
            return false;
        }
    }
    return false;
}

} // namespace

bool prepare_download_directory(const char *path) {
    for (int step = 0; step < PREPARE_STEPS; ++step) {
        standing now = look_at(path);
        if (now == standing::private_directory) {
            if (make_owner_only(path)) {
                return true;
            }
            break;
        }
        if (now == standing::missing) {
            // Made here, the next look finds it ours; on EEXIST someone was
            // quicker, and the next look judges what they made.
            if (mkdir(path, S_IRWXU) == 0 || errno == EEXIST) {
                continue;
            }
            break;
        }
        if (now == standing::foreign && move_aside(path)) {
            continue;
        }
        break;
    }
    autoprov_log(NO_PRIVATE_DOWNLOAD_DIRECTORY, path);
    return false;
}
