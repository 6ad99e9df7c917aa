// The start-up checks: which settings stop the daemon, with which line, and
// which let it run.
#include "daemon/startup.h"

#include "support/log_recorder.h"
#include "support/settings.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

using events = std::vector<std::string>;

const std::string never_hit = "Cfgwatch timeout will never hit.";

class Startup : public ::testing::Test {
  protected:
    void SetUp() override { clear_recorded_events(); }

    bool starts(int config_status = 0) { return daemon_may_start(config_status, settings.get()); }

    std::unique_ptr<nvcfg> settings = blank_settings();
};

} // namespace

TEST_F(Startup, UnreadableSettingsStopFirst) {
    settings->autoprov_disabled = 1;
    EXPECT_FALSE(starts(-1));
    EXPECT_EQ(recorded_events(),
              events{"Cfgwatch error: unable to access non-volatile configuration"});
    clear_recorded_events();
    EXPECT_FALSE(starts(3));
    EXPECT_EQ(recorded_events(),
              events{"Cfgwatch error: unable to access non-volatile configuration"});
}

TEST_F(Startup, DisabledStopsBeforeTheTriggerCheck) {
    settings->autoprov_disabled = 0x80;
    EXPECT_FALSE(starts());
    EXPECT_EQ(recorded_events(), events{"Cfgwatch disabled."});
}

TEST_F(Startup, NoTriggerPossibleStops) {
    set_text(settings->autoprov_time_of_day, "0730");
    EXPECT_FALSE(starts());
    EXPECT_EQ(recorded_events(), events{never_hit});

    clear_recorded_events();
    set_text(settings->autoprov_time_of_day, "0730000");
    EXPECT_FALSE(starts());
    EXPECT_EQ(recorded_events(), events{never_hit});
}

TEST_F(Startup, AnyOneTriggerLetsItRunSilently) {
    settings->autoprov_period = 1;
    EXPECT_TRUE(starts());

    settings->autoprov_period = 0;
    settings->autoprov_idle_minutes = 5; // never fires, but is not zero
    EXPECT_TRUE(starts());

    settings->autoprov_idle_minutes = 0;
    set_text(settings->autoprov_time_of_day, "0730ab"); // six characters, never fires
    EXPECT_TRUE(starts());
    EXPECT_EQ(recorded_events(), events{});
}

TEST_F(Startup, TimeFieldWithoutTerminatorIsNotSixCharacters) {
    std::memset(settings->autoprov_time_of_day, '0', sizeof settings->autoprov_time_of_day);
    EXPECT_FALSE(starts());
    EXPECT_EQ(recorded_events(), events{never_hit});
}
