// The monitor window through the exports: where it opens and how it looks, its
// labels following the host record, what ends the loop, and what it leaves.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "box_watcher.h"
#include "support/example_record.h"
#include "support/monitor_closer.h"
#include "support/plugin_library.h"
#include "support/query_library.h"
#include "support/wait_until.h"
#include "support/windows.h"

namespace {

using testing_support::ExampleRecord;
using testing_support::GameInfo;
using testing_support::MonitorCloser;
using testing_support::OpenMonitors;
using testing_support::WaitUntil;

std::string TextOf(HWND window) {
    WCHAR wide[512] = L"";
    InternalGetWindowText(window, wide, 512); // sends nothing to the owning thread
    char text[512] = "";
    WideCharToMultiByte(CP_ACP, 0, wide, -1, text, sizeof text, nullptr, nullptr);
    return text;
}

BOOL CALLBACK CollectChild(HWND child, LPARAM children) {
    reinterpret_cast<std::vector<HWND>*>(children)->push_back(child);
    return TRUE;
}

std::vector<HWND> ChildrenOf(HWND window) {
    std::vector<HWND> children;
    EnumChildWindows(window, CollectChild, reinterpret_cast<LPARAM>(&children));
    return children;
}

std::vector<std::string> LabelTexts(HWND monitor) {
    std::vector<std::string> texts;
    for (HWND label : ChildrenOf(monitor)) {
        texts.push_back(TextOf(label));
    }
    return texts;
}

bool LabelsRead(HWND monitor, const std::vector<std::string>& expected) {
    return WaitUntil([&] { return LabelTexts(monitor) == expected; }, 5000);
}

std::string Joined(const std::vector<std::string>& texts) {
    std::string all;
    for (const std::string& text : texts) {
        all += "[" + text + "]";
    }
    return all;
}

class MonitorTest : public testing::Test {
  protected:
    void SetUp() override { ASSERT_TRUE(plugin_.Loaded()); }
    void TearDown() override { testing_support::FlushMessages(); }

    testing_support::PluginLibrary plugin_;
    testing_support::QueryLibraryDouble queries_{testing_support::QueryLibrary::Absent};
    standin::BoxWatcher boxes_;
};

TEST_F(MonitorTest, OpensCentredOnTheGameWindowWithSevenLabels) {
    GameInfo info = ExampleRecord();
    info.winx = 0;
    info.winy = 0;
    HWND seen = nullptr;
    std::vector<std::string> texts;
    MonitorCloser closer([&](HWND monitor) {
        seen = monitor;
        LabelsRead(monitor, {"Pid: 812", "Title: Game", "X: 0", "Y: 0", "Width: 800", "Height: 600",
                             "Hwnd :590"});
        texts = LabelTexts(monitor);
    });
    EXPECT_EQ(plugin_.run(&info), 0);
    ASSERT_NE(seen, nullptr);
    EXPECT_EQ(Joined(texts), "[Pid: 812][Title: Game][X: 0][Y: 0][Width: 800][Height: 600]"
                             "[Hwnd :590]");

    RECT outer = {}, client = {};
    GetWindowRect(seen, &outer);
    GetClientRect(seen, &client);
    EXPECT_EQ(outer.left, 250);
    EXPECT_EQ(outer.top, 200);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 200);
    char className[32] = "";
    GetClassNameA(seen, className, sizeof className);
    EXPECT_EQ(std::string(className).rfind("WindowClass_", 0), 0u) << className;
    LONG style = GetWindowLongA(seen, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME),
              WS_CAPTION | WS_SYSMENU)
        << std::hex << style;
    EXPECT_EQ(GetWindow(seen, GW_OWNER), nullptr);
    EXPECT_TRUE(IsWindowVisible(seen)) << "the window stays open after the call";
    EXPECT_TRUE(testing_support::IsTopmost(seen));

    const int tops[] = {10, 30, 50, 70, 90, 110, 130};
    std::vector<HWND> labels = ChildrenOf(seen);
    ASSERT_EQ(labels.size(), 7u);
    for (size_t i = 0; i < labels.size(); ++i) {
        RECT rect = {};
        GetWindowRect(labels[i], &rect);
        MapWindowPoints(nullptr, seen, reinterpret_cast<POINT*>(&rect), 2);
        EXPECT_EQ(rect.left, 10) << "label " << i + 1;
        EXPECT_EQ(rect.top, tops[i]) << "label " << i + 1;
        EXPECT_EQ(rect.right - rect.left, i == 1 ? 300 : 200) << "label " << i + 1;
        EXPECT_EQ(rect.bottom - rect.top, 20) << "label " << i + 1;
    }
}

TEST_F(MonitorTest, LabelsFollowTheRecordWhileIdle) {
    GameInfo info = ExampleRecord();
    info.winx = -3000;
    info.winy = -40;
    bool followed = false, nullTitle = false;
    MonitorCloser closer([&](HWND monitor) {
        LabelsRead(monitor, {"Pid: 812", "Title: Game", "X: -3000", "Y: -40", "Width: 800",
                             "Height: 600", "Hwnd :590"});
        info.pid = -1;
        info.hwnd = 0x80000000u;
        info.title = "Retitled";
        followed = LabelsRead(monitor, {"Pid: -1", "Title: Retitled", "X: -3000", "Y: -40",
                                        "Width: 800", "Height: 600", "Hwnd :-2147483648"});
        info.title = nullptr;
        nullTitle = WaitUntil([&] { return LabelTexts(monitor)[1] == "Title: "; }, 5000);
    });
    EXPECT_EQ(plugin_.run(&info), 0);
    EXPECT_TRUE(followed);
    EXPECT_TRUE(nullTitle) << "a null title reads as the empty text";
}

// A close request on a monitor left open by an earlier call waits in the
// thread's queue: the next call on that thread ends right after its boxes.
TEST_F(MonitorTest, QueuedCloseOfAnEarlierWindowEndsTheNextCall) {
    GameInfo info = ExampleRecord();
    HWND first = nullptr;
    {
        MonitorCloser closer([&](HWND monitor) { first = monitor; });
        EXPECT_EQ(plugin_.run(&info), 0);
    }
    ASSERT_NE(first, nullptr);
    PostMessageA(first, WM_CLOSE, 0, 0);
    size_t before = OpenMonitors().size();
    MonitorCloser late({}, 20000); // would close only after 20 s
    DWORD start = GetTickCount();
    EXPECT_EQ(plugin_.run(&info), 0);
    EXPECT_LT(GetTickCount() - start, 10000u) << "ended by the queued close event";
    EXPECT_EQ(OpenMonitors().size(), before + 1) << "both windows stay open";
    EXPECT_TRUE(IsWindowVisible(first));
}

// pluginrun on a host's user-interface thread: the host's window keeps being
// served, WM_QUIT is taken and dropped, and a WM_CLOSE posted to the host's
// window ends the loop.
TEST_F(MonitorTest, HostWindowOnTheSameThreadKeepsWorking) {
    HWND host = testing_support::MakeWindow("host window");
    GameInfo info = ExampleRecord();
    bool served = false, stillRunning = false;
    MonitorCloser closer(
        [&](HWND monitor) {
            DWORD_PTR answer = 0;
            served =
                SendMessageTimeoutA(host, WM_GETTEXTLENGTH, 0, 0, SMTO_BLOCK, 5000, &answer) != 0 &&
                answer == 11;
            PostThreadMessageA(GetWindowThreadProcessId(monitor, nullptr), WM_QUIT, 0, 0);
            Sleep(300);
            stillRunning = IsWindowVisible(monitor) != FALSE;
            PostMessageA(host, WM_CLOSE, 0, 0);
        },
        20000);
    DWORD start = GetTickCount();
    EXPECT_EQ(plugin_.run(&info), 0);
    EXPECT_LT(GetTickCount() - start, 15000u) << "the host's WM_CLOSE ends the loop";
    EXPECT_TRUE(served) << "the host's window answered during the loop";
    EXPECT_TRUE(stillRunning) << "WM_QUIT does not end the loop";
    DestroyWindow(host); // already gone if its own procedure took the close
}

} // namespace
