// The download directory when another local account was there first: what
// it planted is moved aside, never followed, and the directory the daemon
// then uses is its own and closed to everybody else. The accounts are
// played by root with chown, so these tests need root.
#include "daemon/download_directory.h"

#include "support/log_recorder.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <dirent.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

constexpr uid_t other_account = 65534;

class DownloadDirectory : public ::testing::Test {
  protected:
    void SetUp() override {
        if (geteuid() != 0) {
            GTEST_SKIP() << "needs root to play other accounts";
        }
        clear_recorded_events();
        // The parent stands in for /tmp: everybody may write, sticky.
        ASSERT_EQ(chmod(root.path().c_str(), 01777), 0);
        victim = victims.write("victim", "root's own file\n");
    }

    bool prepare() { return prepare_download_directory(downloads.c_str()); }

    // What stands in the parent besides the download directory.
    std::vector<std::string> moved_aside() const {
        std::vector<std::string> names;
        DIR *listing = opendir(root.path().c_str());
        while (dirent *entry = readdir(listing)) {
            std::string name = entry->d_name;
            if (name.rfind("new.untrusted-", 0) == 0) {
                names.push_back(name);
            }
        }
        closedir(listing);
        return names;
    }

    void expect_private_directory() const {
        struct stat status;
        ASSERT_EQ(lstat(downloads.c_str(), &status), 0);
        EXPECT_TRUE(S_ISDIR(status.st_mode));
        EXPECT_EQ(status.st_uid, 0u);
        EXPECT_EQ(status.st_mode & 07777, 0700u);
    }

    void expect_victim_untouched() const {
        EXPECT_EQ(read_file(victim), "root's own file\n");
        EXPECT_EQ(read_file(victims.file("target/keep")), "kept\n");
    }

    temp_dir root;
    temp_dir victims;
    std::string downloads = root.file("new");
    std::string victim;
};

} // namespace

TEST_F(DownloadDirectory, MissingDirectoryIsCreatedOwnerOnly) {
    mode_t mask = umask(0);
    EXPECT_TRUE(prepare());
    umask(mask);
    expect_private_directory();
    EXPECT_TRUE(recorded_events().empty());
    // Found again at the next download, as it is.
    EXPECT_TRUE(prepare());
    EXPECT_TRUE(recorded_events().empty());
}

TEST_F(DownloadDirectory, OwnDirectoryOpenToReadingIsClosed) {
    ASSERT_EQ(mkdir(downloads.c_str(), 0755), 0);
    root.write("new/kept.xml", "<a/>");
    EXPECT_TRUE(prepare());
    expect_private_directory();
    EXPECT_EQ(read_file(root.file("new/kept.xml")), "<a/>");
    EXPECT_TRUE(moved_aside().empty());
}

TEST_F(DownloadDirectory, WhatAnotherAccountPlantedIsMovedAsideNotFollowed) {
    ASSERT_EQ(mkdir(victims.file("target").c_str(), 0755), 0);
    victims.write("target/keep", "kept\n");
    struct planting {
        const char *what;
        void (*plant)(const std::string &path, const std::string &victim_dir);
    };
    const planting plantings[] = {
        {"link to a directory",
         [](const std::string &path, const std::string &victim_dir) {
             ASSERT_EQ(symlink((victim_dir + "/target").c_str(), path.c_str()), 0);
         }},
        {"link to a file",
         [](const std::string &path, const std::string &victim_dir) {
             ASSERT_EQ(symlink((victim_dir + "/victim").c_str(), path.c_str()), 0);
         }},
        {"dangling link",
         [](const std::string &path, const std::string &) {
             ASSERT_EQ(symlink("/nonexistent/dir", path.c_str()), 0);
         }},
        {"plain file",
         [](const std::string &path, const std::string &) {
             FILE *f = fopen(path.c_str(), "w");
             ASSERT_NE(f, nullptr);
             fclose(f);
         }},
        {"fifo", [](const std::string &path,
                    const std::string &) { ASSERT_EQ(mkfifo(path.c_str(), 0666), 0); }},
        {"directory of another account",
         [](const std::string &path, const std::string &victim_dir) {
             ASSERT_EQ(mkdir(path.c_str(), 0777), 0);
             ASSERT_EQ(symlink((victim_dir + "/victim").c_str(), (path + "/dev.xml").c_str()), 0);
         }},
        {"root's directory open to everybody",
         [](const std::string &path, const std::string &) {
             ASSERT_EQ(mkdir(path.c_str(), 0700), 0);
             ASSERT_EQ(chmod(path.c_str(), 01777), 0);
         }},
    };
    for (const planting &p : plantings) {
        SCOPED_TRACE(p.what);
        clear_recorded_events();
        p.plant(downloads, victims.path());
        if (std::string(p.what) != "root's directory open to everybody") {
            ASSERT_EQ(lchown(downloads.c_str(), other_account, other_account), 0);
        }

        EXPECT_TRUE(prepare());
        expect_private_directory();
        expect_victim_untouched();
        std::vector<std::string> aside = moved_aside();
        ASSERT_EQ(aside.size(), 1u);
        ASSERT_EQ(recorded_events().size(), 1u);
        EXPECT_EQ(recorded_events()[0], "Cfgwatch error: " + downloads +
                                            " was not a private directory, moved it to " +
                                            root.file(aside[0]));
        // The planted entry itself was moved, whatever it pointed at.
        struct stat status;
        ASSERT_EQ(lstat(root.file(aside[0]).c_str(), &status), 0);
        EXPECT_FALSE(status.st_uid == 0 && S_ISDIR(status.st_mode) && (status.st_mode & 022) == 0);

        // Clean up for the next planting.
        ASSERT_EQ(rmdir(downloads.c_str()), 0);
        std::string command = "rm -rf '" + root.file(aside[0]) + "'";
        ASSERT_EQ(std::system(command.c_str()), 0);
    }
}

TEST_F(DownloadDirectory, GivesUpWhenNothingCanBeMadeThere) {
    // A parent that does not exist: nothing to create, nothing downloaded.
    std::string nowhere = root.file("missing/new");
    EXPECT_FALSE(prepare_download_directory(nowhere.c_str()));
    EXPECT_EQ(recorded_events(),
              std::vector<std::string>{"Cfgwatch error: no private download directory " + nowhere +
                                       ", nothing downloaded"});
}
