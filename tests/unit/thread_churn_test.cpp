// Thread churn: thousands of short-lived threads that each make per-thread
// state (a text workspace and a thread block with an event queue) and end.
// Handles, threads and private bytes must come back near where they started,
// and the watchers that release the state must keep up.
#include <gtest/gtest.h>

#include <windows.h>

#include <cstdio>
#include <vector>

#include "runtime/heaps.h"
#include "runtime/module.h"
#include "runtime/text_building.h"
#include "runtime/text_workspace.h"
#include "runtime/thread_exit.h"
#include "support/resources.h"
#include "support/wait_until.h"
#include "ui/event_queue.h"
#include "ui/window_codes.h"

namespace {

using namespace dovemarl::runtime;
using testing_support::WaitUntil;

constexpr int ChurnThreads = 10000;
constexpr int WarmUpThreads = 200;
constexpr int AtATime = 8;
// The system makes a few handles and threads of its own at moments of its
// choosing; a leak per thread shows up as thousands here.
constexpr int HandleSlack = 8;
constexpr int ThreadSlack = 2;
// What one more thread costs: under Wine about 2 MiB whatever stack it asks for.
// The system gives an ended thread's stack back when the next thread ends, so
// one may still be held.
constexpr SIZE_T ThreadMemory = 4 * 1024 * 1024;
constexpr SIZE_T PrivateBytesSlack = 2 * 1024 * 1024 + ThreadMemory;

volatile LONG FailedThreads = 0;

// What each churn thread does: build a text, queue and take an event.
DWORD WINAPI UseThreadState(void*) {
    int32_t mark = TextMark();
    AppendText("churn ");
    AppendDecimal(GetCurrentThreadId());
    bool built = TextBase()[mark] == 'c';
    TextRelease(mark);
    dovemarl::ui::AppendEvent({dovemarl::ui::EventControl, 1, 2, 0, 0});
    dovemarl::ui::Event event = {};
    bool taken = dovemarl::ui::TakeEvent(&event) && event.control == 1;
    if (!built || !taken || CurrentTextWorkspace() == nullptr) {
        InterlockedIncrement(&FailedThreads);
    }
    return 0;
}

HANDLE StartChurnThread() {
    return CreateThread(nullptr, 0, UseThreadState, nullptr, 0, nullptr);
}

void RunOneAfterAnother(int threads) {
    for (int i = 0; i < threads; ++i) {
        HANDLE thread = StartChurnThread();
        ASSERT_NE(thread, nullptr) << "thread " << i;
        WaitForSingleObject(thread, INFINITE);
        CloseHandle(thread);
    }
}

// Keeps AtATime threads running, starting a new one whenever one ends.
void RunSeveralAtATime(int threads) {
    HANDLE running[AtATime] = {};
    int started = 0;
    int live = 0;
    for (; live < AtATime && started < threads; ++live, ++started) {
        running[live] = StartChurnThread();
        ASSERT_NE(running[live], nullptr);
    }
    while (live > 0) {
        DWORD result = WaitForMultipleObjects(static_cast<DWORD>(live), running, FALSE, INFINITE);
        ASSERT_LT(result, WAIT_OBJECT_0 + static_cast<DWORD>(live));
        DWORD index = result - WAIT_OBJECT_0;
        CloseHandle(running[index]);
        if (started < threads) {
            running[index] = StartChurnThread();
            ASSERT_NE(running[index], nullptr);
            ++started;
        } else {
            running[index] = running[--live];
        }
    }
}

// Every watched thread has been released and every watcher has retired.
bool WatchersGone() {
    int parked = 0;
    return WatchedThreadCounts(nullptr, 0) == 0 && EndedWatcherCount(&parked) == 0;
}

long KiBGrowth(SIZE_T before, SIZE_T after) {
    return (static_cast<long>(after) - static_cast<long>(before)) / 1024;
}

struct Figures {
    int handles;
    int threads;
    testing_support::PrivateMemory memory;
    testing_support::HeapUsage mainHeap;
    testing_support::HeapUsage textHeap;
};

Figures Measure() {
    return {testing_support::CountOpenHandles(), testing_support::CountThreads(),
            testing_support::MeasurePrivateMemory(), testing_support::UsageOf(MainHeap),
            testing_support::UsageOf(TextHeap)};
}

class ThreadChurnTest : public testing::TestWithParam<bool> {
  protected:
    void SetUp() override {
        StopModule();
        StartModule(GetModuleHandleA(nullptr));
        FailedThreads = 0;
    }
    void TearDown() override {
        StopModule();
        StartModule(GetModuleHandleA(nullptr));
    }
    void Run(int threads) {
        if (GetParam()) {
            RunSeveralAtATime(threads);
        } else {
            RunOneAfterAnother(threads);
        }
    }
};

TEST_P(ThreadChurnTest, StateOfTenThousandThreadsIsReleasedWithoutGrowth) {
    const char* mode = GetParam() ? "8 at a time" : "one after another";
    int threadsAtStart = testing_support::CountThreads();
    auto settled = [&] {
        return WatchersGone() && testing_support::CountThreads() <= threadsAtStart;
    };
    Run(WarmUpThreads);
    ASSERT_TRUE(WaitUntil(settled)) << "watchers gone after the warm-up";
    Figures before = Measure();
    int retiredBefore = RetiredWatcherCount();

    DWORD start = GetTickCount();
    Run(ChurnThreads);
    DWORD elapsed = GetTickCount() - start;
    ASSERT_TRUE(WaitUntil(settled)) << "watchers gone after the churn";
    DWORD settleMs = GetTickCount() - start - elapsed;
    Figures after = Measure();
    // A retired watcher's record and thread handle stay until the next
    // registration (in the DLL, its thread-detach notification frees them).
    int retiredAfter = RetiredWatcherCount();
    std::printf("[ churn    ] %d threads %s in %lu ms, watchers gone %lu ms later: handles "
                "%d -> %d, threads %d -> %d, private committed %lu -> %lu KiB (%+ld), private "
                "address space %lu -> %lu KiB (%+ld), PrivateUsage %lu -> %lu KiB, retired "
                "watchers not yet given back %d -> %d\n",
                ChurnThreads, mode, static_cast<unsigned long>(elapsed),
                static_cast<unsigned long>(settleMs), before.handles, after.handles, before.threads,
                after.threads, static_cast<unsigned long>(before.memory.committed / 1024),
                static_cast<unsigned long>(after.memory.committed / 1024),
                KiBGrowth(before.memory.committed, after.memory.committed),
                static_cast<unsigned long>(before.memory.addressSpace / 1024),
                static_cast<unsigned long>(after.memory.addressSpace / 1024),
                KiBGrowth(before.memory.addressSpace, after.memory.addressSpace),
                static_cast<unsigned long>(before.memory.reported / 1024),
                static_cast<unsigned long>(after.memory.reported / 1024), retiredBefore,
                retiredAfter);
    EXPECT_EQ(FailedThreads, 0) << "threads whose state did not work";
    EXPECT_LE(after.handles - retiredAfter, before.handles - retiredBefore + HandleSlack)
        << "open handles";
    EXPECT_LE(after.threads, before.threads + ThreadSlack) << "threads";
    EXPECT_LE(after.memory.committed, before.memory.committed + PrivateBytesSlack)
        << "private bytes committed";
    EXPECT_LE(after.memory.addressSpace, before.memory.addressSpace + PrivateBytesSlack)
        << "private address space";
    EXPECT_EQ(after.mainHeap.blocks - retiredAfter, before.mainHeap.blocks - retiredBefore)
        << "MainHeap blocks, with " << retiredAfter << " retired watchers' records";
    EXPECT_EQ(after.textHeap, before.textHeap)
        << "TextHeap blocks " << before.textHeap.blocks << " -> " << after.textHeap.blocks;
}

INSTANTIATE_TEST_SUITE_P(Modes, ThreadChurnTest, testing::Values(false, true),
                         [](const testing::TestParamInfo<bool>& info) {
                             return info.param ? "EightAtATime" : "OneAfterAnother";
                         });

} // namespace
