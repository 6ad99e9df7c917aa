/* Preloaded into the daemon under test so that its 15-second tick costs no
 * wall-clock time and every run ends on its own after a chosen number of ticks.
 *
 * In the process named by E2E_FAKE_PROGRAM (cfgwatch) it replaces:
 *   sleep  - returns at once, advancing a fake clock by the seconds asked for;
 *            the (E2E_CLOCK_TICKS + 1)-th call ends the process with _exit(0),
 *            the same abrupt end as the kill that stops the daemon on a device;
 *   time   - the fake clock, starting at E2E_CLOCK_START (seconds since the
 *            epoch, UTC), so localtime() under TZ=UTC sees a chosen moment.
 * At every sleep it also writes the process's peak resident memory so far
 * (VmHWM, in KiB) to the trace as "memory KIB", so that what one check cost
 * can be read after the run.
 * It also watches, without changing them, the two calls into the IPC library:
 * every autoprov_log message, byte for byte, and every orvex_reset, are
 * written to the trace file E2E_TRACE_FILE together with the tick markers, and
 * then handed to the real library, which writes them exactly as it always does.
 * Programs started with posix_spawn(p) or system, and the statuses that
 * waitpid and system report, are traced the same way: the tests see exactly
 * which programs ran with which arguments, and a failing download shows how it
 * ended. Calls of access, fopen and open on paths that begin with
 * E2E_WATCH_PATH (the lease directory) are traced too, so a test sees when
 * the lease is looked at.
 *
 * Every other process that inherits the preload (the shell, wget, the TFTP
 * client) gets the real functions. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <sys/types.h>
#include <sys/wait.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <time.h>
#include <unistd.h>

static void trace_status(int status);

static int faking;
static int trace_fd = -1;
static time_t fake_now;
static const char *watched_path;
static unsigned long ticks_allowed;
static unsigned long ticks_done;

static void write_all(int fd, const char *text, size_t length) {
    while (length > 0) {
        ssize_t written = write(fd, text, length);
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return;
        }
        text += written;
        length -= (size_t)written;
    }
}

/* One trace record per line: a keyword, then the payload with backslash, line
 * feed and other control bytes escaped, so a trailing "\n" in a log message
 * stays visible. */
static void trace(const char *keyword, const char *payload) {
    if (trace_fd < 0) {
        return;
    }
    char line[8192];
    size_t used = (size_t)snprintf(line, sizeof line, "%s", keyword);
    if (payload != NULL) {
        line[used++] = ' ';
        for (const unsigned char *p = (const unsigned char *)payload;
             *p != '\0' && used + 5 < sizeof line; ++p) {
            if (*p == '\\') {
                line[used++] = '\\';
                line[used++] = '\\';
            } else if (*p < 0x20 || *p == 0x7f) {
                used += (size_t)snprintf(line + used, 5, "\\x%02x", *p);
            } else {
                line[used++] = (char)*p;
            }
        }
    }
    line[used++] = '\n';
    write_all(trace_fd, line, used);
}

__attribute__((constructor)) static void fake_clock_init(void) {
    const char *program = getenv("E2E_FAKE_PROGRAM");
    if (program == NULL || strcmp(program, program_invocation_short_name) != 0) {
        return;
    }
    faking = 1;
    const char *start = getenv("E2E_CLOCK_START");
    fake_now = start != NULL ? (time_t)strtoll(start, NULL, 10) : 0;
    const char *ticks = getenv("E2E_CLOCK_TICKS");
    ticks_allowed = ticks != NULL ? strtoul(ticks, NULL, 10) : 0;
    watched_path = getenv("E2E_WATCH_PATH");
    const char *trace_path = getenv("E2E_TRACE_FILE");
    if (trace_path != NULL) {
        trace_fd = open(trace_path, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    }
    trace("start", NULL);
}

/* The VmHWM line of /proc/self/status, traced as "memory KIB". */
static void trace_peak_memory(void) {
    int fd = open("/proc/self/status", O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        return;
    }
    char status[4096];
    ssize_t length = read(fd, status, sizeof status - 1);
    close(fd);
    if (length <= 0) {
        return;
    }
    status[length] = '\0';
    const char *line = strstr(status, "VmHWM:");
    if (line != NULL) {
        char kib[32];
        snprintf(kib, sizeof kib, "%lld", strtoll(line + 6, NULL, 10));
        trace("memory", kib);
    }
}

unsigned int sleep(unsigned int seconds) {
    if (!faking) {
        unsigned int (*real_sleep)(unsigned int) =
            (unsigned int (*)(unsigned int))dlsym(RTLD_NEXT, "sleep");
        return real_sleep(seconds);
    }
    trace_peak_memory();
    if (ticks_done >= ticks_allowed) {
        trace("end", NULL);
        _exit(0);
    }
    ++ticks_done;
    fake_now += (time_t)seconds;
    char marker[64];
    snprintf(marker, sizeof marker, "%lu %u %lld", ticks_done, seconds, (long long)fake_now);
    trace("tick", marker);
    return 0;
}

time_t time(time_t *result) {
    if (!faking) {
        time_t (*real_time)(time_t *) = (time_t(*)(time_t *))dlsym(RTLD_NEXT, "time");
        return real_time(result);
    }
    if (result != NULL) {
        *result = fake_now;
    }
    return fake_now;
}

int autoprov_log(const char *format, ...) {
    int (*real_log)(const char *, ...) =
        (int (*)(const char *, ...))dlsym(RTLD_NEXT, "autoprov_log");
    char message[8192];
    va_list arguments;
    va_start(arguments, format);
    vsnprintf(message, sizeof message, format, arguments);
    va_end(arguments);
    trace("log", message);
    return real_log("%s", message);
}

void orvex_reset(void) {
    void (*real_reset)(void) = (void (*)(void))dlsym(RTLD_NEXT, "orvex_reset");
    trace("reset", NULL);
    real_reset();
}

static void trace_spawn(const char *kind, char *const argv[]) {
    char words[8192];
    size_t used = 0;
    words[0] = '\0';
    for (size_t i = 0; argv != NULL && argv[i] != NULL && used + 2 < sizeof words; ++i) {
        /* Words are separated by a unit separator, which no argument here holds. */
        int wrote =
            snprintf(words + used, sizeof words - used, "%s%s", i > 0 ? "\x1f" : "", argv[i]);
        if (wrote < 0) {
            break;
        }
        used += (size_t)wrote;
        if (used >= sizeof words) {
            used = sizeof words - 1;
        }
    }
    trace(kind, words);
}

int posix_spawnp(pid_t *pid, const char *file, const posix_spawn_file_actions_t *actions,
                 const posix_spawnattr_t *attributes, char *const argv[], char *const envp[]) {
    int (*real_spawnp)(pid_t *, const char *, const posix_spawn_file_actions_t *,
                       const posix_spawnattr_t *, char *const[], char *const[]) =
        (int (*)(pid_t *, const char *, const posix_spawn_file_actions_t *,
                 const posix_spawnattr_t *, char *const[], char *const[]))dlsym(RTLD_NEXT,
                                                                                "posix_spawnp");
    if (faking) {
        trace_spawn("spawn", argv);
    }
    return real_spawnp(pid, file, actions, attributes, argv, envp);
}

int posix_spawn(pid_t *pid, const char *path, const posix_spawn_file_actions_t *actions,
                const posix_spawnattr_t *attributes, char *const argv[], char *const envp[]) {
    int (*real_spawn)(pid_t *, const char *, const posix_spawn_file_actions_t *,
                      const posix_spawnattr_t *, char *const[], char *const[]) =
        (int (*)(pid_t *, const char *, const posix_spawn_file_actions_t *,
                 const posix_spawnattr_t *, char *const[], char *const[]))dlsym(RTLD_NEXT,
                                                                                "posix_spawn");
    if (faking) {
        trace_spawn("spawn", argv);
    }
    return real_spawn(pid, path, actions, attributes, argv, envp);
}

pid_t waitpid(pid_t pid, int *status, int options) {
    pid_t (*real_waitpid)(pid_t, int *, int) =
        (pid_t(*)(pid_t, int *, int))dlsym(RTLD_NEXT, "waitpid");
    pid_t ended = real_waitpid(pid, status, options);
    if (faking && ended > 0 && status != NULL) {
        trace_status(*status);
    }
    return ended;
}

static void trace_status(int status) {
    char text[64];
    if (status == -1) {
        snprintf(text, sizeof text, "failed");
    } else if (WIFEXITED(status)) {
        snprintf(text, sizeof text, "exit %d", WEXITSTATUS(status));
    } else if (WIFSIGNALED(status)) {
        snprintf(text, sizeof text, "signal %d", WTERMSIG(status));
    } else {
        snprintf(text, sizeof text, "status %d", status);
    }
    trace("ended", text);
}

int system(const char *command) {
    int (*real_system)(const char *) = (int (*)(const char *))dlsym(RTLD_NEXT, "system");
    if (!faking || command == NULL) {
        return real_system(command);
    }
    char *const argv[] = {(char *)"/bin/sh", (char *)"-c", (char *)command, NULL};
    trace_spawn("spawn", argv);
    int status = real_system(command);
    trace_status(status);
    return status;
}

static void trace_file_call(const char *call, const char *path) {
    if (faking && watched_path != NULL && *watched_path != '\0' && path != NULL &&
        strncmp(path, watched_path, strlen(watched_path)) == 0) {
        char text[4096];
        snprintf(text, sizeof text, "%s %s", call, path);
        trace("file", text);
    }
}

int access(const char *path, int mode) {
    int (*real_access)(const char *, int) = (int (*)(const char *, int))dlsym(RTLD_NEXT, "access");
    trace_file_call("access", path);
    return real_access(path, mode);
}

FILE *fopen(const char *path, const char *mode) {
    FILE *(*real_fopen)(const char *, const char *) =
        (FILE * (*)(const char *, const char *)) dlsym(RTLD_NEXT, "fopen");
    trace_file_call("fopen", path);
    return real_fopen(path, mode);
}

FILE *fopen64(const char *path, const char *mode) {
    FILE *(*real_fopen64)(const char *, const char *) =
        (FILE * (*)(const char *, const char *)) dlsym(RTLD_NEXT, "fopen64");
    trace_file_call("fopen", path);
    return real_fopen64(path, mode);
}

int open(const char *path, int flags, ...) {
    int (*real_open)(const char *, int, ...) =
        (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open");
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = (mode_t)va_arg(arguments, int);
        va_end(arguments);
    }
    trace_file_call("open", path);
    return real_open(path, flags, mode);
}

int open64(const char *path, int flags, ...) {
    int (*real_open64)(const char *, int, ...) =
        (int (*)(const char *, int, ...))dlsym(RTLD_NEXT, "open64");
    mode_t mode = 0;
    if (flags & (O_CREAT | O_TMPFILE)) {
        va_list arguments;
        va_start(arguments, flags);
        mode = (mode_t)va_arg(arguments, int);
        va_end(arguments);
    }
    trace_file_call("open", path);
    return real_open64(path, flags, mode);
}
