// Per-thread state and its release after the thread ends: watcher threads,
// their capacity, hook order, thread blocks, and that nothing is left behind.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <functional>
#include <memory>
#include <mutex> // std::lock_guard
#include <vector>

#include "runtime/heaps.h"
#include "runtime/module.h"
#include "runtime/text_building.h"
#include "runtime/text_workspace.h"
#include "runtime/thread_area.h"
#include "runtime/thread_exit.h"
#include "support/handle_free_lock.h"
#include "doctor/resource_census.h"
#include "support/resources.h"
#include "support/wait_until.h"

namespace {

using namespace dovemarl::runtime;
using testing_support::WaitUntil;

// What the hooks did: a tag and the thread each ran on.
struct HookRun {
    uintptr_t tag;
    DWORD thread;
};
testing_support::HandleFreeLock LogLock;
std::vector<HookRun> Log;

void RecordHook(uintptr_t tag) {
    std::lock_guard lock(LogLock);
    Log.push_back({tag, GetCurrentThreadId()});
}

size_t LogSize() {
    std::lock_guard lock(LogLock);
    return Log.size();
}

std::vector<uintptr_t> LoggedTags() {
    std::lock_guard lock(LogLock);
    std::vector<uintptr_t> tags;
    for (const HookRun& run : Log) {
        tags.push_back(run.tag);
    }
    return tags;
}

std::vector<int> WatcherCounts() {
    int counts[16] = {};
    int watchers = WatchedThreadCounts(counts, 16);
    return std::vector<int>(counts, counts + std::min(watchers, 16));
}

// A thread that runs its work, then waits until it is let go.
class HeldThread {
  public:
    explicit HeldThread(std::function<void()> work) : work_(std::move(work)) {
        done_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        go_ = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        thread_ = CreateThread(nullptr, 0, Run, this, 0, &id_);
        WaitForSingleObject(done_, INFINITE);
    }
    ~HeldThread() {
        End();
        CloseHandle(thread_);
        CloseHandle(done_);
        CloseHandle(go_);
    }
    void End() {
        SetEvent(go_);
        WaitForSingleObject(thread_, INFINITE);
    }
    DWORD Id() const { return id_; }

  private:
    static DWORD WINAPI Run(void* self) {
        auto* held = static_cast<HeldThread*>(self);
        held->work_();
        SetEvent(held->done_);
        WaitForSingleObject(held->go_, INFINITE);
        return 0;
    }
    std::function<void()> work_;
    HANDLE thread_ = nullptr, done_ = nullptr, go_ = nullptr;
    DWORD id_ = 0;
};

void RunOnThread(std::function<void()> work) {
    HeldThread thread(std::move(work));
}

DWORD WINAPI RunFunction(void* work) {
    (*static_cast<std::function<void()>*>(work))();
    return 0;
}

// Every test starts from a freshly started module, as after a new load. An
// ended watcher waits a minute to be taken up, so that a test decides when
// one retires; the module's own limit is restored after each test.
constexpr uint32_t ModuleIdleLimitMs = 250;
constexpr uint32_t TestIdleLimitMs = 60000;

class ThreadExitTest : public testing::Test {
  protected:
    void SetUp() override {
        StopModule();
        StartModule(GetModuleHandleA(nullptr));
        SetWatcherIdleLimit(TestIdleLimitMs);
        std::lock_guard lock(LogLock);
        Log.clear();
    }
    void TearDown() override {
        StopModule();
        StartModule(GetModuleHandleA(nullptr));
        SetWatcherIdleLimit(ModuleIdleLimitMs);
    }
};

// A hook that keeps a handle of the watcher thread it runs on.
HANDLE WatcherThread = nullptr;
void KeepWatcherThread(uintptr_t) {
    DuplicateHandle(GetCurrentProcess(), GetCurrentThread(), GetCurrentProcess(), &WatcherThread,
                    SYNCHRONIZE | THREAD_QUERY_INFORMATION, FALSE, 0);
    RecordHook(1);
}

DWORD ExitCodeOf(HANDLE thread) {
    DWORD code = STILL_ACTIVE;
    GetExitCodeThread(thread, &code);
    return code;
}

TEST_F(ThreadExitTest, HooksRunOnAWatcherAfterTheThreadEndsNewestFirst) {
    DWORD registering = 0;
    {
        HeldThread thread([&] {
            registering = GetCurrentThreadId();
            OnThreadExit(RecordHook, 1);
            OnThreadExit(RecordHook, 2);
        });
        Sleep(50);
        EXPECT_EQ(LogSize(), 0u) << "no hook runs while the thread lives";
        EXPECT_EQ(WatcherCounts(), std::vector<int>{1})
            << "a thread registering twice has one entry";
    }
    ASSERT_TRUE(WaitUntil([] { return LogSize() == 2; })) << "hooks ran: " << LogSize();
    EXPECT_EQ(LoggedTags(), (std::vector<uintptr_t>{2, 1}));
    EXPECT_NE(Log[0].thread, registering);
    EXPECT_EQ(Log[0].thread, Log[1].thread) << "both on the same watcher";
}

TEST_F(ThreadExitTest, LastThreadEndsItsWatcherAndALaterOneTakesItUp) {
    RunOnThread([] { OnThreadExit(RecordHook, 1); });
    ASSERT_TRUE(WaitUntil([] { return LogSize() == 1; }));
    EXPECT_TRUE(WaitUntil([] { return WatcherCounts().empty(); })) << "watchers left";
    int parked = 0;
    EXPECT_TRUE(WaitUntil([&] { return EndedWatcherCount(&parked) == 1 && parked == 1; }))
        << "the ended watcher parks";

    HeldThread later([] { OnThreadExit(RecordHook, 2); });
    EXPECT_EQ(WatcherCounts(), std::vector<int>{1});
    EXPECT_EQ(EndedWatcherCount(&parked), 0)
        << "the parked watcher was taken up by the registration";
    later.End();
    ASSERT_TRUE(WaitUntil([] { return LogSize() == 2; }));
    // Taken up rather than ended and replaced: ending a thread from outside
    // skips every DLL's thread-detach notification and, here, leaks its stack.
    EXPECT_EQ(Log[1].thread, Log[0].thread) << "the later hook ran on the same watcher thread";
}

// A watcher that nobody takes up ends by returning from its own procedure
// (exit code 0, where a stop's ending gives 1), so that the system gives its
// stack back; a later registration starts a fresh one.
TEST_F(ThreadExitTest, IdleWatcherRetiresAndALaterRegistrationStartsAnother) {
    constexpr uint32_t ShortIdleLimitMs = 50;
    SetWatcherIdleLimit(ShortIdleLimitMs);
    RunOnThread([] { OnThreadExit(KeepWatcherThread, 0); }); // warm-up: first-use handles
    ASSERT_TRUE(WaitUntil([] { return LogSize() == 1; }));
    ASSERT_EQ(WaitForSingleObject(WatcherThread, 10000), WAIT_OBJECT_0);
    CloseHandle(WatcherThread);
    int threadsBefore = testing_support::CountThreads();
    // A retired watcher's record and thread handle wait for the next
    // registration here (in the DLL its thread-detach notification frees them).
    int handlesBefore = testing_support::CountOpenHandles() - RetiredWatcherCount();
    auto openBefore = standin::OpenHandles();

    RunOnThread([] { OnThreadExit(KeepWatcherThread, 0); });
    DWORD ended = GetTickCount();
    ASSERT_TRUE(WaitUntil([] { return LogSize() == 2; }));
    ASSERT_EQ(WaitForSingleObject(WatcherThread, 10000), WAIT_OBJECT_0) << "the watcher ends";
    DWORD idle = GetTickCount() - ended;
    EXPECT_EQ(ExitCodeOf(WatcherThread), 0u) << "it returned rather than being ended";
    EXPECT_GE(idle + 20, ShortIdleLimitMs) << "it waited to be taken up first";
    int parked = 0;
    EXPECT_EQ(EndedWatcherCount(&parked), 0);
    EXPECT_TRUE(WatcherCounts().empty());
    EXPECT_EQ(testing_support::CountThreads(), threadsBefore) << "threads";
    HANDLE first = WatcherThread;

    {
        HeldThread later([] { OnThreadExit(RecordHook, 3); });
        EXPECT_EQ(WatcherCounts(), std::vector<int>{1}) << "a new watcher";
        EXPECT_EQ(RetiredWatcherCount(), 0) << "the retired one's record is given back";
    }
    ASSERT_TRUE(WaitUntil([] { return LogSize() == 3; }));
    EXPECT_NE(Log[2].thread, Log[1].thread) << "the later hook ran on another watcher";
    CloseHandle(first);
    EXPECT_TRUE(WaitUntil([&] {
        return testing_support::CountThreads() == threadsBefore && EndedWatcherCount(&parked) == 0;
    })) << "threads "
        << testing_support::CountThreads() << ", expected " << threadsBefore;
    EXPECT_EQ(testing_support::CountOpenHandles() - RetiredWatcherCount(), handlesBefore)
        << "open handles; new: " << testing_support::DescribeHandlesNotIn(openBefore)
        << "; retired watchers " << RetiredWatcherCount();
}

// Stops that meet watchers at every step of retiring: parked, deciding,
// returning or gone. Each ends cleanly and leaves nothing behind.
TEST_F(ThreadExitTest, StopsWhileWatchersRetireLeaveNothingBehind) {
    constexpr int Rounds = 40;
    int threadsBefore = testing_support::CountThreads();
    int handlesBefore = testing_support::CountOpenHandles();
    for (int round = 0; round < Rounds; ++round) {
        SetWatcherIdleLimit(static_cast<uint32_t>(round % 4));
        RunOnThread([] { OnThreadExit(RecordHook, 1); });
        Sleep(static_cast<DWORD>(round % 6));
        StopModule();
        StartModule(GetModuleHandleA(nullptr));
    }
    EXPECT_TRUE(WaitUntil([&] { return testing_support::CountThreads() == threadsBefore; }))
        << "threads " << testing_support::CountThreads() << ", expected " << threadsBefore;
    EXPECT_EQ(testing_support::CountOpenHandles(), handlesBefore) << "open handles";
    EXPECT_LE(LogSize(), static_cast<size_t>(Rounds)) << "no hook ran twice";
}

TEST_F(ThreadExitTest, SixtyThirdThreadStartsASecondWatcherAtTheHead) {
    std::vector<std::unique_ptr<HeldThread>> threads;
    for (uintptr_t i = 0; i < 62; ++i) {
        threads.push_back(std::make_unique<HeldThread>([i] { OnThreadExit(RecordHook, i); }));
    }
    EXPECT_EQ(WatcherCounts(), std::vector<int>{62});
    threads.push_back(std::make_unique<HeldThread>([] { OnThreadExit(RecordHook, 62); }));
    EXPECT_EQ(WatcherCounts(), (std::vector<int>{1, 62})) << "new watcher at the head";
    threads.push_back(std::make_unique<HeldThread>([] { OnThreadExit(RecordHook, 63); }));
    EXPECT_EQ(WatcherCounts(), (std::vector<int>{2, 62})) << "the head takes later threads";

    // A thread of the full watcher ends: its place is free again, but the
    // newer watcher comes first in the list and still has room.
    threads[0]->End();
    ASSERT_TRUE(WaitUntil([] { return LogSize() == 1; }));
    EXPECT_EQ(WatcherCounts(), (std::vector<int>{2, 61}));
    threads.push_back(std::make_unique<HeldThread>([] { OnThreadExit(RecordHook, 64); }));
    EXPECT_EQ(WatcherCounts(), (std::vector<int>{3, 61}));

    threads.clear();
    ASSERT_TRUE(WaitUntil([] { return LogSize() == 65; })) << "hooks ran: " << LogSize();
    EXPECT_TRUE(WaitUntil([] { return WatcherCounts().empty(); }));
    auto tags = LoggedTags();
    std::sort(tags.begin(), tags.end());
    for (uintptr_t i = 0; i < tags.size(); ++i) {
        EXPECT_EQ(tags[i], i) << "every thread's hook ran exactly once";
    }
}

TEST_F(ThreadExitTest, ReusedThreadIdIsWatchedAnew) {
    DWORD firstId = 0;
    RunOnThread([&] {
        firstId = GetCurrentThreadId();
        OnThreadExit(RecordHook, 1);
    });
    ASSERT_TRUE(WaitUntil([] { return LogSize() == 1; }));
    ASSERT_TRUE(WaitUntil([] { return WatcherCounts().empty(); }));
    // The system hands out ids again once their threads are gone; look for a
    // thread that receives the same id.
    bool reused = false;
    for (int attempt = 0; attempt < 500 && !reused; ++attempt) {
        RunOnThread([&] {
            if (GetCurrentThreadId() == firstId) {
                reused = true;
                OnThreadExit(RecordHook, 2);
            }
        });
    }
    if (!reused) {
        GTEST_SKIP() << "the system did not reuse thread id " << firstId;
    }
    EXPECT_TRUE(WaitUntil([] { return LogSize() == 2; })) << "the new thread's hook ran";
}

// Stopping soon after a registration started a watcher, over and over: each
// watcher is ended and leaves no thread or handle behind. (The registration
// returns only once its watcher runs, so no stop meets one still inside the
// system's thread start-up.)
TEST_F(ThreadExitTest, StopSoonAfterAWatcherStartedEndsIt) {
    constexpr int Rounds = 50;
    int threadsBefore = testing_support::CountThreads();
    int handlesBefore = testing_support::CountOpenHandles();
    auto memoryBefore = testing_support::MeasurePrivateMemory();
    for (int round = 0; round < Rounds; ++round) {
        HeldThread thread([] { OnThreadExit(RecordHook, 1); });
        Sleep(20);
        StopModule();
        StartModule(GetModuleHandleA(nullptr));
    }
    EXPECT_EQ(LogSize(), 0u) << "no hook runs after a stop";
    EXPECT_TRUE(WaitUntil([&] { return testing_support::CountThreads() == threadsBefore; }))
        << "threads " << testing_support::CountThreads() << ", expected " << threadsBefore;
    EXPECT_EQ(testing_support::CountOpenHandles(), handlesBefore) << "open handles";
    // Each stop ends its watcher from outside, which this system may not
    // clean up after; the figure shows what that costs.
    auto memoryAfter = testing_support::MeasurePrivateMemory();
    std::printf(
        "[ stop     ] %d watchers ended by a stop: private address space %+ld KiB, "
        "committed %+ld KiB\n",
        Rounds,
        (static_cast<long>(memoryAfter.addressSpace) -
         static_cast<long>(memoryBefore.addressSpace)) /
            1024,
        (static_cast<long>(memoryAfter.committed) - static_cast<long>(memoryBefore.committed)) /
            1024);
}

TEST_F(ThreadExitTest, FailedWaitDropsTheBrokenEntryAndKeepsWatching) {
    HeldThread broken([] { OnThreadExit(RecordHook, 1); });
    HeldThread healthy([] { OnThreadExit(RecordHook, 2); });
    HeldThread third([] { OnThreadExit(RecordHook, 3); });
    ASSERT_EQ(WatcherCounts(), std::vector<int>{3});
    // Close the watcher's handle of one thread behind its back (and create no
    // handle afterwards, which could take the closed value). The end of
    // another thread wakes the watcher, whose next wait then fails.
    HANDLE handle = WatchedThreadHandle(broken.Id());
    ASSERT_NE(handle, nullptr);
    CloseHandle(handle);
    healthy.End();
    ASSERT_TRUE(WaitUntil([] { return LogSize() == 1; }))
        << "hooks ran " << LogSize() << "; watched " << testing::PrintToString(WatcherCounts())
        << "; still watched: broken " << WatchedThreadHandle(broken.Id()) << ", healthy "
        << WatchedThreadHandle(healthy.Id()) << ", third " << WatchedThreadHandle(third.Id());
    EXPECT_TRUE(WaitUntil([] { return WatcherCounts() == std::vector<int>{1}; }))
        << "the broken entry is dropped, the third thread stays watched";

    // The watcher is not spinning: the process stays nearly idle.
    FILETIME creation, exit, kernelBefore, userBefore, kernelAfter, userAfter;
    GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernelBefore, &userBefore);
    Sleep(500);
    GetProcessTimes(GetCurrentProcess(), &creation, &exit, &kernelAfter, &userAfter);
    auto ticks = [](FILETIME t) { return (uint64_t{t.dwHighDateTime} << 32) | t.dwLowDateTime; };
    uint64_t busy = ticks(kernelAfter) - ticks(kernelBefore) + ticks(userAfter) - ticks(userBefore);
    EXPECT_LT(busy / 10000, 250u) << "milliseconds of CPU in 500 ms of waiting";

    third.End();
    EXPECT_TRUE(WaitUntil([] { return LogSize() == 2; }));
    broken.End();
    Sleep(50);
    EXPECT_EQ(LoggedTags(), (std::vector<uintptr_t>{2, 3}))
        << "the dropped thread's hook never runs";
}

// Areas registered like start-up does, with hooks that log their order.
void InitA(void* area) {
    RecordHook(0xA1), *static_cast<uint32_t*>(area) = 0xA;
}
void ReleaseA(void*) {
    RecordHook(0xA2);
}
void InitC(void* area) {
    RecordHook(0xC1), *static_cast<uint32_t*>(area) = 0xC;
}
void ReleaseC(void*) {
    RecordHook(0xC2);
}
void ReleaseD(void*) {
    RecordHook(0xD2);
}

TEST_F(ThreadExitTest, ThreadBlocksRunInitAndReleaseHooksNewestAreaFirst) {
    int32_t a = RegisterThreadArea(5, InitA, ReleaseA);
    int32_t b = RegisterThreadArea(3, nullptr, nullptr);
    int32_t c = RegisterThreadArea(8, InitC, ReleaseC);
    int32_t d = RegisterThreadArea(4, nullptr, ReleaseD);
    // After the areas the module's own services registered at start-up.
    EXPECT_EQ(a % 4, 0);
    EXPECT_EQ(b - a, 8) << "sizes round up to multiples of 4";
    EXPECT_EQ(c - a, 12);
    EXPECT_EQ(d - a, 20);
    EXPECT_EQ(LoggedTags(), (std::vector<uintptr_t>{0xA1, 0xC1}))
        << "init runs at once for the registering thread";
    {
        std::lock_guard lock(LogLock);
        Log.clear();
    }

    uint32_t seenA = 0, seenB = 1, seenC = 0;
    bool sameBlock = false;
    RunOnThread([&] {
        seenA = *static_cast<uint32_t*>(ThreadArea(a));
        seenB = *static_cast<uint32_t*>(ThreadArea(b));
        seenC = *static_cast<uint32_t*>(ThreadArea(c));
        sameBlock =
            static_cast<uint8_t*>(ThreadArea(c)) - static_cast<uint8_t*>(ThreadArea(a)) == c - a;
    });
    EXPECT_EQ(seenA, 0xAu);
    EXPECT_EQ(seenB, 0u) << "blocks are zero-filled";
    EXPECT_EQ(seenC, 0xCu);
    EXPECT_TRUE(sameBlock);
    ASSERT_TRUE(WaitUntil([] { return LogSize() == 5; })) << "hooks ran: " << LogSize();
    EXPECT_EQ(LoggedTags(), (std::vector<uintptr_t>{0xC1, 0xA1, 0xD2, 0xC2, 0xA2}));
}

TEST_F(ThreadExitTest, ExistingThreadAreaMakesNothing) {
    int32_t a = RegisterThreadArea(4, InitA, ReleaseA);
    void* seen = reinterpret_cast<void*>(1);
    RunOnThread([&] { seen = ExistingThreadArea(a); });
    EXPECT_EQ(seen, nullptr);
    EXPECT_TRUE(WatcherCounts().empty()) << "no hook was registered";
}

// Many threads make and use their state and end; all of it is released.
TEST_F(ThreadExitTest, HundredsOfThreadsLeaveNothingBehind) {
    int32_t area = RegisterThreadArea(16, InitA, ReleaseA);
    auto useState = [area] {
        ReadyTextWorkspace();
        int32_t mark = TextMark();
        for (int i = 0; i < 200; ++i) {
            AppendDecimal(i);
        }
        TextRelease(mark);
        ThreadArea(area);
    };
    // Batches stay within one watcher, and each batch waits until its watcher
    // has parked, so one parked watcher is left before and after.
    std::function<void()> work = useState;
    auto runBatch = [&](int threads) {
        std::vector<HANDLE> handles;
        for (int i = 0; i < threads; ++i) {
            handles.push_back(CreateThread(nullptr, 0, RunFunction, &work, 0, nullptr));
        }
        WaitForMultipleObjects(static_cast<DWORD>(handles.size()), handles.data(), TRUE, INFINITE);
        for (HANDLE handle : handles) {
            CloseHandle(handle);
        }
        int parked = 0;
        return WaitUntil([&] {
            return WatcherCounts().empty() && EndedWatcherCount(&parked) == 1 && parked == 1;
        });
    };
    ASSERT_TRUE(runBatch(10)) << "warm-up batch";
    auto mainBefore = testing_support::UsageOf(MainHeap);
    auto textBefore = testing_support::UsageOf(TextHeap);
    // The system makes a few handles of its own (a thread, a mutex, a
    // directory), once per process, at a moment of its choosing; a leak grows
    // with every round instead. A round whose count moved is run again.
    int handlesBefore = 0;
    int handlesAfter = 0;
    for (int round = 0; round < 3; ++round) {
        handlesBefore = testing_support::CountOpenHandles();
        for (int batch = 0; batch < 3; ++batch) {
            ASSERT_TRUE(runBatch(50)) << "round " << round << ", batch " << batch;
        }
        handlesAfter = testing_support::CountOpenHandles();
        if (handlesAfter == handlesBefore) {
            break;
        }
    }
    EXPECT_EQ(handlesAfter, handlesBefore) << "open handles";
    auto mainAfter = testing_support::UsageOf(MainHeap);
    auto textAfter = testing_support::UsageOf(TextHeap);
    EXPECT_EQ(mainAfter.blocks, mainBefore.blocks) << "MainHeap blocks";
    EXPECT_EQ(mainAfter.bytes, mainBefore.bytes) << "MainHeap bytes";
    EXPECT_EQ(textAfter.blocks, textBefore.blocks) << "TextHeap blocks";
    EXPECT_EQ(textAfter.bytes, textBefore.bytes) << "TextHeap bytes";
}

// Stopping the module while watched threads live ends the watchers at once;
// the threads may then end without any hook running.
TEST_F(ThreadExitTest, StopEndsWatchersWhileWatchedThreadsLive) {
    int handlesBefore = testing_support::CountOpenHandles();
    {
        std::vector<std::unique_ptr<HeldThread>> threads;
        for (uintptr_t i = 0; i < 70; ++i) {
            threads.push_back(std::make_unique<HeldThread>([i] { OnThreadExit(RecordHook, i); }));
        }
        EXPECT_EQ(WatcherCounts(), (std::vector<int>{8, 62}));
        StopModule();
        StartModule(GetModuleHandleA(nullptr));
        EXPECT_TRUE(WatcherCounts().empty());
    }
    Sleep(100);
    EXPECT_EQ(LogSize(), 0u) << "no hook runs after the stop";
    EXPECT_EQ(testing_support::CountOpenHandles(), handlesBefore) << "open handles";
}

} // namespace
