#pragma once
// The host's own declaration of the 32-byte record it shares with the plug-in
// and its query library; used by the stand-in host, the stand-in query
// library and the tests, which all stand on the host's side.
#include <cstdint>

namespace standin {

struct GameInfo {
    int32_t pid;
    int32_t winx;
    int32_t winy;
    int32_t winwidth;
    int32_t winheight;
    uint32_t hwnd;
    const char* newtitle; // written by the plug-in
    const char* title;
};
static_assert(sizeof(GameInfo) == 32);

} // namespace standin
