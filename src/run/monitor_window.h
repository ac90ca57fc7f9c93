#pragma once
// The monitor window: a small always-on-top window centred on the game window
// whose seven labels follow the host record while the window is idle, until
// the user asks to close it.
#include <cstdint>

#include "host/game_info.h"

namespace dovemarl::run {

// Where the monitor window's outer corner goes for a game window: centred,
// with 32-bit signed arithmetic and halves that truncate toward zero.
struct MonitorPlace {
    int32_t left;
    int32_t top;
};
MonitorPlace MonitorPlaceFor(const host::GameInfo* record);

// Opens the window, runs its loop and returns on a close request, leaving the
// window open, visible and topmost.
void RunMonitorWindow(host::GameInfo* record);

} // namespace dovemarl::run
