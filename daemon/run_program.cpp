#include "daemon/run_program.h"

#include <cerrno>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

bool run_program(const char *const *argv) {
    if (argv == nullptr || argv[0] == nullptr) {
        return false;
    }
    pid_t child = 0;
    // posix_spawnp takes the vector as char *const *; it does not write to it.
    if (posix_spawnp(&child, argv[0], nullptr, nullptr, const_cast<char *const *>(argv), environ) !=
        0) {
        return false;
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR) {
            return false;
        }
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
