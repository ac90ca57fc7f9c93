// Loading and unloading the module while host threads hold per-thread state
// and watcher threads wait for them: the unload neither hangs nor leaves a
// watcher behind that would run unloaded code when those threads end later.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "box_watcher.h"

#include "support/monitor_closer.h"
#include "support/plugin_library.h"
#include "support/resources.h"
#include "support/wait_until.h"

namespace {

using testing_support::Export;
using UseThreadState = int32_t(__stdcall*)(int32_t);

constexpr char ProbeLibrary[] = "runtime_probe.dll";

struct ThreadJob {
    UseThreadState use;
    int32_t value;
    HANDLE registered; // set once the thread holds state in the module
    HANDLE go;         // the thread ends once this is set (null: at once)
};

DWORD WINAPI HoldState(void* argument) {
    auto* job = static_cast<ThreadJob*>(argument);
    job->use(job->value);
    SetEvent(job->registered);
    if (job->go != nullptr) {
        WaitForSingleObject(job->go, INFINITE);
    }
    return 0;
}

int CountHeaps() {
    return static_cast<int>(GetProcessHeaps(0, nullptr));
}

DWORD LowestFreeTlsIndex() {
    DWORD index = TlsAlloc();
    TlsFree(index);
    return index;
}

// One load, some threads with state (a few of which end before the unload),
// the unload while the others live, then their end.
void RunCycle(int cycle, DWORD* unloadMs) {
    HMODULE module = LoadLibraryA(ProbeLibrary);
    ASSERT_NE(module, nullptr) << "cycle " << cycle << ": error " << GetLastError();
    auto use = Export<UseThreadState>(module, "UseThreadState");
    ASSERT_NE(use, nullptr);

    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    int threads = 3 + cycle % 8;
    std::vector<ThreadJob> jobs(threads);
    std::vector<HANDLE> handles;
    for (int i = 0; i < threads; ++i) {
        jobs[i] = {use, i, CreateEventA(nullptr, TRUE, FALSE, nullptr), i % 3 == 0 ? nullptr : go};
        handles.push_back(CreateThread(nullptr, 0, HoldState, &jobs[i], 0, nullptr));
    }
    for (ThreadJob& job : jobs) {
        WaitForSingleObject(job.registered, INFINITE);
        CloseHandle(job.registered);
    }

    DWORD start = GetTickCount();
    FreeLibrary(module);
    *unloadMs = GetTickCount() - start;
    EXPECT_EQ(GetModuleHandleA(ProbeLibrary), nullptr) << "cycle " << cycle << ": still loaded";

    SetEvent(go); // the watched threads end after the module is gone
    WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, INFINITE);
    for (HANDLE handle : handles) {
        CloseHandle(handle);
    }
    CloseHandle(go);
}

TEST(Unload, WatchedThreadsOutliveTheModule) {
    DWORD unloadMs = 0;
    RunCycle(0, &unloadMs); // warm-up: the system makes some handles on first use
    Sleep(100);
    int handlesBefore = testing_support::CountOpenHandles();
    int heapsBefore = CountHeaps();
    DWORD tlsBefore = LowestFreeTlsIndex();

    DWORD slowest = 0;
    for (int cycle = 1; cycle <= 40; ++cycle) {
        RunCycle(cycle, &unloadMs);
        slowest = std::max(slowest, unloadMs);
        if (HasFatalFailure()) {
            return;
        }
    }
    Sleep(200); // any watcher left behind would crash the process about now
    std::printf("slowest unload: %lu ms\n", slowest);
    EXPECT_EQ(testing_support::CountOpenHandles(), handlesBefore) << "open handles";
    EXPECT_EQ(CountHeaps(), heapsBefore) << "process heaps";
    EXPECT_EQ(LowestFreeTlsIndex(), tlsBefore) << "thread-local slots are given back";
}

// A thread that made state and ended; returns once it has.
void RunThreadWithState(UseThreadState use) {
    ThreadJob job = {use, 1, CreateEventA(nullptr, TRUE, FALSE, nullptr), nullptr};
    HANDLE thread = CreateThread(nullptr, 0, HoldState, &job, 0, nullptr);
    WaitForSingleObject(thread, INFINITE);
    CloseHandle(thread);
    CloseHandle(job.registered);
}

// Once the last watched thread has ended, its watcher waits a moment for a
// later thread and then ends by itself; its thread, its handles and its
// record go with it, while the module stays loaded.
TEST(Unload, IdleWatcherLeavesNothingBehind) {
    HMODULE module = LoadLibraryA(ProbeLibrary);
    ASSERT_NE(module, nullptr);
    auto use = Export<UseThreadState>(module, "UseThreadState");
    RunThreadWithState(use); // warm-up: the system makes some handles on first use
    int threadsBefore = testing_support::CountThreads();
    ASSERT_TRUE(testing_support::WaitUntil([&] {
        return (threadsBefore = testing_support::CountThreads()) == 1;
    })) << "threads after the warm-up: "
        << threadsBefore;
    int handlesBefore = testing_support::CountOpenHandles();

    RunThreadWithState(use);
    DWORD ended = GetTickCount();
    EXPECT_TRUE(testing_support::WaitUntil([&] {
        return testing_support::CountThreads() == threadsBefore &&
               testing_support::CountOpenHandles() == handlesBefore;
    })) << "threads "
        << testing_support::CountThreads() << " (expected " << threadsBefore << "), handles "
        << testing_support::CountOpenHandles() << " (expected " << handlesBefore << ")";
    std::printf("watcher gone %lu ms after the last thread ended\n", GetTickCount() - ended);
    FreeLibrary(module);
}

// Unloads that meet a watcher at every step of retiring: still parked,
// deciding, leaving the module's code, or gone. Each unload neither hangs nor
// leaves the watcher in code that is no longer there.
TEST(Unload, UnloadWhileTheWatcherRetires) {
    constexpr int Cycles = 60;
    HMODULE module = LoadLibraryA(ProbeLibrary);
    ASSERT_NE(module, nullptr);
    RunThreadWithState(Export<UseThreadState>(module, "UseThreadState"));
    FreeLibrary(module);
    int threadsBefore = testing_support::CountThreads();
    int handlesBefore = testing_support::CountOpenHandles();
    DWORD slowest = 0;
    for (int cycle = 0; cycle < Cycles; ++cycle) {
        module = LoadLibraryA(ProbeLibrary);
        ASSERT_NE(module, nullptr) << "cycle " << cycle;
        Export<UseThreadState>(module, "SetIdleLimit")(cycle % 3);
        RunThreadWithState(Export<UseThreadState>(module, "UseThreadState"));
        Sleep(static_cast<DWORD>(cycle % 7));
        DWORD start = GetTickCount();
        FreeLibrary(module);
        slowest = std::max(slowest, GetTickCount() - start);
        ASSERT_EQ(GetModuleHandleA(ProbeLibrary), nullptr) << "cycle " << cycle;
    }
    Sleep(200); // a watcher left in the module's code would crash about now
    std::printf("slowest unload: %lu ms\n", slowest);
    EXPECT_TRUE(testing_support::WaitUntil([&] {
        return testing_support::CountThreads() == threadsBefore;
    })) << "threads "
        << testing_support::CountThreads() << ", expected " << threadsBefore;
    EXPECT_EQ(testing_support::CountOpenHandles(), handlesBefore) << "open handles";
}

TEST(Unload, LoadAndUnloadWithoutThreadsLeavesNothing) {
    FreeLibrary(LoadLibraryA(ProbeLibrary));
    int handlesBefore = testing_support::CountOpenHandles();
    int heapsBefore = CountHeaps();
    for (int i = 0; i < 100; ++i) {
        HMODULE module = LoadLibraryA(ProbeLibrary);
        ASSERT_NE(module, nullptr);
        FreeLibrary(module);
    }
    EXPECT_EQ(testing_support::CountOpenHandles(), handlesBefore) << "open handles";
    EXPECT_EQ(CountHeaps(), heapsBefore) << "process heaps";
}

// The real plug-in: a host thread that ran pluginrun holds its workspace when
// the host unloads the plug-in, and ends afterwards. The watcher that waits
// for it is gone once the unload returns: had it stayed, the thread's end
// would wake it into code that is no longer there.
TEST(Unload, RealPluginUnloadsWhileARunThreadLives) {
    testing_support::PluginLibrary plugin;
    ASSERT_TRUE(plugin.Loaded());
    standin::BoxWatcher watcher;
    testing_support::MonitorCloser closer;
    HANDLE ran = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::thread host([&] {
        testing_support::GameInfo info = {};
        plugin.run(&info);
        SetEvent(ran);
        WaitForSingleObject(go, INFINITE);
    });
    ASSERT_EQ(WaitForSingleObject(ran, 30000), WAIT_OBJECT_0);
    std::vector<HANDLE> watchers;
    for (DWORD id : testing_support::RunningThreadsStartedIn(plugin.Module())) {
        watchers.push_back(OpenThread(SYNCHRONIZE, FALSE, id));
    }
    EXPECT_GE(watchers.size(), 1u) << "a watcher waits for the run thread";
    plugin.Unload();
    EXPECT_EQ(GetModuleHandleA("Dovemarl.dll"), nullptr);
    for (HANDLE thread : watchers) {
        EXPECT_EQ(WaitForSingleObject(thread, 2000), static_cast<DWORD>(WAIT_OBJECT_0))
            << "a watcher outlived the unload";
        CloseHandle(thread);
    }
    SetEvent(go);
    host.join();
    CloseHandle(ran);
    CloseHandle(go);
    EXPECT_EQ(watcher.Seen().size(), 2u);
}

} // namespace
