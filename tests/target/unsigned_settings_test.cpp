// The 32-bit settings are unsigned counts. On the device int and long are 32
// bits wide too, so a value from the upper half must never be compared as a
// negative number: a huge period must not fire at once, a huge idle setting
// is still "ten minutes or more".
#include "daemon/triggers.h"

#include <gtest/gtest.h>

#include <cstdint>

namespace {

TEST(UnsignedSettings, HugeTimerPeriodDoesNotFireEarly) {
    for (uint32_t period : {0x80000000u, 0xFFFFFFFFu, 0x7FFFFFFFu}) {
        SCOPED_TRACE(period);
        trigger_state state{};
        for (int tick = 0; tick < 1000; ++tick) {
            ASSERT_FALSE(timer_trigger_due(state, period)) << "tick " << tick;
        }
    }
}

TEST(UnsignedSettings, TimerCountsTicksUpToThePeriod) {
    // Four ticks to the minute: one minute fires on the fourth tick.
    trigger_state state{};
    EXPECT_FALSE(timer_trigger_due(state, 1));
    EXPECT_FALSE(timer_trigger_due(state, 1));
    EXPECT_FALSE(timer_trigger_due(state, 1));
    EXPECT_TRUE(timer_trigger_due(state, 1));
    // A count near the top of the range still compares as a large number.
    state.ticks_since_timer = 0xFFFFFFF0u;
    EXPECT_TRUE(timer_trigger_due(state, 0x3FFFFFFCu));
}

TEST(UnsignedSettings, HugeIdleSettingIsEnabled) {
    EXPECT_FALSE(idle_trigger_enabled(9));
    EXPECT_TRUE(idle_trigger_enabled(10));
    EXPECT_TRUE(idle_trigger_enabled(0x7FFFFFFFu));
    EXPECT_TRUE(idle_trigger_enabled(0x80000000u));
    EXPECT_TRUE(idle_trigger_enabled(0xFFFFFFFFu));
}

} // namespace
