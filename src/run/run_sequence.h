#pragma once
// What pluginrun does, step by step, on the host thread that calls it.
#include <cstdint>

#include "host/game_info.h"

namespace dovemarl::run {

// Proposes the title, waits a second, shows the record and the query
// library's answers in two boxes, then runs the monitor window until the user
// asks to close it; returns 0. A null record does nothing.
int32_t RunPlugin(host::GameInfo* record);

} // namespace dovemarl::run
