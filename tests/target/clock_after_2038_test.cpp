// The device reads the wall clock for the time-of-day trigger. On a 32-bit
// target a 32-bit time_t ends in January 2038: past that the C library's
// time() can only fail, and the daemon would take the failure for the last
// second of 1969 and never match the configured time again. The daemon's
// own clock reader is run here against a clock set after 2038.
#include "daemon/triggers.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

// 2040-03-02 12:34:00 UTC, past the end of a 32-bit time_t.
constexpr int64_t after_2038 = 2214304440;
int64_t clock_now = after_2038;

int discoveries;
void count_discovery(const nvcfg *) {
    ++discoveries;
}

} // namespace

// Takes the place of the C library's clock for everything in this program
// (the daemon's objects are linked in statically, so they call this one).
// With a 64-bit time_t the header routes the name to the 64-bit entry point
// and this definition follows it.
extern "C" time_t time(time_t *result) noexcept {
    const time_t now = static_cast<time_t>(clock_now);
    if (result != nullptr) {
        *result = now;
    }
    return now;
}

namespace {

class ClockAfter2038 : public ::testing::Test {
  protected:
    void SetUp() override {
        setenv("TZ", "UTC", 1);
        tzset();
        clock_now = after_2038;
        discoveries = 0;
    }
};

TEST_F(ClockAfter2038, TimeHoldsDatesPast2038) {
    // A 32-bit time_t cannot even hold the moment, let alone read it.
    ASSERT_GE(sizeof(time_t), 8u) << "time_t ends in 2038 on this target";
    EXPECT_EQ(static_cast<int64_t>(time(nullptr)), after_2038);
}

TEST_F(ClockAfter2038, DaemonReadsTheLocalTimeAfter2038) {
    ASSERT_GE(sizeof(time_t), 8u) << "time_t ends in 2038 on this target";
    struct tm now;
    ASSERT_TRUE(device_tick_environment().local_time(&now));
    EXPECT_EQ(now.tm_year + 1900, 2040);
    EXPECT_EQ(now.tm_mon + 1, 3);
    EXPECT_EQ(now.tm_mday, 2);
    EXPECT_EQ(now.tm_hour, 12);
    EXPECT_EQ(now.tm_min, 34);
}

TEST_F(ClockAfter2038, TimeOfDayTriggerFiresAfter2038) {
    ASSERT_GE(sizeof(time_t), 8u) << "time_t ends in 2038 on this target";
    nvcfg record{};
    std::strcpy(record.autoprov_time_of_day, "123400");
    trigger_state state{};
    tick_environment environment = device_tick_environment();
    environment.idle_marker_path = "/nonexistent/idle";
    environment.discover = count_discovery;
    run_tick(&record, state, environment);
    EXPECT_EQ(discoveries, 1);
    // One minute on, the setting no longer matches.
    clock_now = after_2038 + 60;
    run_tick(&record, state, environment);
    EXPECT_EQ(discoveries, 1);
}

} // namespace
