#include "daemon/run_program.h"

#include "daemon/download_limits.h"

#include <cassert>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <ctime>
#include <spawn.h>
#include <sys/resource.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

namespace {

constexpr long NANOSECONDS_PER_MILLISECOND = 1000000;
constexpr long NANOSECONDS_PER_SECOND = 1000000000;

/* The monotonic clock, which neither a changed wall clock nor a time zone
 * moves. */
timespec now() {
    timespec moment{};
    clock_gettime(CLOCK_MONOTONIC, &moment);
    return moment;
}

timespec later(timespec moment, int milliseconds) {
    moment.tv_sec += milliseconds / 1000;
    moment.tv_nsec += static_cast<long>(milliseconds % 1000) * NANOSECONDS_PER_MILLISECOND;
    if (moment.tv_nsec >= NANOSECONDS_PER_SECOND) {
        moment.tv_sec += 1;
        moment.tv_nsec -= NANOSECONDS_PER_SECOND;
    }
    return moment;
}

/* The time left until deadline; false when none is left. */
bool time_left(timespec deadline, timespec &left) {
    timespec current = now();
    left.tv_sec = deadline.tv_sec - current.tv_sec;
    left.tv_nsec = deadline.tv_nsec - current.tv_nsec;
    if (left.tv_nsec < 0) {
        left.tv_sec -= 1;
        left.tv_nsec += NANOSECONDS_PER_SECOND;
    }
    return left.tv_sec > 0 || (left.tv_sec == 0 && left.tv_nsec > 0);
}

enum class child_state { running, ended, lost };

/* Whether the child has ended. It is not reaped here: while it stays a
 * zombie its process ID, and so its process group's ID, cannot be handed to
 * another process, and the group can still be signalled safely. */
child_state look_at(pid_t child) {
    siginfo_t info;
    memset(&info, 0, sizeof info);
    if (waitid(P_PID, static_cast<id_t>(child), &info, WEXITED | WNOHANG | WNOWAIT) != 0) {
        // Not ours to wait for (SIGCHLD ignored, say): its ID may already
        // name another process, which must not be signalled.
        return errno == EINTR ? child_state::running : child_state::lost;
    }
    return info.si_pid == child ? child_state::ended : child_state::running;
}

struct wait_outcome {
    bool stopped; /* the deadline passed and the group was signalled */
    bool lost;
};

/* Starts argv in a process group of its own, with the caller's signal mask
 * (previous_mask) and the file size cap. */
bool start(pid_t &child, const char *const *argv, const run_limits &limits,
           const sigset_t &previous_mask) {
    posix_spawnattr_t attributes;
    posix_spawn_file_actions_t actions;
    if (posix_spawnattr_init(&attributes) != 0) {
        return false;
    }
    if (posix_spawn_file_actions_init(&actions) != 0) {
        posix_spawnattr_destroy(&attributes);
        return false;
    }
    bool ready = posix_spawnattr_setflags(&attributes,
                                          POSIX_SPAWN_SETPGROUP | POSIX_SPAWN_SETSIGMASK) == 0 &&
                 posix_spawnattr_setpgroup(&attributes, 0) == 0 &&
                 posix_spawnattr_setsigmask(&attributes, &previous_mask) == 0;
    if (ready && limits.inherited_fd >= 0) {
        // Duplicating a descriptor onto itself clears its close-on-exec flag
        // in the child only (POSIX, Austin Group issue 411).
        ready = posix_spawn_file_actions_adddup2(&actions, limits.inherited_fd,
                                                 limits.inherited_fd) == 0;
    }

    // posix_spawn has no attribute for resource limits. The child inherits
    // them when it is created, so the cap is lowered for that moment only and
    // put back at once; nothing in this thread writes a file meanwhile.
    rlimit saved{};
    bool capped = false;
    if (ready && limits.file_size_cap > 0) {
        ready = getrlimit(RLIMIT_FSIZE, &saved) == 0;
        rlimit lowered = saved;
        if (ready && (saved.rlim_cur == RLIM_INFINITY || saved.rlim_cur > limits.file_size_cap)) {
            lowered.rlim_cur = static_cast<rlim_t>(limits.file_size_cap);
            if (saved.rlim_max != RLIM_INFINITY && lowered.rlim_cur > saved.rlim_max) {
                lowered.rlim_cur = saved.rlim_max;
            }
            ready = setrlimit(RLIMIT_FSIZE, &lowered) == 0;
            capped = ready;
        }
    }
    // posix_spawnp takes the vector as char *const *; it does not write to it.
    bool started = ready && posix_spawnp(&child, argv[0], &actions, &attributes,
                                         const_cast<char *const *>(argv), environ) == 0;
    if (capped) {
        setrlimit(RLIMIT_FSIZE, &saved);
    }
    posix_spawn_file_actions_destroy(&actions);
    posix_spawnattr_destroy(&attributes);
    return started;
}

/* Waits for child to end, stopping its group at the deadline. */
wait_outcome wait_within_limits(pid_t child, const run_limits &limits,
                                const sigset_t &child_signal) {
    bool has_deadline = limits.deadline_ms > 0;
    timespec deadline = later(now(), limits.deadline_ms);
    bool terminated = false;
    child_state state = child_state::running;
    while ((state = look_at(child)) == child_state::running) {
        if (!has_deadline) {
            sigwaitinfo(&child_signal, nullptr);
            continue;
        }
        timespec left{};
        if (time_left(deadline, left)) {
            // SIGCHLD is blocked, so it stays pending until it is taken here;
            // an end between the look above and this wait is not missed.
            sigtimedwait(&child_signal, nullptr, &left);
            continue;
        }
        if (!terminated) {
            kill(-child, SIGTERM);
            terminated = true;
            deadline = later(now(), limits.grace_ms);
        } else {
            kill(-child, SIGKILL);
            has_deadline = false;
        }
    }
    return {terminated, state == child_state::lost};
}

} // namespace

run_limits download_limits(int inherited_fd) {
    run_limits limits;
    limits.deadline_ms = DOWNLOAD_DEADLINE_SECONDS * 1000;
    limits.grace_ms = DOWNLOAD_STOP_GRACE_SECONDS * 1000;
    limits.file_size_cap = DOWNLOAD_SIZE_CAP_BYTES;
    limits.inherited_fd = inherited_fd;
    return limits;
}

bool run_program(const char *const *argv, const run_limits &limits) {
    if (argv == nullptr || argv[0] == nullptr) {
        return false;
    }
    assert(limits.deadline_ms >= 0 && limits.grace_ms >= 0);
    // The child's end is taken as SIGCHLD with a time-out; blocked from
    // before the start, it cannot be lost. The daemon has one thread, so no
    // other thread takes it instead.
    sigset_t child_signal;
    sigset_t previous_mask;
    sigemptyset(&child_signal);
    sigaddset(&child_signal, SIGCHLD);
    if (sigprocmask(SIG_BLOCK, &child_signal, &previous_mask) != 0) {
        return false;
    }
    pid_t child = 0;
    if (!start(child, argv, limits, previous_mask)) {
        sigprocmask(SIG_SETMASK, &previous_mask, nullptr);
        return false;
    }
    wait_outcome outcome = wait_within_limits(child, limits, child_signal);
    int status = 0;
    pid_t reaped = -1;
    if (!outcome.lost) {
        // The child is still a zombie, so its group is still its own:
        // nothing it started outlives it.
        kill(-child, SIGKILL);
        do {
            reaped = waitpid(child, &status, 0);
        } while (reaped < 0 && errno == EINTR);
    }
    sigprocmask(SIG_SETMASK, &previous_mask, nullptr);
    return reaped == child && !outcome.stopped && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
