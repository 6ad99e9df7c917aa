// What the stand-in IPC library writes to standard error, byte for byte.
#include "platform/sysbus.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
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

TEST(OrvexReset, AnnouncesTheResetAndReturns) {
    StderrCapture capture;
    orvex_reset();
    EXPECT_EQ(capture.finish(), "sysbus: device reset requested\n");
}

} // namespace
