// Unloading from another thread while a worker's monitor window is open and
// its thread keeps serving it for two more seconds; then loading again and
// running on a new thread: nothing crashes or hangs, the old window goes with
// its own thread, and the new window follows its record.
#include <gtest/gtest.h>

#include <string>

#include "box_watcher.h"
#include "stress/stress_support.h"
#include "support/example_record.h"
#include "support/monitor_closer.h"
#include "support/plugin_library.h"
#include "support/query_library.h"
#include "support/wait_until.h"
#include "support/windows.h"

namespace {

using testing_support::GameInfo;
using testing_support::PluginLibrary;

constexpr int Rounds = 3;
constexpr DWORD ServeAfterUnloadMs = 2000;
constexpr DWORD LimitMs = 30000;

struct OldWorker {
    PluginLibrary* plugin;
    HANDLE ran;
    HANDLE unloaded;
    HWND monitor;
    int pokesAfterUnload;
    bool gone;
};

// Runs, then keeps serving and poking the window it was left with: moves the
// mouse over it, repaints it, asks for its text, until two seconds after the
// unload.
void RunAndServe(void* argument) {
    auto* worker = static_cast<OldWorker*>(argument);
    GameInfo info = testing_support::ExampleRecord();
    worker->plugin->run(&info);
    for (HWND monitor : testing_support::OpenMonitors()) {
        if (GetWindowThreadProcessId(monitor, nullptr) == GetCurrentThreadId()) {
            worker->monitor = monitor;
        }
    }
    SetEvent(worker->ran);
    DWORD unloadedAt = 0;
    for (DWORD start = GetTickCount(); GetTickCount() - start < LimitMs;) {
        testing_support::FlushMessages();
        if (IsWindow(worker->monitor)) {
            char text[64];
            SendMessageA(worker->monitor, WM_MOUSEMOVE, 0, MAKELPARAM(20, 20));
            SendMessageA(worker->monitor, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
            InvalidateRect(worker->monitor, nullptr, TRUE);
            UpdateWindow(worker->monitor);
            worker->pokesAfterUnload += unloadedAt != 0;
        }
        if (unloadedAt == 0 && WaitForSingleObject(worker->unloaded, 0) == WAIT_OBJECT_0) {
            unloadedAt = GetTickCount();
        }
        if (unloadedAt != 0 && GetTickCount() - unloadedAt > ServeAfterUnloadMs) {
            break;
        }
        Sleep(5);
    }
    worker->gone = !IsWindow(worker->monitor);
}

struct NewRun {
    PluginLibrary* plugin;
    int32_t pid;
    int32_t result;
};

void RunFollowed(void* argument) {
    auto* run = static_cast<NewRun*>(argument);
    GameInfo info = testing_support::ExampleRecord();
    info.pid = run->pid;
    run->result = run->plugin->run(&info);
}

TEST(UnloadReload, UnloadBesideAServedWindowThenRunAgain) {
    testing_support::QueryLibraryDouble queries(testing_support::QueryLibrary::Absent);
    standin::BoxWatcher boxes;
    stress::Counts before = stress::Now();
    for (int round = 0; round < Rounds; ++round) {
        auto plugin = std::make_unique<PluginLibrary>();
        ASSERT_TRUE(plugin->Loaded());
        const void* image = plugin->Module();
        size_t imageSize = stress::ImageSize(plugin->Module());
        OldWorker old = {plugin.get(),
                         CreateEventA(nullptr, TRUE, FALSE, nullptr),
                         CreateEventA(nullptr, TRUE, FALSE, nullptr),
                         nullptr,
                         0,
                         false};
        DWORD unloadMs = 0;
        {
            testing_support::MonitorCloser closer;
            stress::HostThread worker(RunAndServe, &old);
            ASSERT_EQ(WaitForSingleObject(old.ran, LimitMs), WAIT_OBJECT_0);
            DWORD start = GetTickCount();
            plugin.reset(); // from this thread, not the worker's
            unloadMs = GetTickCount() - start;
            SetEvent(old.unloaded);
            ASSERT_TRUE(worker.Join(LimitMs)) << "round " << round;
        }
        EXPECT_EQ(GetModuleHandleA("Dovemarl.dll"), nullptr);
        EXPECT_TRUE(old.gone) << "round " << round << ": the worker's thread destroyed it";
        EXPECT_EQ(stress::ThreadsStartedIn(image, imageSize), 0) << "round " << round;

        // Again, on a new thread; the new window follows its record.
        plugin = std::make_unique<PluginLibrary>();
        ASSERT_TRUE(plugin->Loaded());
        NewRun again = {plugin.get(), 7000 + round, -1};
        bool followed = false;
        {
            testing_support::MonitorCloser closer([&](HWND monitor) {
                std::string expected = "Pid: " + std::to_string(again.pid);
                followed = testing_support::WaitUntil(
                    [&] {
                        auto texts = stress::ChildTexts(monitor);
                        return !texts.empty() && texts[0] == expected;
                    },
                    5000);
            });
            stress::HostThread runner(RunFollowed, &again);
            ASSERT_TRUE(runner.Join(LimitMs)) << "round " << round;
        }
        EXPECT_EQ(again.result, 0);
        EXPECT_TRUE(followed) << "round " << round;
        std::printf("round %d: unload beside a served window %lu ms, %d pokes after it; "
                    "new window followed: %d\n",
                    round, unloadMs, old.pokesAfterUnload, followed);
        CloseHandle(old.ran);
        CloseHandle(old.unloaded);
    }
    Sleep(100);
    stress::Counts after = stress::Now();
    std::printf("%s\n", stress::Compare(before, after).c_str());
    EXPECT_EQ(after.windows, before.windows);
    EXPECT_EQ(testing_support::OpenMonitors().size(), 0u);
}

} // namespace
