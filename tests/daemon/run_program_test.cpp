// Starting programs without a shell: exit statuses, PATH lookup, signals,
// and texts that a shell would have interpreted; the deadline, the file size
// cap and the descriptor handed to a program.
#include "daemon/run_program.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <csignal>
#include <ctime>
#include <fcntl.h>
#include <fstream>
#include <string>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

TEST(RunProgram, ExitStatusZeroIsSuccessAnythingElseFailure) {
    const char *const succeed[] = {"true", nullptr};
    const char *const fail[] = {"false", nullptr};
    const char *const exit_three[] = {"sh", "-c", "exit 3", nullptr};
    EXPECT_TRUE(run_program(succeed));
    EXPECT_FALSE(run_program(fail));
    EXPECT_FALSE(run_program(exit_three));
}

TEST(RunProgram, MissingProgramIsAFailure) {
    const char *const missing[] = {"no-such-program-for-daemon-tests", nullptr};
    EXPECT_FALSE(run_program(missing));
    const char *const empty[] = {nullptr};
    EXPECT_FALSE(run_program(empty));
}

TEST(RunProgram, DeathBySignalIsAFailure) {
    const char *const killed[] = {"sh", "-c", "kill -KILL $$", nullptr};
    EXPECT_FALSE(run_program(killed));
}

TEST(RunProgram, ArgumentsReachTheProgramUninterpreted) {
    // Run inside the directory, so that a shell's "touch b" would show there.
    temp_dir directory;
    char saved[4096];
    ASSERT_NE(getcwd(saved, sizeof saved), nullptr);
    ASSERT_EQ(chdir(directory.path().c_str()), 0);
    const std::string hostile = "a;touch b $(touch c) `touch d` >e";
    const char *const touch[] = {"touch", hostile.c_str(), nullptr};
    bool ran = run_program(touch);
    ASSERT_EQ(chdir(saved), 0);
    EXPECT_TRUE(ran);
    EXPECT_TRUE(file_exists(directory.file(hostile)));
    for (const char *name : {"a", "b", "c", "d", "e"}) {
        EXPECT_FALSE(file_exists(directory.file(name))) << name;
    }
}

TEST(RunProgram, FoundOnPath) {
    temp_dir directory;
    const std::string script = directory.write("marker-maker", "#!/bin/sh\necho \"$1\" > \"$2\"\n");
    ASSERT_EQ(chmod(script.c_str(), 0700), 0);
    const std::string saved = getenv("PATH");
    setenv("PATH", (directory.path() + ":" + saved).c_str(), 1);
    const std::string out = directory.file("out");
    const char *const run[] = {"marker-maker", "-x y", out.c_str(), nullptr};
    bool ran = run_program(run);
    setenv("PATH", saved.c_str(), 1);
    EXPECT_TRUE(ran);
    EXPECT_EQ(read_file(out), "-x y\n");
}

namespace {

// Short limits, so the stops show in a fraction of a second.
run_limits short_limits() {
    run_limits limits;
    limits.deadline_ms = 300;
    limits.grace_ms = 300;
    limits.file_size_cap = 1000;
    return limits;
}

double seconds_since(const timespec &start) {
    timespec end{};
    clock_gettime(CLOCK_MONOTONIC, &end);
    return static_cast<double>(end.tv_sec - start.tv_sec) +
           static_cast<double>(end.tv_nsec - start.tv_nsec) / 1e9;
}

timespec monotonic_now() {
    timespec moment{};
    clock_gettime(CLOCK_MONOTONIC, &moment);
    return moment;
}

// A process is gone once it no longer exists or is only a zombie waiting
// for whoever inherited it.
bool process_ended(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    if (!std::getline(stat, line)) {
        return true;
    }
    size_t end_of_name = line.rfind(')');
    return end_of_name != std::string::npos && line.size() > end_of_name + 2 &&
           line[end_of_name + 2] == 'Z';
}

// A killed process ends a moment after the kill returns; a process that was
// not killed keeps running for its sixty seconds.
bool process_gone(pid_t pid) {
    for (int look = 0; look < 200; ++look) {
        if (process_ended(pid)) {
            return true;
        }
        const timespec pause = {0, 10 * 1000 * 1000};
        nanosleep(&pause, nullptr);
    }
    return false;
}

// The process ID that a test program wrote to path, once it is there.
pid_t read_pid(const std::string &path) {
    std::string text = read_file(path);
    return text.empty() ? 0 : static_cast<pid_t>(std::stol(text));
}

} // namespace

TEST(RunProgramLimits, WithinBothLimitsExitStatusesStillCount) {
    temp_dir directory;
    const std::string out = directory.file("out");
    const std::string write_cap = "head -c 1000 /dev/zero > '" + out + "'";
    const char *const fits[] = {"sh", "-c", write_cap.c_str(), nullptr};
    const char *const exit_three[] = {"sh", "-c", "exit 3", nullptr};
    const char *const killed[] = {"sh", "-c", "kill -KILL $$", nullptr};
    EXPECT_TRUE(run_program(fits, short_limits()));
    EXPECT_EQ(read_file(out).size(), 1000u); // exactly the cap is allowed
    EXPECT_FALSE(run_program(exit_three, short_limits()));
    EXPECT_FALSE(run_program(killed, short_limits()));
}

TEST(RunProgramLimits, ProgramPastItsDeadlineIsStoppedWithItsWholeGroup) {
    temp_dir directory;
    const std::string pid_file = directory.file("pid");
    // The shell leaves a second process in its group and waits for it.
    const std::string script = "sleep 60 & echo $! > '" + pid_file + "'; wait";
    const char *const slow[] = {"sh", "-c", script.c_str(), nullptr};
    timespec start = monotonic_now();
    EXPECT_FALSE(run_program(slow, short_limits()));
    double took = seconds_since(start);
    EXPECT_GE(took, 0.29);
    EXPECT_LT(took, 10.0); // not the sixty seconds of the program
    pid_t sleeper = read_pid(pid_file);
    ASSERT_GT(sleeper, 0);
    EXPECT_TRUE(process_gone(sleeper));
}

TEST(RunProgramLimits, ProgramThatIgnoresTerminationIsKilledAfterTheGrace) {
    temp_dir directory;
    const std::string pid_file = directory.file("pid");
    // Both the shell and the sleep it starts ignore SIGTERM.
    const std::string script = "trap '' TERM; sleep 60 & echo $! > '" + pid_file + "'; wait";
    const char *const stubborn[] = {"sh", "-c", script.c_str(), nullptr};
    timespec start = monotonic_now();
    EXPECT_FALSE(run_program(stubborn, short_limits()));
    double took = seconds_since(start);
    EXPECT_GE(took, 0.59); // the deadline and then the grace
    EXPECT_LT(took, 10.0);
    pid_t sleeper = read_pid(pid_file);
    ASSERT_GT(sleeper, 0);
    EXPECT_TRUE(process_gone(sleeper));
}

TEST(RunProgramLimits, NothingThatAProgramLeavesInItsGroupOutlivesIt) {
    temp_dir directory;
    const std::string pid_file = directory.file("pid");
    const std::string script = "sleep 60 & echo $! > '" + pid_file + "'";
    const char *const leaves[] = {"sh", "-c", script.c_str(), nullptr};
    EXPECT_TRUE(run_program(leaves, short_limits()));
    pid_t sleeper = read_pid(pid_file);
    ASSERT_GT(sleeper, 0);
    EXPECT_TRUE(process_gone(sleeper));
}

TEST(RunProgramLimits, WritingPastTheCapFails) {
    temp_dir directory;
    const std::string out = directory.file("out");
    // head is ended by SIGXFSZ; Python ignores that signal and fails with
    // EFBIG instead. Both are failures.
    const std::string head = "head -c 1001 /dev/zero > '" + out + "'";
    const char *const by_signal[] = {"sh", "-c", head.c_str(), nullptr};
    EXPECT_FALSE(run_program(by_signal, short_limits()));
    EXPECT_LE(read_file(out).size(), 1000u);
    // Closed inside the program, so that a failed write cannot pass
    // unnoticed in the interpreter's clean-up.
    const std::string python = "with open('" + out + "', 'wb') as f:\n    f.write(b'x' * 1001)";
    const char *const by_error[] = {"python3", "-c", python.c_str(), nullptr};
    EXPECT_FALSE(run_program(by_error, short_limits()));
    EXPECT_LE(read_file(out).size(), 1000u);
}

TEST(RunProgramLimits, TheCallerKeepsItsOwnFileSizeLimitAndSignalMask) {
    rlimit before{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &before), 0);
    sigset_t mask_before;
    ASSERT_EQ(sigprocmask(SIG_BLOCK, nullptr, &mask_before), 0);
    const char *const succeed[] = {"true", nullptr};
    EXPECT_TRUE(run_program(succeed, short_limits()));
    rlimit after{};
    ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &after), 0);
    EXPECT_EQ(after.rlim_cur, before.rlim_cur);
    EXPECT_EQ(after.rlim_max, before.rlim_max);
    sigset_t mask_after;
    ASSERT_EQ(sigprocmask(SIG_BLOCK, nullptr, &mask_after), 0);
    EXPECT_EQ(sigismember(&mask_after, SIGCHLD), sigismember(&mask_before, SIGCHLD));
    // The child is not left with SIGCHLD blocked either.
    temp_dir directory;
    const std::string out = directory.file("status");
    const std::string script = "grep SigBlk /proc/self/status > '" + out + "'";
    const char *const show_mask[] = {"sh", "-c", script.c_str(), nullptr};
    ASSERT_TRUE(run_program(show_mask, short_limits()));
    EXPECT_EQ(read_file(out), "SigBlk:\t0000000000000000\n");
}

TEST(RunProgramLimits, OnlyTheNamedDescriptorReachesTheProgram) {
    temp_dir directory;
    const std::string out = directory.file("out");
    int handed = memfd_create("handed", MFD_CLOEXEC);
    int kept = memfd_create("kept", MFD_CLOEXEC);
    ASSERT_GE(handed, 0);
    ASSERT_GE(kept, 0);
    ASSERT_EQ(write(handed, "handed\n", 7), 7);
    ASSERT_EQ(write(kept, "kept\n", 5), 5);
    const std::string script = "cat /proc/self/fd/" + std::to_string(handed) + " > '" + out +
                               "' && ! test -e /proc/self/fd/" + std::to_string(kept);
    const char *const reader[] = {"sh", "-c", script.c_str(), nullptr};
    run_limits limits = short_limits();
    limits.inherited_fd = handed;
    bool ran = run_program(reader, limits);
    EXPECT_TRUE(ran);
    EXPECT_EQ(read_file(out), "handed\n");
    // Without being named, it stays the daemon's own.
    EXPECT_FALSE(run_program(reader, short_limits()));
    EXPECT_NE(fcntl(handed, F_GETFD) & FD_CLOEXEC, 0);
    close(handed);
    close(kept);
}

TEST(RunProgramLimits, DownloadsGetTwoMinutesAndEightMebibytes) {
    run_limits limits = download_limits(5);
    EXPECT_EQ(limits.deadline_ms, 120000);
    EXPECT_EQ(limits.file_size_cap, 8u * 1024u * 1024u);
    EXPECT_GT(limits.grace_ms, 0);
    EXPECT_EQ(limits.inherited_fd, 5);
}
