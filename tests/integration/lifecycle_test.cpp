// The module's whole life in a host: loading and unloading leaves nothing
// behind, an unload closes the monitor windows it can and retires the ones of
// other threads, and a reload starts afresh.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "box_watcher.h"
#include "doctor/window_classes.h"
#include "support/example_record.h"
#include "support/monitor_closer.h"
#include "support/plugin_library.h"
#include "support/resources.h"
#include "support/wait_until.h"
#include "support/windows.h"

namespace {

using testing_support::CountOpenHandles;
using testing_support::CountThreads;
using testing_support::CountWindows;
using testing_support::ExampleRecord;
using testing_support::GameInfo;
using testing_support::MessageOnlyWindowsOfClass;
using testing_support::MonitorCloser;
using testing_support::OpenMonitors;
using testing_support::PluginLibrary;
using testing_support::TopLevelWindowsOfClass;

struct Counts {
    int handles;
    int windows;
    int threads;
};

Counts Now() {
    return {CountOpenHandles(), CountWindows(), CountThreads()};
}

double MedianLoadUnloadMs(const char* library, int cycles) {
    std::vector<double> times;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    for (int i = 0; i < cycles; ++i) {
        QueryPerformanceCounter(&start);
        FreeLibrary(LoadLibraryA(library));
        QueryPerformanceCounter(&end);
        times.push_back((end.QuadPart - start.QuadPart) * 1000.0 / frequency.QuadPart);
    }
    std::sort(times.begin(), times.end());
    return times[times.size() / 2];
}

// The window classes registered under the module's instance, whatever their
// names: found, as the lifecycle doctor finds them, through the atom table,
// where every class name is an atom.
std::vector<std::string> RegisteredModuleClasses(HINSTANCE module) {
    standin::WindowClasses classes;
    classes.SetImage(standin::RangeOf(module));
    classes.LearnFromAtoms(module);
    std::vector<std::string> registered;
    for (const standin::LeftClass& cls : classes.StillRegistered()) {
        registered.push_back(cls.name);
    }
    return registered;
}

std::string Joined(const std::vector<std::string>& items) {
    std::string text;
    for (const std::string& item : items) {
        text += (text.empty() ? "" : ", ") + item;
    }
    return text.empty() ? "none" : text;
}

// A load that is never run makes no window, starts no thread, registers no
// class and loads no module but system ones; its unload takes every module it
// brought back out.
TEST(Lifecycle, LoadWithoutCallsMakesNothingButTheModule) {
    // The system's first-use allocations. Classes that earlier runs in this
    // process left registered under the module's instance are not this load's.
    HMODULE earlier = LoadLibraryA("Dovemarl.dll");
    ASSERT_NE(earlier, nullptr);
    std::vector<std::string> classesBefore = RegisteredModuleClasses(earlier);
    FreeLibrary(earlier);
    Counts before = Now();
    std::vector<std::string> modulesBefore = testing_support::LoadedModules();
    HMODULE module = LoadLibraryA("Dovemarl.dll");
    ASSERT_NE(module, nullptr);
    Counts loaded = Now();
    std::vector<std::string> added;
    for (const std::string& path : testing_support::LoadedModules()) {
        if (!std::binary_search(modulesBefore.begin(), modulesBefore.end(), path)) {
            added.push_back(path);
        }
    }
    std::vector<std::string> classes;
    for (const std::string& name : RegisteredModuleClasses(module)) {
        if (module != earlier ||
            std::find(classesBefore.begin(), classesBefore.end(), name) == classesBefore.end()) {
            classes.push_back(name);
        }
    }
    std::vector<DWORD> ownThreads = testing_support::RunningThreadsStartedIn(module);
    FreeLibrary(module);
    Counts after = Now();
    std::vector<std::string> modulesAfter = testing_support::LoadedModules();

    std::printf("loaded: windows %d -> %d, threads %d -> %d; modules added: %s\n", before.windows,
                loaded.windows, before.threads, loaded.threads, Joined(added).c_str());
    EXPECT_EQ(loaded.windows, before.windows) << "windows while loaded";
    EXPECT_EQ(loaded.threads, before.threads) << "threads while loaded";
    EXPECT_EQ(ownThreads.size(), 0u) << "threads started in the module";
    EXPECT_EQ(classes.size(), 0u) << "classes registered: " << Joined(classes);
    for (const std::string& path : added) {
        bool plugin = path.size() >= 12 && path.compare(path.size() - 12, 12, "dovemarl.dll") == 0;
        EXPECT_TRUE(plugin || testing_support::InSystemFolder(path))
            << path << " is neither the plug-in nor a system module";
    }
    EXPECT_EQ(after.windows, before.windows) << "windows after the unload";
    EXPECT_EQ(after.threads, before.threads) << "threads after the unload";
    EXPECT_EQ(after.handles, before.handles) << "handles after the unload";
    EXPECT_EQ(Joined(modulesAfter), Joined(modulesBefore)) << "modules after the unload";
}

TEST(Lifecycle, LoadAndUnloadWithoutCallsLeavesNothing) {
    // The system's first-use allocations. Classes that earlier runs in this
    // process left registered under the module's instance are not this load's.
    HMODULE earlier = LoadLibraryA("Dovemarl.dll");
    ASSERT_NE(earlier, nullptr);
    std::vector<std::string> classesBefore = RegisteredModuleClasses(earlier);
    FreeLibrary(earlier);
    Counts before = Now();
    double moduleMs = MedianLoadUnloadMs("Dovemarl.dll", 200);
    Counts after = Now();
    double emptyMs = MedianLoadUnloadMs("empty.dll", 200);
    std::printf("200 load/unload cycles: handles %d -> %d, windows %d -> %d, threads %d -> %d\n",
                before.handles, after.handles, before.windows, after.windows, before.threads,
                after.threads);
    std::printf("median load+unload: Dovemarl.dll %.3f ms, empty.dll %.3f ms\n", moduleMs, emptyMs);
    EXPECT_EQ(after.handles, before.handles);
    EXPECT_EQ(after.windows, before.windows);
    EXPECT_EQ(after.threads, before.threads);
}

// The message-only window through which events can be posted is made by the
// first run, on its thread, not by the load: a load that is never run makes no
// window. Later runs on that thread use it; the unload takes it and its class.
// It is never among the top-level windows, which every broadcast visits.
TEST(Lifecycle, FirstRunMakesThePostWindowAndTheUnloadTakesIt) {
    constexpr char PostClass[] = "PostEventClass";
    standin::BoxWatcher boxes;
    MonitorCloser closer;
    HINSTANCE instance = nullptr;
    {
        PluginLibrary plugin;
        ASSERT_TRUE(plugin.Loaded());
        instance = plugin.Module();
        EXPECT_EQ(MessageOnlyWindowsOfClass(PostClass).size(), 0u) << "after the load";
        for (int run = 1; run <= 2; ++run) {
            GameInfo info = ExampleRecord();
            plugin.run(&info);
            std::vector<HWND> posts = MessageOnlyWindowsOfClass(PostClass);
            ASSERT_EQ(posts.size(), 1u) << "after run " << run;
            EXPECT_EQ(GetWindowThreadProcessId(posts[0], nullptr), GetCurrentThreadId());
            EXPECT_FALSE(IsWindowVisible(posts[0]));
            EXPECT_EQ(TopLevelWindowsOfClass(PostClass).size(), 0u) << "after run " << run;
        }
    }
    EXPECT_EQ(MessageOnlyWindowsOfClass(PostClass).size(), 0u) << "after the unload";
    WNDCLASSA cls = {};
    EXPECT_FALSE(GetClassInfoA(instance, PostClass, &cls)) << PostClass << " is unregistered";
}

TEST(Lifecycle, UnloadOnTheRunThreadDestroysTheMonitor) {
    standin::BoxWatcher boxes;
    HWND monitor = nullptr;
    char className[32] = "";
    HINSTANCE instance = nullptr;
    {
        PluginLibrary plugin;
        ASSERT_TRUE(plugin.Loaded());
        instance = plugin.Module();
        MonitorCloser closer([&](HWND window) { monitor = window; });
        GameInfo info = ExampleRecord();
        plugin.run(&info);
        ASSERT_TRUE(IsWindowVisible(monitor));
        GetClassNameA(monitor, className, sizeof className);
    }
    EXPECT_FALSE(IsWindow(monitor));
    WNDCLASSA cls = {};
    EXPECT_FALSE(GetClassInfoA(instance, className, &cls)) << className << " is unregistered";
    EXPECT_EQ(OpenMonitors().size(), 0u);
}

// A worker's monitor window outlives the module, unloaded from another
// thread, while the worker keeps pumping and poking its window: the window is
// closed by its own thread and nothing calls into the unloaded module.
TEST(Lifecycle, UnloadFromAnotherThreadRetiresAWorkersWindow) {
    standin::BoxWatcher boxes;
    Counts before = Now();
    HANDLE ran = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE unloaded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HWND monitor = nullptr;
    bool goneWhilePumping = false;
    {
        PluginLibrary plugin;
        ASSERT_TRUE(plugin.Loaded());
        MonitorCloser closer([&](HWND window) { monitor = window; });
        std::thread worker([&] {
            GameInfo info = ExampleRecord();
            plugin.run(&info);
            SetEvent(ran);
            // Keep serving the thread's windows, before and after the unload.
            DWORD afterUnload = 0;
            for (DWORD start = GetTickCount(); GetTickCount() - start < 30000;) {
                testing_support::FlushMessages();
                if (IsWindow(monitor)) {
                    SendMessageA(monitor, WM_MOUSEMOVE, 0, MAKELPARAM(20, 20));
                    InvalidateRect(monitor, nullptr, TRUE);
                }
                if (afterUnload == 0 && WaitForSingleObject(unloaded, 0) == WAIT_OBJECT_0) {
                    afterUnload = GetTickCount();
                }
                if (afterUnload != 0 && GetTickCount() - afterUnload > 2000) {
                    break;
                }
                Sleep(5);
            }
            goneWhilePumping = !IsWindow(monitor);
        });
        ASSERT_EQ(WaitForSingleObject(ran, 30000), WAIT_OBJECT_0);
        plugin.Unload();
        SetEvent(unloaded);
        worker.join();
    }
    EXPECT_TRUE(goneWhilePumping) << "the worker's own thread destroyed the window";
    EXPECT_EQ(GetModuleHandleA("Dovemarl.dll"), nullptr);
    Sleep(100);
    Counts after = Now();
    EXPECT_EQ(after.windows, before.windows);
    EXPECT_EQ(after.threads, before.threads);
    CloseHandle(ran);
    CloseHandle(unloaded);
}

// A window of the test's own inside the monitor. The module's procedure passes
// WM_SYSCOLORCHANGE on to the monitor's children, so this procedure runs while
// the module's is under way on the worker's thread: once armed, it tells the
// test it is there, stays until the unload has begun (it changes the
// monitor's procedure: the control-parent subclass goes, the window is handed
// to the system), then holdMs more.
struct InsideProcedure {
    HANDLE inside = nullptr;
    HWND monitor = nullptr;
    LONG_PTR moduleProcedure = 0;
    DWORD holdMs = 0;
    bool armed = false;
    bool sawUnload = false;
};
InsideProcedure Inside;

LRESULT CALLBACK InsideChildProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SYSCOLORCHANGE && Inside.armed) {
        Inside.armed = false;
        SetEvent(Inside.inside);
        Inside.sawUnload = testing_support::WaitUntil(
            [] {
                return GetWindowLongPtrA(Inside.monitor, GWLP_WNDPROC) != Inside.moduleProcedure;
            },
            10000);
        Sleep(Inside.holdMs);
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

// The unload meets the worker inside the module's window procedure: it waits
// until the worker has left it (at least the hold), keeps the locks that
// procedure takes until then, and stays well under its 5 s give-up.
TEST(Lifecycle, UnloadWaitsForAWorkerInsideItsWindowProcedure) {
    constexpr DWORD HoldsMs[] = {0, 100, 400};
    constexpr DWORD UnloadLimitMs = 2500;
    constexpr char ChildClass[] = "DovemarlInsideProcedureChild";
    WNDCLASSA cls = {};
    cls.lpfnWndProc = InsideChildProc;
    cls.hInstance = GetModuleHandleA(nullptr);
    cls.lpszClassName = ChildClass;
    ASSERT_TRUE(RegisterClassA(&cls) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS);
    standin::BoxWatcher boxes;
    for (DWORD holdMs : HoldsMs) {
        Inside = {CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr, 0, holdMs, false, false};
        HANDLE unloaded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HWND monitor = nullptr;
        DWORD unloadMs = 0;
        {
            PluginLibrary plugin;
            ASSERT_TRUE(plugin.Loaded());
            MonitorCloser closer([&](HWND window) { monitor = window; });
            std::thread worker([&] {
                GameInfo info = ExampleRecord();
                plugin.run(&info);
                CreateWindowExA(0, ChildClass, nullptr, WS_CHILD, 0, 0, 1, 1, monitor, nullptr,
                                GetModuleHandleA(nullptr), nullptr);
                Inside.monitor = monitor;
                Inside.moduleProcedure = GetWindowLongPtrA(monitor, GWLP_WNDPROC);
                Inside.armed = true;
                DWORD afterUnload = 0;
                while (afterUnload == 0 || GetTickCount() - afterUnload < 200) {
                    if (IsWindow(monitor)) {
                        SendMessageA(monitor, WM_MOUSEMOVE, 0, MAKELPARAM(20, 20));
                        SendMessageA(monitor, WM_ERASEBKGND, 0, 0);
                        SendMessageA(monitor, WM_SYSCOLORCHANGE, 0, 0);
                    }
                    testing_support::FlushMessages();
                    if (afterUnload == 0 && WaitForSingleObject(unloaded, 0) == WAIT_OBJECT_0) {
                        afterUnload = GetTickCount();
                    }
                }
            });
            bool inside = WaitForSingleObject(Inside.inside, 30000) == WAIT_OBJECT_0;
            DWORD start = GetTickCount();
            if (inside) {
                plugin.Unload();
            }
            unloadMs = GetTickCount() - start;
            SetEvent(unloaded);
            worker.join();
            ASSERT_TRUE(inside) << "hold " << holdMs << ": the worker never got inside";
        }
        std::printf("hold %lu ms: unload in %lu ms\n", holdMs, unloadMs);
        EXPECT_TRUE(Inside.sawUnload) << "hold " << holdMs << ": the unload began while inside";
        EXPECT_GE(unloadMs + 1, holdMs) << "the unload waited for the worker to leave";
        EXPECT_LT(unloadMs, UnloadLimitMs) << "hold " << holdMs;
        EXPECT_FALSE(IsWindow(monitor)) << "hold " << holdMs;
        EXPECT_EQ(GetModuleHandleA("Dovemarl.dll"), nullptr) << "hold " << holdMs;
        CloseHandle(Inside.inside);
        CloseHandle(unloaded);
    }
    UnregisterClassA(ChildClass, GetModuleHandleA(nullptr));
}

TEST(Lifecycle, ReloadStartsAfreshWithWorkingWindows) {
    standin::BoxWatcher boxes;
    for (int round = 0; round < 2; ++round) {
        PluginLibrary plugin;
        ASSERT_TRUE(plugin.Loaded());
        bool followed = false;
        GameInfo info = ExampleRecord();
        MonitorCloser closer([&](HWND monitor) {
            info.pid = 1000 + round;
            std::string expected = "Pid: " + std::to_string(1000 + round);
            followed = testing_support::WaitUntil(
                [&] {
                    WCHAR text[64] = L"";
                    InternalGetWindowText(GetWindow(monitor, GW_CHILD), text, 64);
                    char narrow[64] = "";
                    WideCharToMultiByte(CP_ACP, 0, text, -1, narrow, 64, nullptr, nullptr);
                    return expected == narrow;
                },
                5000);
        });
        EXPECT_EQ(plugin.run(&info), 0) << "round " << round;
        EXPECT_TRUE(followed) << "round " << round;
        EXPECT_EQ(OpenMonitors().size(), 1u) << "round " << round;
    }
    EXPECT_EQ(OpenMonitors().size(), 0u);
}

} // namespace
