// pluginrun end to end in a test host: the proposed title, the one-second
// wait, and the two report boxes with and without a query library.
#include <gtest/gtest.h>

#include <climits>
#include <cstdio>
#include <cstring>
#include <string>
#include <thread>
#include <vector>

#include "box_watcher.h"
#include "doctor/dll_risks.h"
#include "support/example_record.h"
#include "support/monitor_closer.h"
#include "support/plugin_library.h"
#include "support/query_library.h"
#include "support/resources.h"

namespace {

using standin::BoxWatcher;
using standin::SeenBox;
using testing_support::ExampleRecord;
using testing_support::GameInfo;
using testing_support::PluginLibrary;
using testing_support::QueryLibrary;
using testing_support::QueryLibraryDouble;

constexpr char ProposedTitle[] = "Tidewarden - Hello from Dovemarl";

class RunTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(plugin_.Loaded()); }

    // Runs the plug-in on info, answering its boxes; returns what they said.
    std::vector<SeenBox> RunAndAnswer(GameInfo* info) {
        BoxWatcher watcher;
        EXPECT_EQ(plugin_.run(info), 0);
        return watcher.Seen();
    }

    PluginLibrary plugin_;
    // Each call ends when its monitor window is asked to close.
    testing_support::MonitorCloser closer_;
};

TEST_F(RunTest, ShowsTheRecordAndTheQueryLibrarysAnswers) {
    QueryLibraryDouble queries(QueryLibrary::Full);
    GameInfo info = ExampleRecord();
    auto boxes = RunAndAnswer(&info);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].title, "Dovemarl Debug 1");
    EXPECT_EQ(boxes[0].text, "###Raw structure read###\r\nTitle: 'Game'\r\nPid: 812\r\n"
                             "Hwnd: 590\r\nX/Y: 100/50\r\nWidth/Height: 800/600");
    EXPECT_EQ(boxes[0].icon, nullptr);
    EXPECT_EQ(boxes[1].title, "Dovemarl Debug 2");
    EXPECT_EQ(boxes[1].text, "###Data retrieved from Sableroot.dll###\r\nTitle: 'Query Title'\r\n"
                             "Pid: 4242\r\nHwnd: -2147478988\r\nX/Y: 11/-22\r\n"
                             "Width/Height: 333/444");
    EXPECT_EQ(queries.Loads(), 1);
    EXPECT_EQ(queries.Frees(), 1) << "the query library is released within the call";
    for (uint32_t argument : queries.CalledArguments()) {
        EXPECT_EQ(argument, static_cast<uint32_t>(reinterpret_cast<uintptr_t>(&info)));
    }
}

TEST_F(RunTest, ProposesTheTitleBeforeTheFirstBoxAndWritesNothingElse) {
    QueryLibraryDouble queries(QueryLibrary::Absent);
    GameInfo info = ExampleRecord();
    GameInfo before = info;
    std::string titleAtFirstBox;
    LARGE_INTEGER frequency, entered, firstBox = {};
    QueryPerformanceFrequency(&frequency);
    BoxWatcher watcher([&](const SeenBox& box) {
        if (box.title == "Dovemarl Debug 1") {
            QueryPerformanceCounter(&firstBox);
            titleAtFirstBox = info.newtitle != nullptr ? info.newtitle : "(null)";
        }
    });
    QueryPerformanceCounter(&entered);
    EXPECT_EQ(plugin_.run(&info), 0);

    EXPECT_EQ(titleAtFirstBox, ProposedTitle);
    double waitedMs = (firstBox.QuadPart - entered.QuadPart) * 1000.0 / frequency.QuadPart;
    EXPECT_GE(waitedMs, 990.0) << "the first box waits for the one-second pause";
    ASSERT_NE(info.newtitle, nullptr);
    EXPECT_STREQ(info.newtitle, ProposedTitle) << "still valid after the call";
    info.newtitle = nullptr;
    EXPECT_EQ(std::memcmp(&info, &before, sizeof info), 0) << "no other field is written";

    // A second call proposes the same text again.
    GameInfo again = ExampleRecord();
    EXPECT_EQ(plugin_.run(&again), 0);
    ASSERT_NE(again.newtitle, nullptr);
    EXPECT_STREQ(again.newtitle, ProposedTitle);
}

// winmm.dll, for the precise one-second wait, comes from the system folder of
// 32-bit programs (SysWOW64 under WoW64) and is pinned there: frees by anyone
// else cannot unload it from under the plug-in's next run.
TEST_F(RunTest, WinmmComesFromTheSystemFolderAndStaysLoaded) {
    GameInfo info = ExampleRecord();
    RunAndAnswer(&info);
    HMODULE winmm = GetModuleHandleA("winmm.dll");
    ASSERT_NE(winmm, nullptr) << "winmm.dll is not loaded after a run";
    char path[MAX_PATH] = "";
    GetModuleFileNameA(winmm, path, MAX_PATH);
    BOOL wow64 = FALSE;
    IsWow64Process(GetCurrentProcess(), &wow64);
    std::printf("winmm.dll from %s (IsWow64Process %s)\n", path, wow64 ? "true" : "false");
    EXPECT_TRUE(testing_support::InSystemFolder(standin::Lowercase(path))) << path;

    for (int i = 0; i < 64; ++i) {
        FreeLibrary(winmm);
    }
    EXPECT_EQ(GetModuleHandleA("winmm.dll"), winmm) << "winmm.dll was unloaded: it was not pinned";
    EXPECT_EQ(RunAndAnswer(&info).size(), 2u) << "a second run after the frees";
}

TEST_F(RunTest, WithoutQueryLibraryTheSecondReportShowsZeros) {
    QueryLibraryDouble queries(QueryLibrary::Absent);
    GameInfo info = {};
    info.pid = -1;
    info.hwnd = 0xFFFFFFFEu;
    info.winx = INT32_MIN;
    auto boxes = RunAndAnswer(&info);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[0].text, "###Raw structure read###\r\nTitle: ''\r\nPid: -1\r\nHwnd: -2\r\n"
                             "X/Y: -2147483648/0\r\nWidth/Height: 0/0");
    EXPECT_EQ(boxes[1].text, "###Data retrieved from Sableroot.dll###\r\nTitle: ''\r\nPid: 0\r\n"
                             "Hwnd: 0\r\nX/Y: 0/0\r\nWidth/Height: 0/0");
}

TEST_F(RunTest, PartialQueryLibraryAnswersWhatItExports) {
    QueryLibraryDouble queries(QueryLibrary::Partial);
    GameInfo info = ExampleRecord();
    auto boxes = RunAndAnswer(&info);
    ASSERT_EQ(boxes.size(), 2u);
    EXPECT_EQ(boxes[1].text, "###Data retrieved from Sableroot.dll###\r\nTitle: ''\r\n"
                             "Pid: 4242\r\nHwnd: 0\r\nX/Y: 11/0\r\nWidth/Height: 0/444");
    EXPECT_EQ(queries.Loads(), 1);
    EXPECT_EQ(queries.Frees(), 1);
}

TEST_F(RunTest, NullRecordReturnsAtOnceShowingNothing) {
    QueryLibraryDouble queries(QueryLibrary::Full);
    BoxWatcher watcher;
    EXPECT_EQ(plugin_.run(nullptr), 0);
    Sleep(100);
    EXPECT_EQ(watcher.Seen().size(), 0u);
    EXPECT_EQ(queries.Loads(), 0) << "nothing is opened";
}

// Two host threads running at once both publish a live address.
TEST_F(RunTest, ConcurrentRunsEachPublishALiveTitle) {
    QueryLibraryDouble queries(QueryLibrary::Full);
    BoxWatcher watcher;
    GameInfo infos[2] = {ExampleRecord(), ExampleRecord()};
    int32_t results[2] = {-1, -1};
    std::thread first([&] { results[0] = plugin_.run(&infos[0]); });
    std::thread second([&] { results[1] = plugin_.run(&infos[1]); });
    first.join();
    second.join();
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(results[i], 0);
        ASSERT_NE(infos[i].newtitle, nullptr);
    }
    // The text is assigned once and kept: the earlier record's address stays
    // valid while the host may still read it.
    EXPECT_EQ(infos[0].newtitle, infos[1].newtitle);
    EXPECT_STREQ(infos[0].newtitle, ProposedTitle);
}

} // namespace
