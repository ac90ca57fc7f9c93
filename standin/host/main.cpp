// A stand-in for the game client's plug-in host: it opens a game window, loads
// Dovemarl.dll from its own folder, fills a GameInfo record from the game
// window and drives the three exports in the order a host does.
//
//   standin-host.exe [--auto]
//
// --auto answers every box the plug-in shows and prints what it said, so the
// whole sequence runs without a person at the screen.
#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "box_watcher.h"
#include "plugin_interface.h"

namespace {

using standin::Export;
using standin::GameInfo;
using standin::PluginCall;
using standin::PluginRun;

constexpr char GameTitle[] = "Tidewarden";

std::string ModuleFolder() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (char* slash = std::strrchr(path, '\\')) {
        slash[1] = '\0';
    }
    return path;
}

HWND OpenGameWindow() {
    WNDCLASSA cls = {};
    cls.lpfnWndProc = DefWindowProcA;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_WINDOW + 1);
    cls.lpszClassName = "StandinGameWindow";
    RegisterClassA(&cls);
    return CreateWindowExA(0, cls.lpszClassName, GameTitle, WS_OVERLAPPEDWINDOW | WS_VISIBLE, 100,
                           80, 800, 600, nullptr, nullptr, cls.hInstance, nullptr);
}

void Describe(HWND game, GameInfo& info, char* titleBuffer, int titleSize) {
    RECT rect = {};
    GetWindowRect(game, &rect);
    DWORD pid = 0;
    GetWindowThreadProcessId(game, &pid);
    GetWindowTextA(game, titleBuffer, titleSize);
    info.pid = static_cast<int32_t>(pid);
    info.winx = rect.left;
    info.winy = rect.top;
    info.winwidth = rect.right - rect.left;
    info.winheight = rect.bottom - rect.top;
    info.hwnd = static_cast<uint32_t>(reinterpret_cast<uintptr_t>(game));
    info.title = titleBuffer;
}

void PrintBox(const standin::SeenBox& box) {
    std::string text = box.text;
    for (size_t at = 0; (at = text.find("\r\n", at)) != std::string::npos;) {
        text.replace(at, 2, "\n    ");
    }
    std::printf("[box] %s%s\n    %s\n", box.title.c_str(), box.icon ? " (information)" : "",
                text.c_str());
    std::fflush(stdout);
}

} // namespace

int main(int argc, char** argv) {
    bool automatic = argc > 1 && std::strcmp(argv[1], "--auto") == 0;
    standin::BoxWatcher* answerer = automatic ? new standin::BoxWatcher(PrintBox) : nullptr;

    HWND game = OpenGameWindow();
    std::string dllPath = ModuleFolder() + "Dovemarl.dll";
    HMODULE plugin = LoadLibraryA(dllPath.c_str());
    if (plugin == nullptr) {
        std::printf("cannot load %s (error %lu)\n", dllPath.c_str(), GetLastError());
        return 1;
    }
    auto load = Export<PluginCall>(plugin, "pluginload");
    auto run = Export<PluginRun>(plugin, "pluginrun");
    auto unload = Export<PluginCall>(plugin, "pluginunload");
    if (load == nullptr || run == nullptr || unload == nullptr) {
        std::printf("Dovemarl.dll lacks an export\n");
        return 1;
    }

    std::printf("pluginload -> %d\n", load(0));

    GameInfo info = {};
    char title[256] = "";
    Describe(game, info, title, sizeof title);
    std::printf("pluginrun -> %d\n", run(&info));
    if (info.newtitle != nullptr) {
        // A host would retitle the game window with the plug-in's proposal.
        SetWindowTextA(game, info.newtitle);
        std::printf("proposed title: \"%s\"\n", info.newtitle);
    }

    std::printf("pluginunload -> %d\n", unload(0));
    FreeLibrary(plugin);
    std::printf("unloaded\n");
    DestroyWindow(game);
    delete answerer;
    return 0;
}
