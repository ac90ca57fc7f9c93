#pragma once
// The record the reports are checked against: title "Game", pid 812, hwnd 590,
// at 100/50, 800 by 600.
#include "host/game_info.h"

namespace testing_support {

inline dovemarl::host::GameInfo ExampleRecord() {
    return {.pid = 812,
            .winx = 100,
            .winy = 50,
            .winwidth = 800,
            .winheight = 600,
            .hwnd = 590,
            .newtitle = nullptr,
            .title = "Game"};
}

} // namespace testing_support
