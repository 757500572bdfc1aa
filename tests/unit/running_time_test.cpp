// The running-time line: the seconds form is chosen before rounding, and
// the minutes form truncates.
#include <gtest/gtest.h>

#include "driver.h"

namespace {

TEST(RunningTime, SecondsAndMinutesForms) {
    const struct {
        long long elapsedMs;
        const char* expected;
    } cases[] = {
        {0, "\n[INF] Running time was: 0.0 seconds\n"},
        {250, "\n[INF] Running time was: 0.3 seconds\n"},  // exact tie, away from zero
        {50, "\n[INF] Running time was: 0.1 seconds\n"},
        {1234, "\n[INF] Running time was: 1.2 seconds\n"},
        {59960, "\n[INF] Running time was: 60.0 seconds\n"},
        {59999, "\n[INF] Running time was: 60.0 seconds\n"},
        {60000, "\n[INF] Running time was: 1 minutes 0 seconds.\n"},
        {60999, "\n[INF] Running time was: 1 minutes 0 seconds.\n"},
        {3725900, "\n[INF] Running time was: 62 minutes 5 seconds.\n"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(orvtessel::runningTimeText(c.elapsedMs), c.expected) << c.elapsedMs;
    }
}

}  // namespace
