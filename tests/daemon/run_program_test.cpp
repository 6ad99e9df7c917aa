// Starting programs without a shell: exit statuses, PATH lookup, signals,
// and texts that a shell would have interpreted.
#include "daemon/run_program.h"

#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <string>
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
