// A thousand loads and unloads of the plug-in, some with a pluginrun on a
// worker thread in between: a worker that has ended by the unload, or one
// that is still alive and serving the monitor window it was left with. The
// process holds no more handles, windows or threads at the end than after
// the first cycles, and no thread is left in the module's code.
#include <gtest/gtest.h>

#include "box_watcher.h"
#include "stress/stress_support.h"
#include "support/example_record.h"
#include "support/monitor_closer.h"
#include "support/plugin_library.h"
#include "support/query_library.h"
#include "support/windows.h"

namespace {

using testing_support::GameInfo;
using testing_support::PluginRun;

constexpr int Cycles = 1000;
constexpr int RunPeriod = 100;     // in every hundred cycles:
constexpr int EndedWorkerAt = 50;  // one run on a worker that ends before the unload,
constexpr int LivingWorkerAt = 99; // one on a worker that lives on, its window open
constexpr DWORD RunLimitMs = 60000;
constexpr DWORD PumpAfterUnloadMs = 300;

struct Worker {
    PluginRun run;
    HANDLE ran;
    HANDLE unloaded;
    int32_t result;
    bool windowGone; // the retired window was destroyed by this thread
};

void RunThenEnd(void* argument) {
    auto* worker = static_cast<Worker*>(argument);
    GameInfo info = testing_support::ExampleRecord();
    worker->result = worker->run(&info);
}

void RunThenServe(void* argument) {
    auto* worker = static_cast<Worker*>(argument);
    GameInfo info = testing_support::ExampleRecord();
    worker->result = worker->run(&info);
    std::vector<HWND> monitors = testing_support::OpenMonitors();
    SetEvent(worker->ran);
    // Serves the thread's windows until some time after the unload.
    DWORD unloadedAt = 0;
    for (DWORD start = GetTickCount(); GetTickCount() - start < RunLimitMs;) {
        testing_support::FlushMessages();
        if (unloadedAt == 0 && WaitForSingleObject(worker->unloaded, 0) == WAIT_OBJECT_0) {
            unloadedAt = GetTickCount();
        }
        if (unloadedAt != 0 && GetTickCount() - unloadedAt > PumpAfterUnloadMs) {
            break;
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 5, QS_ALLINPUT);
    }
    worker->windowGone = true;
    for (HWND monitor : monitors) {
        if (GetWindowThreadProcessId(monitor, nullptr) == GetCurrentThreadId()) {
            worker->windowGone &= !IsWindow(monitor);
        }
    }
}

struct CycleResult {
    bool ok = true;
    int leftStarted = 0;   // threads started in the module still alive after the unload
    int leftExecuting = 0; // threads caught executing in its range
};

CycleResult Cycle(int cycle) {
    CycleResult result;
    HMODULE module = LoadLibraryA("Dovemarl.dll");
    if (module == nullptr) {
        std::printf("cycle %d: load failed, error %lu\n", cycle, GetLastError());
        result.ok = false;
        return result;
    }
    const void* image = module;
    size_t imageSize = stress::ImageSize(module);
    Worker worker = {testing_support::Export<PluginRun>(module, "pluginrun"),
                     CreateEventA(nullptr, TRUE, FALSE, nullptr),
                     CreateEventA(nullptr, TRUE, FALSE, nullptr), -1, false};
    int phase = cycle % RunPeriod;
    if (phase == EndedWorkerAt) {
        stress::HostThread thread(RunThenEnd, &worker);
        result.ok = thread.Join(RunLimitMs) && worker.result == 0;
        FreeLibrary(module);
    } else if (phase == LivingWorkerAt) {
        stress::HostThread thread(RunThenServe, &worker);
        result.ok = WaitForSingleObject(worker.ran, RunLimitMs) == WAIT_OBJECT_0;
        FreeLibrary(module);
        SetEvent(worker.unloaded);
        result.ok = thread.Join(RunLimitMs) && result.ok && worker.result == 0 && worker.windowGone;
    } else {
        FreeLibrary(module);
    }
    CloseHandle(worker.ran);
    CloseHandle(worker.unloaded);
    if (GetModuleHandleA("Dovemarl.dll") != nullptr) {
        std::printf("cycle %d: still loaded after the unload\n", cycle);
        result.ok = false;
    }
    result.leftStarted = stress::ThreadsStartedIn(image, imageSize);
    result.leftExecuting = stress::ThreadsExecutingIn(image, imageSize);
    if (!result.ok) {
        std::printf("cycle %d (phase %d) failed: result %d, window gone %d\n", cycle, phase,
                    worker.result, worker.windowGone);
    }
    return result;
}

TEST(LoadCycles, AThousandLoadsAndUnloadsLeaveNothingBehind) {
    // A host has these loaded already; the module's load then costs no more
    // than its own.
    HMODULE commonControls = LoadLibraryA("comctl32.dll");
    testing_support::QueryLibraryDouble queries(testing_support::QueryLibrary::Absent);
    standin::BoxWatcher boxes;
    testing_support::MonitorCloser closer;
    // One cycle of each kind first: what the system makes on first use.
    for (int cycle : {EndedWorkerAt, LivingWorkerAt, 0}) {
        ASSERT_TRUE(Cycle(cycle).ok);
    }
    Sleep(100);
    stress::Counts baseline = stress::Now();
    DWORD start = GetTickCount();
    int failed = 0, leftStarted = 0, leftExecuting = 0;
    stress::Counts most = baseline;
    for (int cycle = 0; cycle < Cycles; ++cycle) {
        CycleResult result = Cycle(cycle);
        failed += !result.ok;
        leftStarted += result.leftStarted;
        leftExecuting += result.leftExecuting;
        if ((cycle + 1) % RunPeriod == 0) {
            stress::Counts now = stress::Now();
            most = {std::max(most.handles, now.handles), std::max(most.windows, now.windows),
                    std::max(most.threads, now.threads)};
            std::printf("after %4d cycles (%5lu ms): %s\n", cycle + 1, GetTickCount() - start,
                        stress::Compare(baseline, now).c_str());
        }
        if (failed > 3) {
            break;
        }
    }
    Sleep(200); // a thread left in the module's code would crash about now
    stress::Counts after = stress::Now();
    std::printf("%d cycles in %lu ms (%d with a run); highest: %s\n", Cycles,
                GetTickCount() - start, 2 * Cycles / RunPeriod,
                stress::Compare(baseline, most).c_str());
    EXPECT_EQ(failed, 0) << "cycles that failed";
    EXPECT_EQ(leftStarted, 0) << "the module's threads alive after its unload";
    EXPECT_EQ(leftExecuting, 0) << "threads executing in the unloaded range";
    EXPECT_EQ(after.handles, baseline.handles) << "open handles";
    EXPECT_EQ(after.windows, baseline.windows) << "windows";
    EXPECT_EQ(after.threads, baseline.threads) << "threads";
    FreeLibrary(commonControls);
}

} // namespace
