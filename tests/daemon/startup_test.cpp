// The start-up checks: which settings stop the daemon, with which line, and
// which let it run.
#include "daemon/startup.h"

#include "support/log_recorder.h"
#include "support/settings.h"
#include "support/temp_dir.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <string>
#include <unistd.h>
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

TEST(StartLine, WrittenToStandardOutputAndFlushed) {
    clear_recorded_events();
    temp_dir directory;
    const std::string captured = directory.file("stdout");
    fflush(stdout);
    int saved = dup(fileno(stdout));
    ASSERT_NE(freopen(captured.c_str(), "w", stdout), nullptr);
    setvbuf(stdout, nullptr, _IOFBF, 4096);
    announce_main_loop();
    // Read before anything else flushes: the line must already be there.
    const std::string written = read_file(captured);
    fflush(stdout);
    dup2(saved, fileno(stdout));
    close(saved);
    EXPECT_EQ(written, "Starting autoprov main loop...\n");
    EXPECT_EQ(recorded_events(), events{});
}
