#pragma once
// The contract between a game client's plug-in host, its plug-ins and its
// query library, for authors of either side. 32-bit x86 Windows only.
//
// A plug-in DLL exports three functions, undecorated (no leading underscore,
// no "@4" suffix), with fixed ordinals. Each is stdcall: it takes one 32-bit
// argument on the stack, removes it before returning, and returns a 32-bit
// integer, 0 on success. The host calls them in order: pluginload, pluginrun
// (any number of times), pluginunload, and then unloads the DLL.
//
// The query library ("sableroot.dll", shipped beside the host executable)
// exports seven functions by name, each stdcall with the host's record as its
// only argument and a 32-bit result.
//
// Stands alone: needs nothing but the standard integer types.
#include <cstddef>
#include <cstdint>

namespace dovemarl {

// The 32-byte record the host fills and passes to pluginrun: eight 4-byte
// little-endian fields with no gaps. The host owns it and keeps it valid, and
// may update any field but newtitle, for the whole of a pluginrun call. The
// plug-in writes newtitle and nothing else.
struct GameInfo {
    int32_t pid;          // the game's process id
    int32_t winx;         // the game window's left edge, screen pixels
    int32_t winy;         // the game window's top edge, screen pixels
    int32_t winwidth;     // the game window's outer width
    int32_t winheight;    // the game window's outer height
    uint32_t hwnd;        // the game window's handle
    const char* newtitle; // written by the plug-in: a NUL-terminated title it proposes,
                          // readable and unchanged until the next pluginrun or the unload
    const char* title;    // the game window's current NUL-terminated title (ANSI), or null
};

static_assert(sizeof(void*) == 4, "the contract is 32-bit");
static_assert(sizeof(GameInfo) == 32);
static_assert(offsetof(GameInfo, pid) == 0);
static_assert(offsetof(GameInfo, winx) == 4);
static_assert(offsetof(GameInfo, winy) == 8);
static_assert(offsetof(GameInfo, winwidth) == 12);
static_assert(offsetof(GameInfo, winheight) == 16);
static_assert(offsetof(GameInfo, hwnd) == 20);
static_assert(offsetof(GameInfo, newtitle) == 24);
static_assert(offsetof(GameInfo, title) == 28);

// The plug-in's exports: names and ordinals.
inline constexpr char PluginLoadName[] = "pluginload";
inline constexpr char PluginRunName[] = "pluginrun";
inline constexpr char PluginUnloadName[] = "pluginunload";
inline constexpr uint16_t PluginLoadOrdinal = 1;
inline constexpr uint16_t PluginRunOrdinal = 2;
inline constexpr uint16_t PluginUnloadOrdinal = 3;

// pluginload and pluginunload ignore their argument.
using PluginLoadFunction = int32_t(__stdcall*)(int32_t ignored);
// pluginrun gets the address of the host's record.
using PluginRunFunction = int32_t(__stdcall*)(GameInfo* record);
using PluginUnloadFunction = int32_t(__stdcall*)(int32_t ignored);

// The query library's exports. Each gets the record the host passed to
// pluginrun, unchanged.
inline constexpr char QueryLibraryName[] = "sableroot.dll";
inline constexpr char GetGameWinXName[] = "getgamewinx";
inline constexpr char GetGameWinYName[] = "getgamewiny";
inline constexpr char GetGameWinWidthName[] = "getgamewinwidth";
inline constexpr char GetGameWinHeightName[] = "getgamewinheight";
inline constexpr char GetGameHwndName[] = "getgamehwnd";
inline constexpr char GetGamePidName[] = "getgamepid";
inline constexpr char GetGameTitleName[] = "getgametitle";

// getgamewinx, getgamewiny, getgamewinwidth, getgamewinheight, getgamehwnd
// and getgamepid return the number itself.
using QueryNumberFunction = int32_t(__stdcall*)(const GameInfo* record);
using GetGameWinXFunction = QueryNumberFunction;
using GetGameWinYFunction = QueryNumberFunction;
using GetGameWinWidthFunction = QueryNumberFunction;
using GetGameWinHeightFunction = QueryNumberFunction;
using GetGameHwndFunction = QueryNumberFunction;
using GetGamePidFunction = QueryNumberFunction;
// getgametitle returns the address of a NUL-terminated text that stays
// readable after the call, or null.
using GetGameTitleFunction = const char*(__stdcall*)(const GameInfo* record);

} // namespace dovemarl
