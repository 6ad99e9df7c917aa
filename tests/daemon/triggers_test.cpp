// Trigger decisions on a controllable clock: the timer's tick count, the
// time-of-day parse and match, the idle marker, and one tick's order.
#include "daemon/triggers.h"

#include "daemon/discovery.h"
#include "support/log_recorder.h"
#include "support/settings.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <ctime>
#include <string>
#include <vector>

namespace {

using events = std::vector<std::string>;

struct tm fake_now {};
int clock_reads = 0;
std::string marker_path;
bool marker_present_during_discovery = false;

bool read_fake_clock(struct tm *now) {
    ++clock_reads;
    *now = fake_now;
    return true;
}

void record_discovery(const nvcfg *) {
    marker_present_during_discovery = file_exists(marker_path);
    recorded_events().push_back("discover");
}

void set_clock(int hour, int minute, int second = 0) {
    fake_now = tm{};
    fake_now.tm_hour = hour;
    fake_now.tm_min = minute;
    fake_now.tm_sec = second;
}

const std::string timer_message_1 =
    "Cfgwatch: 1 minutes have passed, checking for autoprovisioning changes";

std::string time_message(const std::string &setting) {
    return "Cfgwatch: found time of day match at localtime " + setting +
           ", checking for autoprovisioning changes";
}

const std::string idle_message_10 =
    "Cfgwatch: we've been idle for 10 minutes, checking for autoprovisioning changes";

class Tick : public ::testing::Test {
  protected:
    void SetUp() override {
        clear_recorded_events();
        clock_reads = 0;
        marker_path = directory.file("idle");
        environment.idle_marker_path = marker_path.c_str();
        marker_present_during_discovery = false;
        set_clock(12, 0);
    }

    events tick() {
        clear_recorded_events();
        run_tick(settings.get(), state, environment);
        return recorded_events();
    }

    temp_dir directory;
    std::unique_ptr<nvcfg> settings = blank_settings();
    trigger_state state{};
    tick_environment environment{read_fake_clock, nullptr, record_discovery};
};

bool matches_at(const char *setting, int hour, int minute, int second = 0) {
    char field[NVCFG_TIME_OF_DAY_CAPACITY] = {};
    std::strncpy(field, setting, sizeof field);
    struct tm now {};
    now.tm_hour = hour;
    now.tm_min = minute;
    now.tm_sec = second;
    return time_of_day_matches(field, now);
}

bool valid(const char *setting) {
    char field[NVCFG_TIME_OF_DAY_CAPACITY] = {};
    std::strncpy(field, setting, sizeof field);
    return time_of_day_setting_valid(field);
}

} // namespace

TEST(TimerTrigger, PeriodOneFiresOnEveryFourthTickAndStartsAgain) {
    trigger_state state{};
    std::vector<int> fired;
    for (int tick = 1; tick <= 13; ++tick) {
        if (timer_trigger_due(state, 1)) {
            fired.push_back(tick);
            EXPECT_EQ(state.ticks_since_timer, 0u);
        }
    }
    EXPECT_EQ(fired, (std::vector<int>{4, 8, 12}));
    EXPECT_EQ(state.ticks_since_timer, 1u);
}

TEST(TimerTrigger, PeriodTwoFiresOnEveryEighthTick) {
    trigger_state state{};
    std::vector<int> fired;
    for (int tick = 1; tick <= 24; ++tick) {
        if (timer_trigger_due(state, 2)) {
            fired.push_back(tick);
        }
    }
    EXPECT_EQ(fired, (std::vector<int>{8, 16, 24}));
}

TEST(TimerTrigger, PeriodZeroNeverFiresNorCounts) {
    trigger_state state{};
    for (int tick = 0; tick < 100; ++tick) {
        EXPECT_FALSE(timer_trigger_due(state, 0));
    }
    EXPECT_EQ(state.ticks_since_timer, 0u);
}

TEST(TimerTrigger, LargePeriodComparesUnsigned) {
    // A period above INT_MAX must not read as negative and fire at once.
    trigger_state state{};
    for (int tick = 0; tick < 100; ++tick) {
        EXPECT_FALSE(timer_trigger_due(state, 0x80000000u));
    }
}

TEST(TimeOfDaySetting, SixCharactersThatParseWhole) {
    EXPECT_TRUE(valid("073000"));
    EXPECT_TRUE(valid("235959"));
    EXPECT_TRUE(valid(" 73000"));
    EXPECT_TRUE(valid("+07300"));
    EXPECT_TRUE(valid("-07300"));
    EXPECT_TRUE(valid("999999"));
}

TEST(TimeOfDaySetting, ShortLongOrPartlyNumericIsUnusable) {
    EXPECT_FALSE(valid("0730"));
    EXPECT_FALSE(valid("0730000"));
    EXPECT_FALSE(valid(""));
    EXPECT_FALSE(valid("0730ab"));
    EXPECT_FALSE(valid("07:300"));
    EXPECT_FALSE(valid("07300 "));
    EXPECT_FALSE(valid("abcdef"));
}

TEST(TimeOfDaySetting, FieldWithoutTerminatorIsUnusable) {
    char field[NVCFG_TIME_OF_DAY_CAPACITY];
    std::memset(field, '0', sizeof field);
    EXPECT_FALSE(time_of_day_setting_valid(field));
    struct tm now {};
    EXPECT_FALSE(time_of_day_matches(field, now));
}

TEST(TimeOfDayMatch, WholeMinuteOfTheFirstFourCharacters) {
    for (int second : {0, 15, 30, 45, 59}) {
        EXPECT_TRUE(matches_at("073000", 7, 30, second));
        EXPECT_TRUE(matches_at("073059", 7, 30, second));
    }
    EXPECT_FALSE(matches_at("073000", 7, 29, 59));
    EXPECT_FALSE(matches_at("073000", 7, 31, 0));
    EXPECT_FALSE(matches_at("073000", 19, 30));
    EXPECT_TRUE(matches_at("000000", 0, 0));
    EXPECT_TRUE(matches_at("235900", 23, 59));
}

TEST(TimeOfDayMatch, UnusableOrSignedSettingsNeverMatch) {
    for (int hour = 0; hour < 24; ++hour) {
        for (int minute = 0; minute < 60; ++minute) {
            EXPECT_FALSE(matches_at("0730ab", hour, minute));
            EXPECT_FALSE(matches_at(" 73000", hour, minute));
            EXPECT_FALSE(matches_at("+07300", hour, minute));
            EXPECT_FALSE(matches_at("0730", hour, minute));
        }
    }
}

TEST(IdleTrigger, HonouredFromTenMinutes) {
    EXPECT_FALSE(idle_trigger_enabled(0));
    EXPECT_FALSE(idle_trigger_enabled(5));
    EXPECT_FALSE(idle_trigger_enabled(9));
    EXPECT_TRUE(idle_trigger_enabled(10));
    EXPECT_TRUE(idle_trigger_enabled(0xFFFFFFFFu));
}

TEST_F(Tick, TimerFiresEveryFourthTickWithItsMessage) {
    settings->autoprov_period = 1;
    std::vector<events> ticks;
    for (int i = 0; i < 8; ++i) {
        ticks.push_back(tick());
    }
    events fired{timer_message_1, "discover"};
    EXPECT_EQ(ticks, (std::vector<events>{{}, {}, {}, fired, {}, {}, {}, fired}));
}

TEST_F(Tick, TimerMessageShowsThePeriod) {
    settings->autoprov_period = 3;
    events last;
    for (int i = 0; i < 12; ++i) {
        last = tick();
    }
    EXPECT_EQ(last, (events{"Cfgwatch: 3 minutes have passed, checking for autoprovisioning "
                            "changes",
                            "discover"}));
}

TEST_F(Tick, TimeOfDayFiresOnEveryTickOfTheMinute) {
    set_text(settings->autoprov_time_of_day, "073000");
    set_clock(7, 29, 45);
    EXPECT_EQ(tick(), events{});
    for (int second : {0, 15, 30, 45}) {
        set_clock(7, 30, second);
        EXPECT_EQ(tick(), (events{time_message("073000"), "discover"})) << second;
    }
    set_clock(7, 31, 0);
    EXPECT_EQ(tick(), events{});
}

TEST_F(Tick, TimeOfDayMessageShowsAllSixCharacters) {
    set_text(settings->autoprov_time_of_day, "073059");
    set_clock(7, 30, 10);
    EXPECT_EQ(tick(), (events{time_message("073059"), "discover"}));
}

TEST_F(Tick, UnusableTimeSettingNeverReadsTheClock) {
    for (const char *setting : {"0730ab", "0730", "", "07300000"}) {
        set_text(settings->autoprov_time_of_day, setting);
        set_clock(7, 30);
        EXPECT_EQ(tick(), events{}) << setting;
    }
    EXPECT_EQ(clock_reads, 0);
}

TEST_F(Tick, SignedSettingsReadTheClockButNeverFire) {
    for (const char *setting : {" 73000", "+07300"}) {
        set_text(settings->autoprov_time_of_day, setting);
        for (int hour = 0; hour < 24; ++hour) {
            for (int minute = 0; minute < 60; ++minute) {
                set_clock(hour, minute);
                ASSERT_EQ(tick(), events{}) << setting << " " << hour << ":" << minute;
            }
        }
    }
    EXPECT_EQ(clock_reads, 2 * 24 * 60);
}

TEST_F(Tick, IdleBelowTenNeverFiresAndLeavesTheMarker) {
    settings->autoprov_idle_minutes = 5;
    directory.write("idle", "");
    EXPECT_EQ(tick(), events{});
    EXPECT_TRUE(file_exists(marker_path));
}

TEST_F(Tick, IdleRunsOneCheckThenRemovesTheMarker) {
    settings->autoprov_idle_minutes = 10;
    directory.write("idle", "");
    EXPECT_EQ(tick(), (events{idle_message_10, "discover"}));
    EXPECT_TRUE(marker_present_during_discovery);
    EXPECT_FALSE(file_exists(marker_path));
    EXPECT_EQ(tick(), events{});

    directory.write("idle", "");
    EXPECT_EQ(tick(), (events{idle_message_10, "discover"}));
}

TEST_F(Tick, IdleWithoutMarkerDoesNothing) {
    settings->autoprov_idle_minutes = 30;
    EXPECT_EQ(tick(), events{});
}

TEST_F(Tick, AllThreeDueRunThreeChecksTimerFirst) {
    settings->autoprov_period = 1;
    settings->autoprov_idle_minutes = 10;
    set_text(settings->autoprov_time_of_day, "120000");
    set_clock(11, 59);
    for (int i = 0; i < 3; ++i) {
        EXPECT_EQ(tick(), events{});
    }
    set_clock(12, 0, 45);
    directory.write("idle", "");
    EXPECT_EQ(tick(), (events{timer_message_1, "discover", time_message("120000"), "discover",
                              idle_message_10, "discover"}));
}

TEST(DeviceTick, UsesTheDeviceClockMarkerAndDiscovery) {
    tick_environment device = device_tick_environment();
    EXPECT_STREQ(device.idle_marker_path, "/tmp/idle");
    EXPECT_EQ(device.discover, &discover_server);
    struct tm now {};
    time_t before = time(nullptr);
    ASSERT_TRUE(device.local_time(&now));
    time_t after = time(nullptr);
    struct tm earliest = *localtime(&before);
    struct tm latest = *localtime(&after);
    EXPECT_TRUE((now.tm_hour == earliest.tm_hour && now.tm_min == earliest.tm_min) ||
                (now.tm_hour == latest.tm_hour && now.tm_min == latest.tm_min));
    EXPECT_EQ(TICK_SECONDS, 15u);
}
