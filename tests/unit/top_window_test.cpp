// Top-level windows: size, place, style and activation; centring and its
// clamps; slots reused; a failed creation leaves no class behind; the topmost
// switch.
#include "unit/window_support.h"

#include "runtime/module.h"
#include "ui/window_codes.h"

namespace {

using dovemarl::ui::CentreOnScreen;
using dovemarl::ui::CentreOnWindow;
using dovemarl::ui::CreateTopWindow;
using dovemarl::ui::CreateTopWindowDefault;
using dovemarl::ui::DefaultWindowFlags;
using dovemarl::ui::DestroyTopWindow;
using dovemarl::ui::FindWindowRecord;
using dovemarl::ui::SetWindowTopmost;
using testing_support::FlushMessages;
using testing_support::IsTopmost;
using window_testing::WindowLayerTest;
using window_testing::WindowOf;

RECT OuterRect(HWND window) {
    RECT rect = {};
    GetWindowRect(window, &rect);
    return rect;
}

bool ClassRegistered(const char* name) {
    WNDCLASSA cls = {};
    return GetClassInfoA(dovemarl::runtime::ModuleInstance, name, &cls) != FALSE;
}

using TopWindowTest = WindowLayerTest;

TEST_F(TopWindowTest, DefaultWindowHasTheClientSizeAtTheOuterCorner) {
    int32_t number = CreateTopWindowDefault(-1, 120, 90, 300, 200, "Monitor");
    FlushMessages();
    HWND window = WindowOf(number);
    ASSERT_NE(window, nullptr) << "the result names the record";
    EXPECT_NE(reinterpret_cast<HWND>(static_cast<intptr_t>(number)), window)
        << "the result is the record's handle, not the window";
    RECT client = {};
    GetClientRect(window, &client);
    EXPECT_EQ(client.right, 300);
    EXPECT_EQ(client.bottom, 200);
    RECT outer = OuterRect(window);
    EXPECT_EQ(outer.left, 120);
    EXPECT_EQ(outer.top, 90);

    LONG style = GetWindowLongA(window, GWL_STYLE);
    EXPECT_EQ(style & (WS_CAPTION | WS_SYSMENU), WS_CAPTION | WS_SYSMENU) << std::hex << style;
    EXPECT_EQ(style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX | WS_THICKFRAME), 0) << std::hex << style;
    EXPECT_TRUE(IsWindowVisible(window));
    EXPECT_EQ(GetActiveWindow(), window);
    EXPECT_FALSE(IsTopmost(window));
    EXPECT_EQ(GetWindow(window, GW_OWNER), nullptr);

    char name[64] = "", title[64] = "";
    GetClassNameA(window, name, sizeof name);
    GetWindowTextA(window, title, sizeof title);
    char expected[64];
    wsprintfA(expected, "WindowClass_%d", number);
    EXPECT_STREQ(name, expected);
    EXPECT_STREQ(title, "Monitor");
    EXPECT_EQ(reinterpret_cast<intptr_t>(GetPropA(window, "WindowNumber")), number + 1);
}

TEST_F(TopWindowTest, NullTitleAndSystemPlacement) {
    HWND window = WindowOf(CreateTopWindowDefault(-1, -65535, 40, 100, 80, nullptr));
    ASSERT_NE(window, nullptr);
    char title[16] = "x";
    GetWindowTextA(window, title, sizeof title);
    EXPECT_STREQ(title, "") << "a null title gives an empty caption";
    RECT outer = OuterRect(window);
    EXPECT_NE(outer.left, -65535) << "the system places the window";
    EXPECT_NE(outer.top, 40) << "both coordinates are the system's";
}

TEST_F(TopWindowTest, CentringClampsToTheScreenAndToZero) {
    int screenWidth = GetSystemMetrics(SM_CXSCREEN);
    int screenHeight = GetSystemMetrics(SM_CYSCREEN);
    HWND huge = WindowOf(CreateTopWindow(-1, 5, 5, screenWidth + 400, screenHeight + 300, "huge",
                                         DefaultWindowFlags | CentreOnScreen, nullptr));
    ASSERT_NE(huge, nullptr);
    RECT outer = OuterRect(huge);
    EXPECT_EQ(outer.left, 0);
    EXPECT_EQ(outer.top, 0);
    EXPECT_EQ(outer.right - outer.left, screenWidth) << "outer width capped at the screen";
    EXPECT_EQ(outer.bottom - outer.top, screenHeight);

    // A reference window sticking out to the left and top of the screen.
    HWND reference = testing_support::MakeWindow("reference");
    SetWindowPos(reference, nullptr, -150, -120, 200, 150, SWP_NOZORDER | SWP_NOACTIVATE);
    HWND centred = WindowOf(CreateTopWindow(-1, 700, 700, 300, 200, "centred",
                                            DefaultWindowFlags | CentreOnWindow, reference));
    ASSERT_NE(centred, nullptr);
    outer = OuterRect(centred);
    EXPECT_EQ(outer.left, 0) << "never a negative coordinate";
    EXPECT_EQ(outer.top, 0);
    DestroyTopWindow(-1);
    DestroyWindow(reference);
}

TEST_F(TopWindowTest, SlotInUseClosesTheOldWindowFirst) {
    int32_t first = CreateTopWindowDefault(3, 10, 10, 100, 80, "first");
    HWND old = reinterpret_cast<HWND>(static_cast<intptr_t>(first));
    ASSERT_TRUE(IsWindow(old)) << "a slot number gives the window handle";
    int32_t second = CreateTopWindowDefault(3, 20, 20, 100, 80, "second");
    HWND replacement = reinterpret_cast<HWND>(static_cast<intptr_t>(second));
    EXPECT_FALSE(IsWindow(old)) << "the old window is destroyed";
    EXPECT_TRUE(IsWindow(replacement));
    EXPECT_EQ(WindowOf(3), replacement);
    DestroyTopWindow(3);
    EXPECT_FALSE(IsWindow(replacement));
    EXPECT_FALSE(ClassRegistered("WindowClass_3")) << "closing unregisters the class";
    EXPECT_EQ(FindWindowRecord(3), nullptr);
}

TEST_F(TopWindowTest, FailedCreationLeavesNoClassAndNoRecord) {
    HWND badParent = reinterpret_cast<HWND>(static_cast<intptr_t>(0x7FFF1234));
    EXPECT_EQ(CreateTopWindow(5, 10, 10, 100, 80, "orphan", DefaultWindowFlags, badParent), 0);
    EXPECT_FALSE(ClassRegistered("WindowClass_5"));
    EXPECT_EQ(FindWindowRecord(5), nullptr);
}

TEST_F(TopWindowTest, TopmostOnAndOffKeepsPlaceAndSize) {
    int32_t number = CreateTopWindowDefault(-1, 150, 130, 300, 200, "topmost");
    HWND window = WindowOf(number);
    RECT before = OuterRect(window);
    SetWindowTopmost(number, 1);
    FlushMessages();
    EXPECT_TRUE(IsTopmost(window));
    SetWindowTopmost(number, 0);
    FlushMessages();
    EXPECT_FALSE(IsTopmost(window));
    RECT after = OuterRect(window);
    EXPECT_TRUE(EqualRect(&before, &after))
        << "got " << after.left << "," << after.top << " " << after.right << "," << after.bottom;
    SetWindowTopmost(0x7FFF0000, 1); // names nothing: no effect, no crash
}

TEST_F(TopWindowTest, ClosingRemovesTheWindowsQueuedEventsOnly) {
    int32_t a = CreateTopWindowDefault(-1, 10, 10, 100, 80, "a");
    int32_t b = CreateTopWindowDefault(-1, 30, 30, 100, 80, "b");
    FlushMessages();
    window_testing::DrainEvents();
    PostMessageA(WindowOf(a), WM_CLOSE, 0, 0);
    PostMessageA(WindowOf(b), WM_CLOSE, 0, 0);
    PostMessageA(WindowOf(a), WM_MOVE, 0, 0);
    FlushMessages();
    dovemarl::ui::Event events[8];
    ASSERT_EQ(dovemarl::ui::PeekQueuedEvents(events, 8), 3);
    DestroyTopWindow(a);
    int count = dovemarl::ui::PeekQueuedEvents(events, 8);
    std::vector<int32_t> windows;
    for (int i = 0; i < count; ++i) {
        windows.push_back(events[i].window);
    }
    // What destroying a itself queues (deactivation of b, ...) may follow.
    ASSERT_GE(windows.size(), 1u);
    EXPECT_EQ(events[0].code, dovemarl::ui::EventClose);
    EXPECT_EQ(events[0].window, b);
    for (int32_t window : windows) {
        EXPECT_NE(window, a) << "no event of the closed window is left";
    }
}

} // namespace
