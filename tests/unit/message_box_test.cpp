// The modal message box: which of the calling thread's windows it suspends
// while it is up, whom it chooses as owner, and that it puts back exactly what
// it changed.
#include <gtest/gtest.h>

#include <string>
#include <thread>
#include <vector>

#include "box_watcher.h"
#include "support/wait_until.h"
#include "support/windows.h"
#include "ui/message_box.h"
#include "runtime/heaps.h"

namespace {

using dovemarl::ui::CountSuspendedWindows;
using dovemarl::ui::FindSuspendedWindow;
using dovemarl::ui::ShowMessageBox;
using dovemarl::ui::ShowMessageBoxDefault;
using standin::BoxWatcher;
using standin::SeenBox;
using testing_support::FlushMessages;
using testing_support::IsTopmost;
using testing_support::MakeWindow;
using testing_support::Show;

// What a window looked like while the box was up.
struct WindowState {
    bool enabled = false;
    bool topmost = false;
};

WindowState StateOf(HWND window) {
    return {IsWindowEnabled(window) != FALSE, IsTopmost(window)};
}

class MessageBoxTest : public testing::Test {
  protected:
    void TearDown() override {
        for (HWND window : windows_) {
            DestroyWindow(window);
        }
        FlushMessages();
    }

    HWND Window(const char* title, DWORD exStyle = 0, Show show = Show::Activate) {
        HWND window = MakeWindow(title, exStyle, show);
        windows_.push_back(window);
        return window;
    }

    // Makes window the foreground window and checks that it is.
    void BringToFront(HWND window) {
        SetForegroundWindow(window);
        ASSERT_TRUE(testing_support::WaitForForeground(window))
            << "foreground " << GetForegroundWindow() << ", expected " << window;
    }

    std::vector<HWND> windows_;
};

TEST_F(MessageBoxTest, ShowsTitleTextAndFlagsAndReturnsTheButton) {
    BoxWatcher watcher;
    int32_t result =
        ShowMessageBox("Box title", "first line\r\nsecond line", MB_OK | MB_ICONINFORMATION);
    ASSERT_EQ(watcher.Seen().size(), 1u);
    SeenBox box = watcher.Seen()[0];
    EXPECT_EQ(result, IDOK);
    EXPECT_EQ(box.title, "Box title");
    EXPECT_EQ(box.text, "first line\r\nsecond line");
    EXPECT_EQ(box.icon, LoadIconA(nullptr, IDI_INFORMATION)) << "information icon";
    EXPECT_EQ(box.threadId, GetCurrentThreadId());

    EXPECT_EQ(ShowMessageBoxDefault("Plain", "no icon"), IDOK);
    ASSERT_EQ(watcher.Seen().size(), 2u);
    EXPECT_EQ(watcher.Seen()[1].icon, nullptr) << "flags 0 shows no icon";
}

TEST_F(MessageBoxTest, ThreadWithoutWindowsRecordsNothing) {
    int during = -1;
    BoxWatcher watcher([&](const SeenBox&) { during = CountSuspendedWindows(); });
    EXPECT_EQ(ShowMessageBoxDefault("t", "x"), IDOK);
    EXPECT_EQ(during, 0) << "records while the box was up";
    EXPECT_EQ(CountSuspendedWindows(), 0);
    EXPECT_EQ(watcher.Seen().size(), 1u);
}

// A window of another process in the foreground (the game client's, say)
// does not own the box.
TEST_F(MessageBoxTest, ForegroundWindowOfAnotherProcessDoesNotOwnTheBox) {
    HWND mine = Window("mine");
    char self[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\" --hold-foreground-window";
    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION child = {};
    ASSERT_TRUE(CreateProcessA(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr,
                               nullptr, &startup, &child));
    DWORD foregroundProcess = 0;
    bool foreign = testing_support::WaitUntil([&] {
        FlushMessages();
        GetWindowThreadProcessId(GetForegroundWindow(), &foregroundProcess);
        return foregroundProcess == child.dwProcessId;
    });
    HWND foreground = GetForegroundWindow();
    WindowState during;
    BoxWatcher watcher([&](const SeenBox&) { during = StateOf(mine); });
    if (foreign) {
        ShowMessageBoxDefault("t", "x");
    }
    PostMessageA(foreground, WM_CLOSE, 0, 0);
    WaitForSingleObject(child.hProcess, 10000);
    CloseHandle(child.hThread);
    CloseHandle(child.hProcess);
    ASSERT_TRUE(foreign) << "foreground process " << foregroundProcess << ", expected "
                         << child.dwProcessId;
    ASSERT_EQ(watcher.Seen().size(), 1u);
    EXPECT_EQ(watcher.Seen()[0].owner, nullptr) << "foreground " << foreground;
    EXPECT_FALSE(during.enabled) << "this thread's windows are still suspended";
    FlushMessages();
    EXPECT_TRUE(IsWindowEnabled(mine));
}

TEST_F(MessageBoxTest, SuspendsTheThreadsVisibleWindowsAndPutsThemBack) {
    HWND front = Window("front");
    HWND plain = Window("plain");
    HWND topmost = Window("topmost", WS_EX_TOPMOST);
    HWND hidden = Window("hidden", WS_EX_TOPMOST, Show::Hidden);
    HWND disabled = Window("disabled");
    EnableWindow(disabled, FALSE);
    BringToFront(front);

    WindowState duringFront, duringPlain, duringTopmost, duringHidden, duringDisabled;
    dovemarl::ui::SuspendedWindowFlags frontFlags{}, disabledFlags{}, hiddenFlags{};
    int records = -1;
    BoxWatcher watcher([&](const SeenBox&) {
        frontFlags = FindSuspendedWindow(front);
        disabledFlags = FindSuspendedWindow(disabled);
        hiddenFlags = FindSuspendedWindow(hidden);
        duringFront = StateOf(front);
        duringPlain = StateOf(plain);
        duringTopmost = StateOf(topmost);
        duringHidden = StateOf(hidden);
        duringDisabled = StateOf(disabled);
        records = CountSuspendedWindows();
    });
    EXPECT_EQ(ShowMessageBoxDefault("t", "x"), IDOK);
    FlushMessages();

    EXPECT_EQ(records, 4) << "front, plain, topmost and disabled are recorded";
    EXPECT_TRUE(frontFlags.recorded);
    EXPECT_FALSE(frontFlags.wasDisabled) << "the foreground window is not disabled";
    EXPECT_TRUE(disabledFlags.recorded);
    EXPECT_FALSE(disabledFlags.wasDisabled) << "an already disabled window is not disabled again";
    EXPECT_FALSE(hiddenFlags.recorded);
    EXPECT_FALSE(duringPlain.enabled);
    EXPECT_FALSE(duringTopmost.enabled);
    EXPECT_FALSE(duringTopmost.topmost) << "out of the topmost band while the box is up";
    EXPECT_TRUE(duringHidden.enabled) << "hidden windows are not touched";
    EXPECT_TRUE(duringHidden.topmost) << "hidden windows are not touched";
    EXPECT_FALSE(duringDisabled.enabled);

    EXPECT_TRUE(IsWindowEnabled(plain));
    EXPECT_TRUE(IsWindowEnabled(topmost));
    EXPECT_TRUE(IsTopmost(topmost)) << "topmost again afterwards";
    EXPECT_TRUE(IsTopmost(hidden));
    EXPECT_FALSE(IsWindowEnabled(disabled)) << "a window disabled before stays disabled";
    EXPECT_EQ(CountSuspendedWindows(), 0);
    // Taking a window out of the topmost band without SWP_NOACTIVATE activates
    // it, so the last one taken out is the foreground window by the time the
    // owner is chosen.
    ASSERT_EQ(watcher.Seen().size(), 1u);
    EXPECT_EQ(watcher.Seen()[0].owner, topmost);
}

TEST_F(MessageBoxTest, ForegroundWindowOfThisThreadOwnsTheBox) {
    HWND other = Window("other");
    HWND front = Window("front");
    BringToFront(front);
    WindowState duringOther;
    BoxWatcher watcher([&](const SeenBox&) { duringOther = StateOf(other); });
    ShowMessageBoxDefault("t", "x");
    FlushMessages();
    ASSERT_EQ(watcher.Seen().size(), 1u);
    EXPECT_EQ(watcher.Seen()[0].owner, front);
    EXPECT_FALSE(duringOther.enabled);
    EXPECT_TRUE(IsWindowEnabled(front));
    EXPECT_TRUE(IsWindowEnabled(other));
}

TEST_F(MessageBoxTest, TopmostForegroundWindowStaysEnabledButLeavesTheBand) {
    HWND front = Window("front", WS_EX_TOPMOST);
    BringToFront(front);
    WindowState during;
    dovemarl::ui::SuspendedWindowFlags flags{};
    BoxWatcher watcher([&](const SeenBox&) {
        during = StateOf(front);
        flags = FindSuspendedWindow(front);
    });
    ShowMessageBoxDefault("t", "x");
    FlushMessages();
    EXPECT_TRUE(flags.recorded);
    EXPECT_TRUE(flags.wasTopmost);
    EXPECT_FALSE(flags.wasDisabled) << "the box disables its owner itself, step 1 does not";
    EXPECT_FALSE(during.topmost);
    EXPECT_TRUE(IsWindowEnabled(front));
    EXPECT_TRUE(IsTopmost(front));
}

TEST_F(MessageBoxTest, OtherThreadsWindowsAreLeftAloneButMayOwnTheBox) {
    testing_support::WindowThread other;
    HWND foreign = other.MakeWindow("other thread", WS_EX_TOPMOST);
    HWND mine = Window("mine");
    BringToFront(foreign);

    WindowState duringForeign, duringMine;
    bool foreignRecorded = true;
    BoxWatcher watcher([&](const SeenBox&) {
        duringForeign = StateOf(foreign);
        duringMine = StateOf(mine);
        foreignRecorded = FindSuspendedWindow(foreign).recorded;
    });
    ShowMessageBoxDefault("t", "x");
    FlushMessages();
    EXPECT_FALSE(foreignRecorded);
    EXPECT_TRUE(duringForeign.topmost);
    EXPECT_FALSE(duringMine.enabled);
    ASSERT_EQ(watcher.Seen().size(), 1u);
    EXPECT_EQ(watcher.Seen()[0].owner, foreign)
        << "owner may be another thread's window of this process";
    EXPECT_TRUE(IsWindowEnabled(foreign));
    PostMessageA(foreign, WM_CLOSE, 0, 0); // destroyed by its own thread
}

TEST_F(MessageBoxTest, WindowWithoutARecordIsLeftAlone) {
    HWND front = Window("front");
    HWND plain = Window("plain", WS_EX_TOPMOST);
    BringToFront(front);
    WindowState during;
    BoxWatcher watcher([&](const SeenBox&) { during = StateOf(plain); });
    HANDLE heap = dovemarl::runtime::MainHeap;
    dovemarl::runtime::MainHeap = nullptr; // no record can be allocated now
    ShowMessageBoxDefault("t", "x");
    dovemarl::runtime::MainHeap = heap;
    FlushMessages();
    EXPECT_TRUE(during.enabled);
    EXPECT_TRUE(during.topmost);
    EXPECT_EQ(CountSuspendedWindows(), 0);
}

// A box shown from a window procedure while an outer box of the same thread is
// still up puts back only what it changed itself.
constexpr UINT ShowInnerBox = WM_APP + 7;
HANDLE InnerBoxDone = nullptr;

LRESULT CALLBACK NestingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == ShowInnerBox) {
        ShowMessageBoxDefault("inner", "inner box");
        SetEvent(InnerBoxDone);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

TEST_F(MessageBoxTest, InnerBoxLeavesTheOuterBoxsWindowsSuspended) {
    HWND front = Window("front");
    HWND plain = Window("plain");
    SetWindowLongPtrA(front, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(NestingProc));
    BringToFront(front);
    InnerBoxDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);

    bool plainDuringInner = true, plainAfterInner = true;
    int recordsAfterInner = -1;
    BoxWatcher watcher([&](const SeenBox& box) {
        if (box.title == "outer") {
            PostMessageA(front, ShowInnerBox, 0, 0);
            return;
        }
        plainDuringInner = IsWindowEnabled(plain) != FALSE;
    });
    watcher.SetDismissing(false);
    // Dismiss the boxes by hand: the inner one first, then check, then the outer.
    std::thread driver([&] {
        ASSERT_TRUE(watcher.WaitForBoxes(2, 10000)) << "both boxes should appear";
        BoxWatcher::Dismiss(watcher.Seen()[1].box);
        ASSERT_EQ(WaitForSingleObject(InnerBoxDone, 10000), WAIT_OBJECT_0);
        plainAfterInner = IsWindowEnabled(plain) != FALSE;
        recordsAfterInner = CountSuspendedWindows();
        BoxWatcher::Dismiss(watcher.Seen()[0].box);
    });
    ShowMessageBoxDefault("outer", "outer box");
    driver.join();
    FlushMessages();
    CloseHandle(InnerBoxDone);

    EXPECT_FALSE(plainDuringInner);
    EXPECT_FALSE(plainAfterInner) << "still disabled while the outer box is up";
    EXPECT_GE(recordsAfterInner, 2) << "the outer box's records stay until it returns";
    EXPECT_TRUE(IsWindowEnabled(plain));
    EXPECT_EQ(CountSuspendedWindows(), 0);
}

// Threads showing boxes at the same moment each put back their own windows.
// A box may take another thread's box or window as its owner (the owner rule
// allows any window of this process), so only the end state is certain: no
// record left and every window enabled again.
TEST_F(MessageBoxTest, ConcurrentBoxesKeepTheirRecordsApart) {
    constexpr int Threads = 4;
    constexpr int BoxesEach = 5;
    BoxWatcher watcher;
    HANDLE allDone = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    volatile LONG remaining = Threads;
    std::vector<std::thread> threads;
    std::vector<int> leftDisabled(Threads, 0);
    for (int t = 0; t < Threads; ++t) {
        threads.emplace_back([&, t] {
            HWND a = MakeWindow("a", 0, Show::NoActivate);
            HWND b = MakeWindow("b", 0, Show::NoActivate);
            for (int i = 0; i < BoxesEach; ++i) {
                ShowMessageBoxDefault("t", "x");
            }
            // Keep the windows until every thread is done, then check them.
            if (InterlockedDecrement(&remaining) == 0) {
                SetEvent(allDone);
            }
            while (MsgWaitForMultipleObjects(1, &allDone, FALSE, INFINITE, QS_ALLINPUT) !=
                   WAIT_OBJECT_0) {
                FlushMessages();
            }
            FlushMessages();
            leftDisabled[t] = !IsWindowEnabled(a) + !IsWindowEnabled(b);
            DestroyWindow(a);
            DestroyWindow(b);
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    CloseHandle(allDone);
    for (int t = 0; t < Threads; ++t) {
        EXPECT_EQ(leftDisabled[t], 0) << "thread " << t << ": windows not put back";
    }
    EXPECT_EQ(CountSuspendedWindows(), 0);
}

// Another thread reading the shared list while boxes come and go sees every
// record with its flags complete: a record is listed only once they are set.
TEST_F(MessageBoxTest, RecordsAreListedWithTheirFlagsComplete) {
    constexpr int Boxes = 20;
    HWND front = Window("front");
    HWND topmost = Window("topmost", WS_EX_TOPMOST);
    BringToFront(front);
    volatile LONG reading = 1;
    long seen = 0, incomplete = 0;
    std::thread reader([&] {
        while (reading) {
            dovemarl::ui::SuspendedWindowFlags flags = FindSuspendedWindow(topmost);
            if (flags.recorded) {
                ++seen;
                incomplete += !flags.wasTopmost || !flags.wasDisabled;
            }
        }
    });
    BoxWatcher watcher;
    for (int box = 0; box < Boxes; ++box) {
        ShowMessageBoxDefault("t", "x");
        FlushMessages();
        BringToFront(front);
    }
    InterlockedExchange(&reading, 0);
    reader.join();
    EXPECT_EQ(watcher.Seen().size(), static_cast<size_t>(Boxes));
    EXPECT_GT(seen, 0) << "the reader saw the record while the boxes were up";
    EXPECT_EQ(incomplete, 0) << "of " << seen << " sightings, records without their flags";
}

} // namespace
