// What the stand-in IPC library writes to standard error, byte for byte.
#include "platform/sysbus.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <fcntl.h>
#include <string>
#include <vector>
#include <unistd.h>

namespace {

// Points descriptor 2 at a fresh temporary file for the duration of a check,
// and hands back everything written to it.
class StderrCapture {
  public:
    StderrCapture() {
        file_ = std::tmpfile();
        if (file_ == nullptr) {
            ADD_FAILURE() << "no temporary file for standard error";
            return;
        }
        saved_ = dup(STDERR_FILENO);
        dup2(fileno(file_), STDERR_FILENO);
    }
    ~StderrCapture() {
        restore();
        if (file_ != nullptr) {
            std::fclose(file_);
        }
    }
    StderrCapture(const StderrCapture &) = delete;
    StderrCapture &operator=(const StderrCapture &) = delete;

    std::string finish() {
        restore();
        std::string text;
        std::rewind(file_);
        char buffer[4096];
        size_t got;
        while ((got = std::fread(buffer, 1, sizeof buffer, file_)) > 0) {
            text.append(buffer, got);
        }
        return text;
    }

  private:
    void restore() {
        if (saved_ >= 0) {
            dup2(saved_, STDERR_FILENO);
            close(saved_);
            saved_ = -1;
        }
    }
    FILE *file_ = nullptr;
    int saved_ = -1;
};

TEST(AutoprovLog, AddsALineFeedWhenMissing) {
    StderrCapture capture;
    autoprov_log("Cfgwatch: %d minutes have passed", 15);
    EXPECT_EQ(capture.finish(), "Cfgwatch: 15 minutes have passed\n");
}

TEST(AutoprovLog, KeepsAnExistingLineFeedAlone) {
    StderrCapture capture;
    autoprov_log("Cfgwatch error: %s call failed\n", "TFTP");
    EXPECT_EQ(capture.finish(), "Cfgwatch error: TFTP call failed\n");
}

TEST(AutoprovLog, EmptyMessageIsAnEmptyLine) {
    StderrCapture capture;
    autoprov_log("%s", "");
    EXPECT_EQ(capture.finish(), "\n");
}

TEST(AutoprovLog, ConsecutiveMessagesAreSeparateLines) {
    StderrCapture capture;
    autoprov_log("one");
    autoprov_log("two\n");
    autoprov_log("three %s", "x");
    EXPECT_EQ(capture.finish(), "one\ntwo\nthree x\n");
}

TEST(AutoprovLog, InnerLineFeedsPassThrough) {
    StderrCapture capture;
    autoprov_log("a\nb");
    EXPECT_EQ(capture.finish(), "a\nb\n");
}

TEST(AutoprovLog, VeryLongMessageIsCutToOneBoundedLine) {
    const std::string long_text(100000, 'x');
    StderrCapture capture;
    autoprov_log("start %s end", long_text.c_str());
    const std::string written = capture.finish();
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written.back(), '\n');
    EXPECT_EQ(written.find('\n'), written.size() - 1) << "more than one line";
    EXPECT_EQ(written.rfind("start xxx", 0), 0u);
    EXPECT_LT(written.size(), long_text.size());
    EXPECT_GE(written.size(), 1024u) << "cut far shorter than a log line needs";
    EXPECT_EQ(written.find("end"), std::string::npos);
    EXPECT_LE(written.size(), static_cast<size_t>(PIPE_BUF)) << "too long for one pipe write";
}

TEST(AutoprovLog, LongMessageEndingInALineFeedGetsExactlyOne) {
    const std::string long_text(100000, 'y');
    StderrCapture capture;
    autoprov_log("%s\n", long_text.c_str());
    const std::string written = capture.finish();
    ASSERT_FALSE(written.empty());
    EXPECT_EQ(written.back(), '\n');
    EXPECT_EQ(written.find('\n'), written.size() - 1);
    EXPECT_EQ(written.find_first_not_of('y'), written.size() - 1);
}

// In packet mode each write(2) arrives as one packet and each read(2)
// returns at most one, so the packets show how the line was written.
std::vector<std::string> packets_written_by(void (*log)()) {
    int ends[2];
    if (pipe2(ends, O_DIRECT) != 0) {
        ADD_FAILURE() << "no packet-mode pipe";
        return {};
    }
    const int saved = dup(STDERR_FILENO);
    dup2(ends[1], STDERR_FILENO);
    log();
    dup2(saved, STDERR_FILENO);
    close(saved);
    close(ends[1]);
    std::vector<std::string> packets;
    char buffer[PIPE_BUF];
    ssize_t got;
    while ((got = read(ends[0], buffer, sizeof buffer)) > 0) {
        packets.emplace_back(buffer, static_cast<size_t>(got));
    }
    close(ends[0]);
    return packets;
}

TEST(AutoprovLog, EachMessageIsOneWrite) {
    const auto packets = packets_written_by([] {
        autoprov_log("Cfgwatch looking for %s at %s", "001a2b3c4d5e.xml", "127.0.0.1");
        autoprov_log("Cfgwatch error: Invalid filename\n");
    });
    EXPECT_EQ(packets,
              (std::vector<std::string>{"Cfgwatch looking for 001a2b3c4d5e.xml at 127.0.0.1\n",
                                        "Cfgwatch error: Invalid filename\n"}));
}

TEST(AutoprovLog, LongestLineIsStillOneWrite) {
    const auto packets = packets_written_by([] {
        const std::string long_text(20000, 'z');
        autoprov_log("%s", long_text.c_str());
    });
    ASSERT_EQ(packets.size(), 1u);
    EXPECT_EQ(packets[0], std::string(PIPE_BUF - 1, 'z') + "\n");
}

TEST(OrvexReset, AnnouncesTheResetAndReturns) {
    StderrCapture capture;
    orvex_reset();
    EXPECT_EQ(capture.finish(), "sysbus: device reset requested\n");
}

} // namespace
