// Where the monitor window opens for a game window: halves truncate toward
// zero, and extreme values wrap as 32-bit arithmetic does instead of failing.
#include <gtest/gtest.h>

#include <climits>

#include "run/monitor_window.h"

namespace {

using dovemarl::host::GameInfo;
using dovemarl::run::MonitorPlaceFor;

TEST(MonitorPlace, CentresTheClientAreaOnTheGameWindow) {
    struct Case {
        int32_t winx, winy, winwidth, winheight;
        int32_t left, top;
    } cases[] = {
        {0, 0, 800, 600, 250, 200},
        {0, 0, 801, 601, 250, 200},                  // odd sizes halve down
        {0, 0, -3, -3, -151, -101},                  // -3 halves to -1, toward zero
        {-500, -20, 100, 50, -600, -95},             // negative positions
        {INT32_MAX, 0, 2, 0, INT32_MAX - 149, -100}, // wraps around
    };
    for (const Case& c : cases) {
        GameInfo info = {};
        info.winx = c.winx;
        info.winy = c.winy;
        info.winwidth = c.winwidth;
        info.winheight = c.winheight;
        auto place = MonitorPlaceFor(&info);
        EXPECT_EQ(place.left, c.left) << c.winx << " + " << c.winwidth << " / 2 - 150";
        EXPECT_EQ(place.top, c.top) << c.winy << " + " << c.winheight << " / 2 - 100";
    }
}

} // namespace
