// The event wait and queue, and the window procedure's events: idle waits,
// messages and their numbers, close requests that leave the window, merging,
// WM_QUIT, size changes, focus kept across activation, Tab cycling, and the
// message-only post window.
#include "unit/window_support.h"

#include <cstdio>
#include <thread>

#include "runtime/heaps.h"
#include "ui/event_state.h"
#include "ui/label.h"
#include "ui/post_window.h"
#include "ui/window_codes.h"
#include "ui/window_proc.h"

namespace {

using namespace dovemarl::ui;
using testing_support::FlushMessages;
using window_testing::DrainEvents;
using window_testing::Only;
using window_testing::QueuedCodes;
using window_testing::WindowLayerTest;
using window_testing::WindowOf;

using Codes = std::vector<int32_t>;

using EventWaitTest = WindowLayerTest;

TEST_F(EventWaitTest, IdleWaitsReturnZero) {
    DWORD start = GetTickCount();
    EXPECT_EQ(WaitEvent(10), EventNone);
    DWORD waited = GetTickCount() - start;
    EXPECT_GE(waited, 9u) << "the wait blocks for its time-out";
    EXPECT_LT(waited, 2000u);

    start = GetTickCount();
    EXPECT_EQ(WaitEvent(0), EventNone);
    EXPECT_LT(GetTickCount() - start, 50u) << "0 does not wait";

    PostThreadMessageA(GetCurrentThreadId(), WM_NULL, 0, 0);
    EXPECT_EQ(WaitEvent(10), EventNone) << "WM_NULL reads as an idle wait";
    PostThreadMessageA(GetCurrentThreadId(), WM_APP + 7, 11, 22);
    EXPECT_EQ(WaitEvent(10), WM_APP + 7) << "a waiting message gives its number";
    EXPECT_EQ(LastEventDetails()->wParam, 11);
    EXPECT_EQ(LastEventDetails()->lParam, 22);
}

TEST_F(EventWaitTest, QuitIsTakenAndNotPostedAgain) {
    PostQuitMessage(0);
    EXPECT_EQ(WaitEvent(10), WM_QUIT);
    MSG msg;
    EXPECT_FALSE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_NOREMOVE));
}

TEST_F(EventWaitTest, CloseRequestQueuesCloseAndKeepsTheWindow) {
    int32_t number = CreateTopWindowDefault(-1, 60, 60, 300, 200, "close me");
    HWND window = WindowOf(number);
    FlushMessages();
    DrainEvents();
    PostMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitEvent(10), WM_CLOSE) << "the dispatching wait returns the message's number";
    EXPECT_EQ(WaitEvent(10), EventClose) << "then the queued close event";
    EXPECT_EQ(LastEventDetails()->window, number);
    EXPECT_EQ(LastEventDetails()->control, number);
    EXPECT_TRUE(IsWindowVisible(window)) << "a close request destroys and hides nothing";

    // A window of the thread that is not the module's: its number alone.
    HWND plain = testing_support::MakeWindow("plain");
    DrainEvents();
    PostMessageA(plain, WM_CLOSE, 0, 0);
    EXPECT_EQ(WaitEvent(10), EventClose);
    EXPECT_EQ(Only(QueuedCodes(), {EventClose}), Codes{}) << "nothing was queued for it";
    DestroyWindow(plain);
}

TEST_F(EventWaitTest, IdenticalNewestEventsMerge) {
    int32_t number = CreateTopWindowDefault(-1, 60, 60, 300, 200, "merge");
    HWND window = WindowOf(number);
    FlushMessages();
    DrainEvents();
    SendMessageA(window, WM_CLOSE, 0, 0);
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(QueuedCodes(), (Codes{EventClose})) << "two close requests in a row: one event";
    SendMessageA(window, WM_ACTIVATE, WA_ACTIVE, 0);
    SendMessageA(window, WM_CLOSE, 0, 0);
    EXPECT_EQ(QueuedCodes(), (Codes{EventClose, EventActivate, EventClose}));
    DrainEvents();
    for (int i = 0; i < 5; ++i) {
        SendMessageA(window, WM_MOVE, 0, MAKELPARAM(i, i));
    }
    EXPECT_EQ(QueuedCodes(), (Codes{EventMove}));

    // Codes from 65537 on are never merged.
    DrainEvents();
    AppendEvent({70000, 1, number, 0, 0});
    AppendEvent({70000, 1, number, 0, 0});
    AppendEvent({65536, 1, number, 0, 0});
    AppendEvent({65536, 1, number, 0, 0});
    EXPECT_EQ(QueuedCodes(), (Codes{70000, 70000, 65536}));
}

TEST_F(EventWaitTest, SizeChangesGiveTheirSequences) {
    int32_t number = CreateTopWindow(-1, 60, 60, 300, 200, "sizes",
                                     DefaultWindowFlags | WS_MINIMIZEBOX | WS_MAXIMIZEBOX, nullptr);
    HWND window = WindowOf(number);
    FlushMessages();
    DrainEvents();
    struct Step {
        int command;
        Codes expected;
    } steps[] = {
        {SW_MINIMIZE, {EventMinimize}},
        {SW_RESTORE, {EventRestore, EventSize}},
        {SW_MAXIMIZE, {EventMaximize, EventSize}},
        {SW_RESTORE, {EventRestore, EventSize}},
    };
    for (const Step& step : steps) {
        ShowWindow(window, step.command);
        FlushMessages();
        Codes got = Only(QueuedCodes(), {EventMinimize, EventMaximize, EventRestore, EventSize});
        EXPECT_EQ(got, step.expected) << "ShowWindow " << step.command;
        DrainEvents();
    }
    SetWindowPos(window, nullptr, 0, 0, 350, 250, SWP_NOMOVE | SWP_NOZORDER);
    FlushMessages();
    EXPECT_EQ(Only(QueuedCodes(), {EventMinimize, EventMaximize, EventRestore, EventSize}),
              (Codes{EventSize}))
        << "a plain resize";
}

TEST_F(EventWaitTest, FocusReturnsToItsControlAfterDeactivation) {
    HWND window = WindowOf(CreateTopWindowDefault(-1, 60, 60, 300, 200, "focus"));
    HWND first = CreateWindowExA(0, "Button", "one", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 10, 80,
                                 24, window, nullptr, nullptr, nullptr);
    HWND second = CreateWindowExA(0, "Button", "two", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 40,
                                  80, 24, window, nullptr, nullptr, nullptr);
    SetFocus(second);
    FlushMessages();
    HWND other = testing_support::MakeWindow("other");
    SetActiveWindow(other);
    FlushMessages();
    EXPECT_EQ(GetPropA(window, SavedFocusProperty), second);
    SetActiveWindow(window);
    FlushMessages();
    EXPECT_EQ(GetFocus(), second) << "got " << GetFocus() << ", expected " << second;
    DestroyWindow(other);
    DestroyWindow(first);
}

TEST_F(EventWaitTest, TabCyclesTabStopsButNotLabels) {
    HWND window = WindowOf(CreateTopWindowDefault(-1, 60, 60, 300, 200, "tabs"));
    HWND first = CreateWindowExA(0, "Button", "one", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 10, 80,
                                 24, window, nullptr, nullptr, nullptr);
    HWND second = CreateWindowExA(0, "Button", "two", WS_CHILD | WS_VISIBLE | WS_TABSTOP, 10, 40,
                                  80, 24, window, nullptr, nullptr, nullptr);
    SetActiveWindow(window);
    SetFocus(first);
    FlushMessages();
    DrainEvents();
    // The accelerators' commands, as TranslateAcceleratorA sends them.
    struct Step {
        WPARAM command;
        HWND expected;
    } steps[] = {
        {MAKEWPARAM(NextTabStopCommand, 1), second},
        {MAKEWPARAM(NextTabStopCommand, 1), first}, // wraps around
        {MAKEWPARAM(PreviousTabStopCommand, 1), second},
        {MAKEWPARAM(PreviousTabStopCommand, 1), first},
    };
    for (const Step& step : steps) {
        SendMessageA(window, WM_COMMAND, step.command, 0);
        EXPECT_EQ(GetFocus(), step.expected) << "command " << std::hex << step.command;
    }
    EXPECT_EQ(AcceleratorsFor(window), FindWindowRecord(WindowNumberOf(window))->acceleratorTable);
    DestroyWindow(first);
    DestroyWindow(second);

    // A window of labels only: nothing takes the focus.
    CreateLabel(-1, 10, 10, 100, 20, "a");
    CreateLabel(-1, 10, 40, 100, 20, "b");
    SetFocus(window);
    FlushMessages();
    DrainEvents();
    ThisThreadEventState()->pending = 0;
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(NextTabStopCommand, 1), 0);
    SendMessageA(window, WM_COMMAND, MAKEWPARAM(PreviousTabStopCommand, 1), 0);
    EXPECT_EQ(GetFocus(), window);
    EXPECT_EQ(ThisThreadEventState()->pending, 0) << "Tab commands produce no event";
    EXPECT_EQ(QueuedCodes(), Codes{});
}

TEST_F(EventWaitTest, PostWindowTakesOnlyItsOwnRecords) {
    ASSERT_NE(EventPostWindow(), nullptr);
    ASSERT_NE(CrossThreadEventMessage(), 0u);
    auto* posted =
        static_cast<PostedEvent*>(HeapAlloc(dovemarl::runtime::MainHeap, 0, sizeof(PostedEvent)));
    *posted = {0, 4242, 1, 2, 3, 99};
    SendMessageA(EventPostWindow(), CrossThreadEventMessage(), 0, reinterpret_cast<LPARAM>(posted));
    EXPECT_FALSE(HeapValidate(dovemarl::runtime::MainHeap, 0, posted)) << "the record is freed";
    EXPECT_EQ(WaitEvent(0), 4242);
    EXPECT_EQ(LastEventDetails()->control, 1);
    EXPECT_EQ(LastEventDetails()->window, 2);
    EXPECT_EQ(LastEventDetails()->type, 3);
    EXPECT_EQ(LastEventDetails()->data, 99);

    // Another program's broadcast of the same name: nothing read or freed.
    PostedEvent foreign = {0, 5151, 0, 0, 0, 0};
    SendMessageA(EventPostWindow(), CrossThreadEventMessage(), 0,
                 reinterpret_cast<LPARAM>(&foreign));
    SendMessageA(EventPostWindow(), CrossThreadEventMessage(), 0, 0x12345678);
    EXPECT_EQ(QueuedCodes(), Codes{});
    EXPECT_EQ(foreign.code, 5151);
}

// The system destroys a thread's windows when it ends: the next need makes the
// post window again, on the thread that needs it.
TEST_F(EventWaitTest, PostWindowIsMadeAgainOnceItsThreadHasEnded) {
    StopPostWindow(); // whatever an earlier test made
    HWND first = nullptr;
    std::thread maker([&] { first = EventPostWindow(); });
    maker.join();
    ASSERT_NE(first, nullptr);
    EXPECT_FALSE(IsWindow(first)) << "gone with its thread";
    HWND second = EventPostWindow();
    ASSERT_NE(second, nullptr);
    EXPECT_TRUE(IsWindow(second));
    EXPECT_EQ(GetWindowThreadProcessId(second, nullptr), GetCurrentThreadId());
    EXPECT_EQ(EventPostWindow(), second) << "made once";
}

// The window is message-only: found under HWND_MESSAGE, not among the
// top-level windows. While its thread pumps nothing, a broadcast does not wait
// on it, and an event posted to it from another thread waits there and
// reaches that thread's queue once the thread waits for events again.
TEST_F(EventWaitTest, PostWindowIsMessageOnlyAndCarriesEventsAcrossThreads) {
    StopPostWindow(); // whatever an earlier test made
    HANDLE made = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE posted = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HWND window = nullptr;
    UINT message = 0;
    int32_t received = 0, data = 0;
    std::thread owner([&] {
        window = EventPostWindow();
        message = CrossThreadEventMessage();
        SetEvent(made);
        WaitForSingleObject(posted, 30000); // pumps nothing meanwhile
        // The message itself is handled first; its event comes next.
        for (int i = 0; i < 4 && received != 4343; ++i) {
            received = WaitEvent(500);
        }
        data = LastEventDetails()->data;
    });
    EXPECT_EQ(WaitForSingleObject(made, 30000), WAIT_OBJECT_0);
    EXPECT_EQ(testing_support::MessageOnlyWindowsOfClass("PostEventClass"),
              std::vector<HWND>{window});
    EXPECT_EQ(testing_support::TopLevelWindowsOfClass("PostEventClass"), std::vector<HWND>{});
    bool answered = false;
    DWORD broadcastMs = testing_support::TimedBroadcast(&answered);
    std::printf("broadcast while the window's thread pumps nothing: %lu ms (result %d)\n",
                broadcastMs, answered);
    EXPECT_LT(broadcastMs, testing_support::BroadcastLimitMs / 2) << "returns at once";
    auto* record =
        static_cast<PostedEvent*>(HeapAlloc(dovemarl::runtime::MainHeap, 0, sizeof(PostedEvent)));
    *record = {0, 4343, 1, 2, 3, 77};
    EXPECT_TRUE(PostMessageA(window, message, 0, reinterpret_cast<LPARAM>(record)));
    SetEvent(posted);
    owner.join();
    EXPECT_EQ(received, 4343);
    EXPECT_EQ(data, 77);
    CloseHandle(made);
    CloseHandle(posted);
}

} // namespace
