// Seventy host threads calling pluginrun at the same moment, each with a
// record of its own, twice over: every call returns 0 after both its boxes
// and its monitor, and soon after the threads have ended the process holds
// what it held before (handles, windows, threads, the module's heap blocks):
// the watchers that released their state have retired too. Run under Wine's
// null graphics driver: its X11 driver is not safe with this many threads
// making windows at once.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <memory>
#include <vector>

#include "box_watcher.h"
#include "stress/stress_support.h"
#include "support/example_record.h"
#include "support/monitor_closer.h"
#include "support/plugin_library.h"
#include "support/query_library.h"
#include "support/wait_until.h"

namespace {

using testing_support::GameInfo;

constexpr int HostThreads = 70;
constexpr DWORD RoundLimitMs = 180000;
constexpr DWORD SettleLimitMs = 15000;

struct HostCall {
    testing_support::PluginRun run;
    HANDLE go;
    GameInfo record;
    int32_t result;
};

void CallPlugin(void* argument) {
    auto* call = static_cast<HostCall*>(argument);
    WaitForSingleObject(call->go, INFINITE);
    call->result = call->run(&call->record);
}

struct Round {
    DWORD elapsedMs = 0;
    int zeros = 0;
    int titled = 0;
    int withBothBoxes = 0;
    size_t boxHandles = 0; // distinct handle values among the boxes seen
};

// All calls start on one signal; a call still running after the limit is a
// hang, and the process ends with what it printed.
Round RunRound(testing_support::PluginRun run, standin::BoxWatcher& boxes, int round,
               int hostThreads) {
    size_t boxesBefore = boxes.Seen().size();
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    std::vector<HostCall> calls(hostThreads);
    std::vector<std::unique_ptr<stress::HostThread>> threads;
    for (int i = 0; i < hostThreads; ++i) {
        calls[i] = {run, go, testing_support::ExampleRecord(), -1};
        calls[i].record.pid = round * 1000 + i;
        calls[i].record.winx = 10 * i;
        threads.push_back(std::make_unique<stress::HostThread>(CallPlugin, &calls[i]));
    }
    Round result;
    DWORD start = GetTickCount();
    SetEvent(go);
    for (auto& thread : threads) {
        DWORD spent = GetTickCount() - start;
        if (!thread->Join(spent < RoundLimitMs ? RoundLimitMs - spent : 0)) {
            std::printf("round %d: calls still running after %lu ms\n", round, RoundLimitMs);
            std::fflush(stdout);
            TerminateProcess(GetCurrentProcess(), 4);
        }
    }
    result.elapsedMs = GetTickCount() - start;
    std::map<DWORD, int> boxesOf;
    std::vector<standin::SeenBox> seen = boxes.Seen();
    std::set<HWND> handles;
    for (size_t i = boxesBefore; i < seen.size(); ++i) {
        ++boxesOf[seen[i].threadId];
        handles.insert(seen[i].box);
    }
    result.boxHandles = handles.size();
    for (int i = 0; i < hostThreads; ++i) {
        result.zeros += calls[i].result == 0;
        result.titled += calls[i].record.newtitle != nullptr;
        result.withBothBoxes += boxesOf[threads[i]->Id()] == 2;
    }
    CloseHandle(go);
    return result;
}

TEST(ConcurrentRuns, SeventyHostThreadsAtOnceLeaveNothingBehind) {
    testing_support::QueryLibraryDouble queries(testing_support::QueryLibrary::Full);
    standin::BoxWatcher boxes;
    testing_support::MonitorCloser closer;
    stress::Counts beforeLoad = stress::Now();
    std::vector<HANDLE> heapsBeforeLoad = stress::ProcessHeapList();
    auto plugin = std::make_unique<testing_support::PluginLibrary>();
    ASSERT_TRUE(plugin->Loaded());
    const void* image = plugin->Module();
    size_t imageSize = stress::ImageSize(plugin->Module());
    stress::ModuleHeaps moduleHeaps(heapsBeforeLoad, stress::ProcessHeapList());
    std::printf("module heaps: %zu, blocks at load: %zu\n", moduleHeaps.Count(),
                moduleHeaps.Usage().blocks);

    // One call first, so that what the system makes on first use is counted
    // in the baseline; its watcher retires before the baseline is taken.
    Round warmUp = RunRound(plugin->run, boxes, -1, 1);
    ASSERT_EQ(warmUp.zeros, 1);
    ASSERT_TRUE(testing_support::WaitUntil(
        [&] { return stress::ThreadsStartedIn(image, imageSize) == 0; }, SettleLimitMs))
        << "the warm-up's watcher retires\n"
        << stress::DescribeThreads();
    Sleep(100);
    stress::Counts loaded = stress::Now();
    testing_support::HeapUsage heapAtBaseline = moduleHeaps.Usage();
    std::printf("after one call: %s; module heap blocks %zu (%zu bytes)\n",
                stress::Compare(beforeLoad, loaded).c_str(), heapAtBaseline.blocks,
                heapAtBaseline.bytes);

    for (int round = 0; round < 2; ++round) {
        Round result = RunRound(plugin->run, boxes, round, HostThreads);
        EXPECT_EQ(result.zeros, HostThreads) << "round " << round << ": calls that returned 0";
        EXPECT_EQ(result.titled, HostThreads) << "round " << round << ": records given a title";
        EXPECT_EQ(result.withBothBoxes, HostThreads) << "round " << round << ": calls whose "
                                                     << "two boxes were seen";
        // What the ended threads held is released by the module's watchers,
        // which then retire: the time it takes is printed.
        DWORD ended = GetTickCount();
        testing_support::HeapUsage heap;
        testing_support::WaitUntil(
            [&] {
                heap = moduleHeaps.Usage();
                return heap.blocks <= heapAtBaseline.blocks &&
                       stress::ThreadsStartedIn(image, imageSize) == 0 &&
                       testing_support::CountWindows() == loaded.windows &&
                       testing_support::CountOpenHandles() <= loaded.handles;
            },
            SettleLimitMs);
        DWORD settleMs = GetTickCount() - ended;
        Sleep(100);
        stress::Counts after = stress::Now();
        std::printf("round %d: %d calls in %lu ms, %d with both boxes seen (%zu box handles); "
                    "back at the baseline %lu ms after the last thread ended: %s (%d of the "
                    "module's); module heap blocks %zu (%zu bytes)\n",
                    round, HostThreads, result.elapsedMs, result.withBothBoxes, result.boxHandles,
                    settleMs, stress::Compare(loaded, after).c_str(),
                    stress::ThreadsStartedIn(image, imageSize), heap.blocks, heap.bytes);
        EXPECT_EQ(heap.blocks, heapAtBaseline.blocks)
            << "round " << round << ": module heap blocks";
        EXPECT_EQ(after.windows, loaded.windows) << "round " << round << ": windows";
        EXPECT_EQ(after.threads, loaded.threads) << "round " << round << ": threads\n"
                                                 << stress::DescribeThreads();
        EXPECT_EQ(after.handles, loaded.handles) << "round " << round << ": handles";
    }

    DWORD start = GetTickCount();
    plugin.reset();
    DWORD unloadMs = GetTickCount() - start;
    Sleep(200); // a thread left in the module's code would crash about now
    stress::Counts afterUnload = stress::Now();
    std::printf("unload: %lu ms; %s\n", unloadMs, stress::Compare(loaded, afterUnload).c_str());
    EXPECT_EQ(GetModuleHandleA("Dovemarl.dll"), nullptr);
    EXPECT_LT(unloadMs, 10000u);
    EXPECT_EQ(stress::ThreadsStartedIn(image, imageSize), 0);
    EXPECT_EQ(stress::ThreadsExecutingIn(image, imageSize), 0);
    EXPECT_EQ(afterUnload.windows, beforeLoad.windows);
    EXPECT_EQ(afterUnload.threads, loaded.threads) << stress::DescribeThreads();
}

} // namespace
