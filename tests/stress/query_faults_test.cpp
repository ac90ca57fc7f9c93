// Query libraries that break the contract: absent, partial, no title, a title
// at an unreadable address, a 1 MiB title, an entry point that refuses the
// load, a query that takes minutes, and queries with the wrong calling
// convention or argument count. The run shows what it could learn,
// returns 0 and leaves nothing loaded; a slow query blocks only the calling
// thread's run, as the host contract says.
#include <gtest/gtest.h>

#include <string>

#include "box_watcher.h"
#include "doubles/query_fault_double.h"
#include "stress/stress_support.h"
#include "support/example_record.h"
#include "support/monitor_closer.h"
#include "support/plugin_library.h"
#include "support/query_library.h"
#include "support/windows.h"

namespace {

using standin::SeenBox;
using testing_support::GameInfo;

constexpr int BoxTextId = 0xFFFF;
constexpr char Heading[] = "###Data retrieved from Sableroot.dll###\r\n";
constexpr char FullNumbers[] = "Pid: 4242\r\nHwnd: -2147478988\r\nX/Y: 11/-22\r\n"
                               "Width/Height: 333/444";

struct Fault {
    const char* folder; // under tests/doubles; null: no library at all
    std::string title;  // expected in the second box
    std::string numbers;
    long loads; // entry point calls the double logged
};

class QueryFaults : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(plugin_.Loaded()); }
    testing_support::PluginLibrary plugin_;
    testing_support::MonitorCloser closer_;
};

TEST_F(QueryFaults, EachFaultGivesTheReportItCan) {
    const Fault faults[] = {
        {nullptr, "", "Pid: 0\r\nHwnd: 0\r\nX/Y: 0/0\r\nWidth/Height: 0/0", 0},
        {"partial", "", "Pid: 4242\r\nHwnd: 0\r\nX/Y: 11/0\r\nWidth/Height: 0/444", 1},
        {"zero_title", "", FullNumbers, 1},
        {"unreadable_title", "", FullNumbers, 1},
        {"huge_title", std::string(query_fault::HugeTitleBytes, '?'), FullNumbers, 1},
        {"refuses_load", "", "Pid: 0\r\nHwnd: 0\r\nX/Y: 0/0\r\nWidth/Height: 0/0", 1},
    };
    for (const Fault& fault : faults) {
        const char* name = fault.folder != nullptr ? fault.folder : "absent";
        auto queries = fault.folder != nullptr
                           ? std::make_unique<testing_support::QueryLibraryDouble>(fault.folder)
                           : std::make_unique<testing_support::QueryLibraryDouble>(
                                 testing_support::QueryLibrary::Absent);
        std::string secondText;
        LRESULT secondLength = 0;
        standin::BoxWatcher boxes([&](const SeenBox& box) {
            if (box.title == "Dovemarl Debug 2") {
                secondText = box.text;
                secondLength = SendMessageA(GetDlgItem(box.box, BoxTextId), WM_GETTEXTLENGTH, 0, 0);
            }
        });
        GameInfo info = testing_support::ExampleRecord();
        DWORD start = GetTickCount();
        EXPECT_EQ(plugin_.run(&info), 0) << name;
        std::printf("%-16s run %5lu ms, second box %ld bytes, library loads %ld, frees %ld\n", name,
                    GetTickCount() - start, static_cast<long>(secondLength), queries->Loads(),
                    queries->Frees());
        std::string tail = "'\r\n" + fault.numbers;
        if (fault.title.size() > 1000) {
            // How much of such a text a box shows is the system's affair
            // (Wine's boxes keep the text's length modulo 65536): the call
            // ends, and the box is shown.
            EXPECT_GT(secondLength, 0) << name;
        } else {
            EXPECT_EQ(secondText, Heading + std::string("Title: '") + fault.title + tail) << name;
        }
        EXPECT_EQ(queries->Loads(), fault.loads) << name;
        EXPECT_EQ(queries->Frees(), fault.loads) << name << ": released within the call";
        EXPECT_EQ(GetModuleHandleA("sableroot.dll"), nullptr) << name;
    }
}

// Queries that pop nothing (cdecl) or pop 0 or 8 bytes instead of 4 (stdcall
// with the wrong argument count, some scribbling over their argument slots):
// each answer is used as if the query had kept the convention, and the host
// goes on through the monitor, the farewell and the unload.
TEST(QueryConventions, WrongConventionAnswersAreUsedAndTheHostGoesOn) {
    for (const char* folder : {"cdecl_query", "wrong_arity_query"}) {
        testing_support::QueryLibraryDouble queries(folder);
        std::vector<SeenBox> seen;
        size_t monitors = 0;
        int32_t runResult = -1, unloadResult = -1;
        {
            testing_support::PluginLibrary plugin;
            ASSERT_TRUE(plugin.Loaded()) << folder;
            standin::BoxWatcher boxes;
            testing_support::MonitorCloser closer;
            GameInfo info = testing_support::ExampleRecord();
            runResult = plugin.run(&info);
            monitors = closer.Seen().size();
            unloadResult = plugin.unload(0);
            seen = boxes.Seen();
        }
        std::printf("%-18s run %d, unload %d, boxes %zu, monitors %zu, second box:\n%s\n", folder,
                    runResult, unloadResult, seen.size(), monitors,
                    seen.size() > 1 ? seen[1].text.c_str() : "(none)");
        EXPECT_EQ(runResult, 0) << folder;
        EXPECT_EQ(unloadResult, 0) << folder;
        ASSERT_EQ(seen.size(), 3u) << folder << ": two reports and the farewell";
        EXPECT_EQ(seen[1].title, "Dovemarl Debug 2") << folder;
        EXPECT_EQ(seen[1].text, Heading + std::string("Title: 'Query Title'\r\n") + FullNumbers)
            << folder;
        EXPECT_EQ(monitors, 1u) << folder << ": the monitor was shown and closed";
        EXPECT_EQ(queries.CalledNames().size(), 7u) << folder;
        EXPECT_EQ(queries.Frees(), 1) << folder;
        EXPECT_EQ(GetModuleHandleA("Dovemarl.dll"), nullptr) << folder;
    }
}

struct SlowCall {
    testing_support::PluginRun run;
    int32_t result;
    GameInfo record;
};

void RunSlow(void* argument) {
    auto* call = static_cast<SlowCall*>(argument);
    call->result = call->run(&call->record);
}

// The first query of the process blocks until released. Meanwhile its
// thread stays in the query, and another thread's whole run (the same
// library, whose later queries answer at once) goes through.
TEST_F(QueryFaults, QueryThatTakesMinutesBlocksOnlyItsOwnRun) {
    testing_support::QueryLibraryDouble queries("slow_query");
    HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, query_fault::SlowQueryEntered);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, query_fault::SlowQueryRelease);
    standin::BoxWatcher boxes;
    SlowCall slow = {plugin_.run, -1, testing_support::ExampleRecord()};
    stress::HostThread blocked(RunSlow, &slow);
    ASSERT_EQ(WaitForSingleObject(entered, 30000), WAIT_OBJECT_0) << "the slow query began";

    // The thread stays inside the query for as long as it is kept there.
    bool stillBlocked = !blocked.Join(3000);
    size_t boxesWhileBlocked = boxes.Seen().size();

    // Another host thread runs from start to end meanwhile.
    SlowCall other = {plugin_.run, -1, testing_support::ExampleRecord()};
    DWORD start = GetTickCount();
    {
        stress::HostThread second(RunSlow, &other);
        EXPECT_TRUE(second.Join(60000));
    }
    DWORD otherMs = GetTickCount() - start;
    bool blockedThroughout = !blocked.Join(0);
    std::printf("blocked in the query for 3 s: %d; another run meanwhile: %lu ms, result %d\n",
                stillBlocked, otherMs, other.result);

    SetEvent(release);
    EXPECT_TRUE(blocked.Join(60000)) << "the run ends once the query answers";
    EXPECT_TRUE(stillBlocked);
    EXPECT_TRUE(blockedThroughout);
    EXPECT_EQ(boxesWhileBlocked, 1u) << "only the first box before the query";
    EXPECT_EQ(other.result, 0);
    EXPECT_EQ(slow.result, 0);
    std::vector<SeenBox> seen = boxes.Seen();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen.back().text, Heading + std::string("Title: 'Query Title'\r\n") + FullNumbers)
        << "the slow run's second box";
    EXPECT_EQ(queries.Loads(), 1) << "one load for both runs";
    EXPECT_EQ(queries.Frees(), 1);
    CloseHandle(entered);
    CloseHandle(release);
}

// A run whose thread stops pumping messages after pluginrun returns, until
// the test lets it end.
struct StoppedRun {
    SlowCall call;
    HANDLE returned;
    HANDLE end;
};

void RunThenStopPumping(void* argument) {
    auto* run = static_cast<StoppedRun*>(argument);
    RunSlow(&run->call);
    SetEvent(run->returned);
    WaitForSingleObject(run->end, 120000);
}

// The class names of a thread's top-level windows, and how many there are.
struct TopLevelWindows {
    std::string classes;
    unsigned count = 0;
};

BOOL CALLBACK CollectClassName(HWND window, LPARAM found) {
    auto* windows = reinterpret_cast<TopLevelWindows*>(found);
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    windows->classes.append(name).append(" ");
    ++windows->count;
    return TRUE;
}

TopLevelWindows TopLevelWindowsOf(DWORD threadId) {
    TopLevelWindows windows;
    EnumThreadWindows(threadId, CollectClassName, reinterpret_cast<LPARAM>(&windows));
    return windows;
}

// A host thread pumps no messages while it is inside a query, nor after
// pluginrun returns if it then does other work. The plug-in's post window on
// it is message-only, in both states: not among the top-level windows, which
// a broadcast visits one by one, waiting for each window's thread to answer.
// What a broadcast still waits on then are the thread's other top-level
// windows, such as the monitor, which stays until the unload, or the system's
// default IME window: each holds it up for its full time-out, and nothing else
// of the thread may.
TEST_F(QueryFaults, PostWindowOfAThreadThatDoesNotPumpIsNoTopLevelWindow) {
    constexpr char PostClass[] = "PostEventClass";
    testing_support::QueryLibraryDouble queries("slow_query");
    HANDLE entered = CreateEventA(nullptr, TRUE, FALSE, query_fault::SlowQueryEntered);
    HANDLE release = CreateEventA(nullptr, TRUE, FALSE, query_fault::SlowQueryRelease);
    standin::BoxWatcher boxes;
    StoppedRun run = {{plugin_.run, -1, testing_support::ExampleRecord()},
                      CreateEventA(nullptr, TRUE, FALSE, nullptr),
                      CreateEventA(nullptr, TRUE, FALSE, nullptr)};
    stress::HostThread host(RunThenStopPumping, &run);
    DWORD hostId = GetThreadId(host.Handle());
    EXPECT_EQ(WaitForSingleObject(entered, 30000), WAIT_OBJECT_0) << "the slow query began";

    // The run made its post window on the host thread before it asked the
    // query library anything.
    std::vector<HWND> posts = testing_support::MessageOnlyWindowsOfClass(PostClass);
    ASSERT_EQ(posts.size(), 1u) << "message-only post windows inside the query";
    EXPECT_EQ(GetWindowThreadProcessId(posts[0], nullptr), hostId);
    auto check = [&](const char* state) {
        TopLevelWindows windows = TopLevelWindowsOf(hostId);
        bool answered = false;
        DWORD broadcastMs = testing_support::TimedBroadcast(&answered);
        std::printf("%s: broadcast %lu ms; the thread's %u top-level windows: %s\n", state,
                    broadcastMs, windows.count, windows.classes.c_str());
        EXPECT_LT(broadcastMs, windows.count * testing_support::BroadcastLimitMs +
                                   testing_support::BroadcastLimitMs / 2)
            << state << ": the broadcast waited on more than the thread's " << windows.count
            << " top-level windows";
        EXPECT_EQ(testing_support::MessageOnlyWindowsOfClass(PostClass), posts)
            << state << ": the post window is the same one, and still message-only";
        EXPECT_EQ(testing_support::TopLevelWindowsOfClass(PostClass).size(), 0u) << state;
        EXPECT_EQ(windows.classes.find(PostClass), std::string::npos) << state;
    };
    check("inside the query");
    SetEvent(release);
    EXPECT_EQ(WaitForSingleObject(run.returned, 60000), WAIT_OBJECT_0);
    check("after the run");

    SetEvent(run.end);
    EXPECT_TRUE(host.Join(60000));
    CloseHandle(run.returned);
    CloseHandle(run.end);
    CloseHandle(entered);
    CloseHandle(release);
}

} // namespace
