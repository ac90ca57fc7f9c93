#pragma once
// The three functions the host calls, exported undecorated with ordinals 1-3.
#include <cstdint>

#include "host/game_info.h"

extern "C" {
int32_t __stdcall pluginload(int32_t ignored);
int32_t __stdcall pluginrun(dovemarl::host::GameInfo* info);
int32_t __stdcall pluginunload(int32_t ignored);
}
