#pragma once
// The 32-byte record the host and the plug-in exchange: the host fills it and
// passes its address to pluginrun; the plug-in writes only newtitle.
#include <cstddef>
#include <cstdint>

#include "runtime/text_variable.h"

namespace dovemarl::host {

struct GameInfo {
    int32_t pid;
    int32_t winx;
    int32_t winy;
    int32_t winwidth;
    int32_t winheight;
    uint32_t hwnd;        // a window handle, printed as a signed number
    const char* newtitle; // the title the plug-in proposes (plug-in owned)
    const char* title;    // the game window's current title, or null
};

static_assert(sizeof(void*) == 4, "the host contract is 32-bit");
static_assert(sizeof(GameInfo) == 32);
static_assert(offsetof(GameInfo, pid) == 0);
static_assert(offsetof(GameInfo, winx) == 4);
static_assert(offsetof(GameInfo, winy) == 8);
static_assert(offsetof(GameInfo, winwidth) == 12);
static_assert(offsetof(GameInfo, winheight) == 16);
static_assert(offsetof(GameInfo, hwnd) == 20);
static_assert(offsetof(GameInfo, newtitle) == 24);
static_assert(offsetof(GameInfo, title) == 28);

// The record's own text fields (title), for ReleaseTextFields.
inline constexpr int32_t GameInfoTextLayout[] = {offsetof(GameInfo, title), runtime::TextLayoutEnd};

} // namespace dovemarl::host
