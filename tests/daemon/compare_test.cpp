// Change detection: every outcome of holding a download against its applied
// copy, with the log line and whether the device is restarted.
#include "daemon/compare.h"

#include "support/log_recorder.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using events = std::vector<std::string>;

const std::string different =
    "Cfgwatch: The new autoprovisioning file is different. Rebooting device.";
const std::string larger =
    "Cfgwatch: The new autoprovisioning file is larger than the old. Rebooting device.";
const std::string unchanged = "Cfgwatch: no changes found.";

class CompareWithApplied : public ::testing::Test {
  protected:
    void SetUp() override {
        clear_recorded_events();
        ASSERT_EQ(mkdir(downloads.c_str(), 0700), 0);
        ASSERT_EQ(mkdir(applied.c_str(), 0700), 0);
    }

    // Writes the download and its applied copy under the same base name and
    // compares them.
    events compare(const std::string &new_content, const std::string &old_content) {
        root.write("new/dev.xml", new_content);
        root.write("old/dev.xml", old_content);
        compare_with_applied_using((downloads + "/dev.xml").c_str(), applied.c_str());
        return recorded_events();
    }

    temp_dir root;
    std::string downloads = root.file("new");
    std::string applied = root.file("old");
};

} // namespace

TEST_F(CompareWithApplied, IdenticalFilesFindNoChanges) {
    EXPECT_EQ(compare("<x>same</x>\n", "<x>same</x>\n"), events{unchanged});
}

TEST_F(CompareWithApplied, TwoEmptyFilesAreEqual) {
    EXPECT_EQ(compare("", ""), events{unchanged});
}

TEST_F(CompareWithApplied, DifferingByteRestarts) {
    EXPECT_EQ(compare("<x>samf</x>\n", "<x>same</x>\n"), (events{different, reset_event}));
}

TEST_F(CompareWithApplied, DifferenceInTheLastByteIsFound) {
    std::string old_content(100000, 'q');
    std::string new_content = old_content;
    new_content.back() = 'r';
    EXPECT_EQ(compare(new_content, old_content), (events{different, reset_event}));
}

TEST_F(CompareWithApplied, BinaryBytesCompareExactly) {
    std::string old_content("\x00\xff\x80\x01", 4);
    EXPECT_EQ(compare(old_content, old_content), events{unchanged});
    clear_recorded_events();
    EXPECT_EQ(compare(std::string("\x00\xff\x80\x02", 4), old_content),
              (events{different, reset_event}));
}

TEST_F(CompareWithApplied, ShorterNewFileIsDifferent) {
    EXPECT_EQ(compare("<x>sa", "<x>same</x>\n"), (events{different, reset_event}));
}

TEST_F(CompareWithApplied, NewFileEqualToFirstHalfOfOldIsDifferentNotLarger) {
    EXPECT_EQ(compare("abcd", "abcdabcd"), (events{different, reset_event}));
}

TEST_F(CompareWithApplied, EmptyNewFileAgainstNonEmptyOldIsDifferent) {
    EXPECT_EQ(compare("", "<x/>"), (events{different, reset_event}));
}

TEST_F(CompareWithApplied, EmptyOldFileAgainstNonEmptyNewIsLarger) {
    EXPECT_EQ(compare("<x/>", ""), (events{larger, reset_event}));
}

TEST_F(CompareWithApplied, OldFileWithBytesAddedIsLarger) {
    EXPECT_EQ(compare("<x/>\n<y/>\n", "<x/>\n"), (events{larger, reset_event}));
}

TEST_F(CompareWithApplied, NoAppliedCopyRestartsNamingTheAppliedPath) {
    root.write("new/dev.xml", "<x/>");
    compare_with_applied_using((downloads + "/dev.xml").c_str(), applied.c_str());
    EXPECT_EQ(recorded_events(),
              (events{"Cfgwatch failed to open " + applied + "/dev.xml...", reset_event}));
}

TEST_F(CompareWithApplied, AppliedCopyIsLookedUpByBaseName) {
    ASSERT_EQ(mkdir(root.file("new/sub").c_str(), 0700), 0);
    root.write("new/sub/dev.xml", "<x/>");
    root.write("old/dev.xml", "<x/>");
    compare_with_applied_using((downloads + "/sub/dev.xml").c_str(), applied.c_str());
    EXPECT_EQ(recorded_events(), events{unchanged});
}

TEST_F(CompareWithApplied, UnreadableDownloadDoesNotRestart) {
    root.write("old/dev.xml", "<x/>");
    compare_with_applied_using((downloads + "/dev.xml").c_str(), applied.c_str());
    EXPECT_EQ(recorded_events(), events{"Cfgwatch failed to open " + downloads + "/dev.xml..."});
}

TEST_F(CompareWithApplied, DirectoryIsNotAnAppliedCopy) {
    root.write("new/dev.xml", "");
    ASSERT_EQ(mkdir(root.file("old/dev.xml").c_str(), 0700), 0);
    compare_with_applied_using((downloads + "/dev.xml").c_str(), applied.c_str());
    EXPECT_EQ(recorded_events(),
              (events{"Cfgwatch failed to open " + applied + "/dev.xml...", reset_event}));
}

TEST_F(CompareWithApplied, DirectoryIsNotADownload) {
    root.write("old/dev.xml", "");
    ASSERT_EQ(mkdir(root.file("new/dev.xml").c_str(), 0700), 0);
    compare_with_applied_using((downloads + "/dev.xml").c_str(), applied.c_str());
    EXPECT_EQ(recorded_events(), events{"Cfgwatch failed to open " + downloads + "/dev.xml..."});
}

TEST_F(CompareWithApplied, PlantedFifoDeviceOrLinkIsNoAppliedCopy) {
    // Whoever made the directory of copies may have planted these: none may
    // block the daemon, and a link is not read through.
    root.write("secret", "<x/>");
    root.write("new/dev.xml", "<x/>");
    struct planting {
        const char *what;
        int (*plant)(const std::string &path, const std::string &target);
    };
    const planting plantings[] = {
        {"fifo",
         [](const std::string &path, const std::string &) { return mkfifo(path.c_str(), 0666); }},
        {"device", [](const std::string &path,
                      const std::string &) { return symlink("/dev/zero", path.c_str()); }},
        {"link to a readable file",
         [](const std::string &path, const std::string &target) {
             return symlink(target.c_str(), path.c_str());
         }},
    };
    for (const planting &p : plantings) {
        SCOPED_TRACE(p.what);
        clear_recorded_events();
        std::string copy = applied + "/dev.xml";
        ASSERT_EQ(p.plant(copy, root.file("secret")), 0);
        compare_with_applied_using((downloads + "/dev.xml").c_str(), applied.c_str());
        EXPECT_EQ(recorded_events(),
                  (events{"Cfgwatch failed to open " + copy + "...", reset_event}));
        ASSERT_EQ(unlink(copy.c_str()), 0);
    }
}

TEST_F(CompareWithApplied, FifoAsTheDownloadDoesNotBlock) {
    root.write("old/dev.xml", "<x/>");
    ASSERT_EQ(mkfifo((downloads + "/dev.xml").c_str(), 0600), 0);
    compare_with_applied_using((downloads + "/dev.xml").c_str(), applied.c_str());
    EXPECT_EQ(recorded_events(), events{"Cfgwatch failed to open " + downloads + "/dev.xml..."});
}

TEST_F(CompareWithApplied, PathsWithoutAFileNameAreNotCompared) {
    // "." or ".." would make the applied copy the directory of copies or its
    // parent.
    for (const std::string &path : {downloads + "/.", downloads + "/..", std::string("/")}) {
        clear_recorded_events();
        compare_with_applied_using(path.c_str(), applied.c_str());
        EXPECT_EQ(recorded_events(), events{"Cfgwatch failed to open " + path + "..."}) << path;
    }
}

TEST_F(CompareWithApplied, AppliedPathOfMoreThan259CharactersIsNotCut) {
    // The applied copy's path would pass its 260-byte buffer: the name that a
    // cut path would give must not be compared in its place.
    std::string applied_prefix = applied + "/";
    std::string base(259 - applied_prefix.size() + 1, 'n');
    std::string cut_base(259 - applied_prefix.size(), 'n');
    root.write("old/" + cut_base, "<x/>");
    root.write("new/" + cut_base, "<x/>");
    std::string local = downloads + "/" + base;
    compare_with_applied_using(local.c_str(), applied.c_str());
    EXPECT_EQ(recorded_events(), events{"Cfgwatch failed to open " + local + "..."});

    // One character fewer fits exactly and is compared.
    clear_recorded_events();
    compare_with_applied_using((downloads + "/" + cut_base).c_str(), applied.c_str());
    EXPECT_EQ(recorded_events(), events{unchanged});
}

TEST(AppliedCopies, LiveInTmpOld) {
    // The device-wide entry point reads from /tmp/old; a path that cannot
    // exist there shows it in the message.
    clear_recorded_events();
    compare_with_applied("/tmp/new/no-such-file-for-daemon-tests.xml");
    EXPECT_EQ(recorded_events(),
              (events{"Cfgwatch failed to open /tmp/old/no-such-file-for-daemon-tests.xml...",
                      reset_event}));
}

TEST(RequestReboot, FlushesStandardOutputThenResets) {
    clear_recorded_events();
    // Anything buffered on standard output reaches it before the reset.
    temp_dir directory;
    std::string captured = directory.file("stdout");
    fflush(stdout);
    int saved = dup(fileno(stdout));
    ASSERT_NE(freopen(captured.c_str(), "w", stdout), nullptr);
    setvbuf(stdout, nullptr, _IOFBF, 4096);
    fputs("pending line\n", stdout);
    std::string before_reset;
    request_reboot();
    before_reset = read_file(captured);
    fflush(stdout);
    dup2(saved, fileno(stdout));
    close(saved);
    EXPECT_EQ(before_reset, "pending line\n");
    EXPECT_EQ(recorded_events(), events{reset_event});
}
