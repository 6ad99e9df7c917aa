// get_config against record files of every shape: it must fill the caller's
// record only from a file of exactly one record, and leave it alone otherwise.
#include "platform/nvcfg.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

class GetConfig : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/settings-store-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        path_ = dir_ / "nvcfg.bin";
        ASSERT_EQ(setenv("SETTINGSDB_FILE", path_.c_str(), 1), 0);
        // A caller's record with a recognisable pattern, to see it untouched.
        std::memset(&record_, 0xA5, sizeof record_);
    }
    void TearDown() override {
        unsetenv("SETTINGSDB_FILE");
        fs::remove_all(dir_);
    }

    void write_file(const std::vector<unsigned char> &bytes) {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char *>(bytes.data()),
                  static_cast<std::streamsize>(bytes.size()));
        ASSERT_TRUE(out.good());
    }

    void expect_record_untouched() {
        const auto *bytes = reinterpret_cast<const unsigned char *>(&record_);
        for (size_t i = 0; i < sizeof record_; ++i) {
            ASSERT_EQ(bytes[i], 0xA5) << "byte " << i << " of the caller's record changed";
        }
    }

    static std::vector<unsigned char> good_record() {
        std::vector<unsigned char> bytes(NVCFG_SIZE, 0);
        const uint32_t period = 0x01020304;
        std::memcpy(&bytes[60], &period, 4);
        const unsigned char mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
        std::memcpy(&bytes[10258], mac, 6);
        std::memcpy(&bytes[11314], "127.0.0.1", 9);
        bytes[12226] = 1;
        std::memcpy(&bytes[14782], "cfg/", 4);
        bytes[14911] = 7;
        const uint32_t idle = 4294967295u;
        std::memcpy(&bytes[14912], &idle, 4);
        std::memcpy(&bytes[14916], "0130xx", 6);
        bytes[23857] = 200;
        bytes[0] = 0x11; // a byte that belongs to the library alone
        bytes[NVCFG_SIZE - 1] = 0x22;
        return bytes;
    }

    fs::path dir_;
    fs::path path_;
    nvcfg record_;
};

TEST_F(GetConfig, FillsEveryFieldFromAGoodFile) {
    const auto bytes = good_record();
    write_file(bytes);
    ASSERT_EQ(get_config(&record_), 0);
    EXPECT_EQ(record_.autoprov_period, 0x01020304u);
    const unsigned char mac[6] = {0x00, 0x1a, 0x2b, 0x3c, 0x4d, 0x5e};
    EXPECT_EQ(std::memcmp(record_.mac_address, mac, 6), 0);
    EXPECT_STREQ(record_.autoprov_server, "127.0.0.1");
    EXPECT_STREQ(record_.autoprov_http_user, "");
    EXPECT_EQ(record_.autoprov_disabled, 1);
    EXPECT_STREQ(record_.autoprov_file, "cfg/");
    EXPECT_EQ(record_.autoprov_use_tftp, 7);
    EXPECT_EQ(record_.autoprov_idle_minutes, 4294967295u);
    EXPECT_STREQ(record_.autoprov_time_of_day, "0130xx");
    EXPECT_EQ(record_.enable_sip_mcast, 200);
    EXPECT_EQ(std::memcmp(&record_, bytes.data(), NVCFG_SIZE), 0);
}

TEST_F(GetConfig, MissingFileFails) {
    EXPECT_NE(get_config(&record_), 0);
    expect_record_untouched();
}

TEST_F(GetConfig, EmptyFileFails) {
    write_file({});
    EXPECT_NE(get_config(&record_), 0);
    expect_record_untouched();
}

TEST_F(GetConfig, ShortFileFailsAndLeavesTheRecord) {
    auto bytes = good_record();
    bytes.pop_back();
    write_file(bytes);
    EXPECT_NE(get_config(&record_), 0);
    expect_record_untouched();
}

TEST_F(GetConfig, LongFileFailsAndLeavesTheRecord) {
    auto bytes = good_record();
    bytes.push_back(0);
    write_file(bytes);
    EXPECT_NE(get_config(&record_), 0);
    expect_record_untouched();
}

TEST_F(GetConfig, MuchLongerFileFails) {
    auto bytes = good_record();
    bytes.resize(3 * NVCFG_SIZE, 0x33);
    write_file(bytes);
    EXPECT_NE(get_config(&record_), 0);
    expect_record_untouched();
}

TEST_F(GetConfig, DirectoryInPlaceOfTheFileFails) {
    // Mode bits do not stop root, but no one can read a directory as a file.
    fs::create_directory(path_);
    EXPECT_NE(get_config(&record_), 0);
    expect_record_untouched();
}

TEST_F(GetConfig, PathThroughAFileFails) {
    write_file(good_record());
    ASSERT_EQ(setenv("SETTINGSDB_FILE", (path_ / "inner").c_str(), 1), 0);
    EXPECT_NE(get_config(&record_), 0);
    expect_record_untouched();
}

TEST_F(GetConfig, NullRecordFails) {
    write_file(good_record());
    EXPECT_NE(get_config(nullptr), 0);
}

TEST_F(GetConfig, RepeatedCallsLeakNoDescriptors) {
    write_file(good_record());
    const auto open_before = std::distance(fs::directory_iterator("/proc/self/fd"), {});
    for (int i = 0; i < 50; ++i) {
        ASSERT_EQ(get_config(&record_), 0);
    }
    fs::remove(path_);
    for (int i = 0; i < 10; ++i) {
        ASSERT_NE(get_config(&record_), 0);
    }
    write_file(std::vector<unsigned char>(NVCFG_SIZE + 5, 1));
    for (int i = 0; i < 10; ++i) {
        ASSERT_NE(get_config(&record_), 0);
    }
    const auto open_after = std::distance(fs::directory_iterator("/proc/self/fd"), {});
    EXPECT_EQ(open_before, open_after);
}

} // namespace
