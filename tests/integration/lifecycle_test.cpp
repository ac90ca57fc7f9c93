// The module's whole life in a host: loading and unloading leaves nothing
// behind, an unload closes the monitor windows it can and retires the ones of
// other threads, and a reload starts afresh.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <thread>
#include <vector>

#include "box_watcher.h"
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

TEST(Lifecycle, LoadAndUnloadWithoutCallsLeavesNothing) {
    FreeLibrary(LoadLibraryA("Dovemarl.dll")); // the system's first-use allocations
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

// The same, with the worker sending its window one message after another
// while the unload runs, so that the unload meets it inside the module's
// window procedures: the unload waits until it has left them, and keeps the
// locks those procedures take until then.
TEST(Lifecycle, UnloadWaitsForAWorkerInsideItsWindowProcedure) {
    constexpr int Rounds = 5;
    standin::BoxWatcher boxes;
    for (int round = 0; round < Rounds; ++round) {
        HANDLE ran = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HANDLE unloaded = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        HWND monitor = nullptr;
        long sent = 0;
        DWORD unloadMs = 0;
        {
            PluginLibrary plugin;
            ASSERT_TRUE(plugin.Loaded());
            MonitorCloser closer([&](HWND window) { monitor = window; });
            std::thread worker([&] {
                GameInfo info = ExampleRecord();
                plugin.run(&info);
                SetEvent(ran);
                DWORD afterUnload = 0;
                while (afterUnload == 0 || GetTickCount() - afterUnload < 200) {
                    if (IsWindow(monitor)) {
                        SendMessageA(monitor, WM_MOUSEMOVE, 0, MAKELPARAM(20, 20));
                        SendMessageA(monitor, WM_ERASEBKGND, 0, 0);
                        ++sent;
                    }
                    testing_support::FlushMessages();
                    if (afterUnload == 0 && WaitForSingleObject(unloaded, 0) == WAIT_OBJECT_0) {
                        afterUnload = GetTickCount();
                    }
                }
            });
            ASSERT_EQ(WaitForSingleObject(ran, 30000), WAIT_OBJECT_0);
            Sleep(static_cast<DWORD>(round * 3)); // the worker is sending by now
            DWORD start = GetTickCount();
            plugin.Unload();
            unloadMs = GetTickCount() - start;
            SetEvent(unloaded);
            worker.join();
        }
        std::printf("round %d: unload in %lu ms while the worker sent %ld pairs of messages\n",
                    round, unloadMs, sent);
        EXPECT_FALSE(IsWindow(monitor)) << "round " << round;
        EXPECT_EQ(GetModuleHandleA("Dovemarl.dll"), nullptr) << "round " << round;
        CloseHandle(ran);
        CloseHandle(unloaded);
    }
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
