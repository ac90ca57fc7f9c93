// Labels and control parents: where a label goes and how it looks, how it is
// named, texts, and the per-thread current parent with its saved state.
#include "unit/window_support.h"

#include <thread>

#include "ui/brush_cache.h"
#include "ui/control_parent.h"
#include "ui/label.h"
#include "ui/window_codes.h"

namespace {

using dovemarl::ui::ControlParentSaveProperty;
using dovemarl::ui::CreateLabel;
using dovemarl::ui::CreateTopWindow;
using dovemarl::ui::CreateTopWindowDefault;
using dovemarl::ui::DefaultWindowFlags;
using dovemarl::ui::DispatchControlMessage;
using dovemarl::ui::NotControlParent;
using dovemarl::ui::NotHandled;
using dovemarl::ui::SelectControlParent;
using dovemarl::ui::SetLabelText;
using window_testing::WindowLayerTest;
using window_testing::WindowOf;

HWND LabelWindow(int32_t label) {
    auto* record = static_cast<dovemarl::ui::ControlRecord*>(
        dovemarl::runtime::FindRecord(dovemarl::ui::ControlTable, label));
    return record != nullptr ? record->window : nullptr;
}

std::string TextOf(HWND window) {
    char text[256] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

using LabelTest = WindowLayerTest;

TEST_F(LabelTest, LabelSitsInTheWindowOpenedLast) {
    HWND parent = WindowOf(CreateTopWindowDefault(-1, 50, 50, 300, 200, "parent"));
    int32_t label = CreateLabel(-1, 10, 30, 300, 20, "");
    HWND control = LabelWindow(label);
    ASSERT_NE(control, nullptr);
    EXPECT_EQ(GetParent(control), parent);
    RECT rect = {};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&rect), 2);
    EXPECT_EQ(rect.left, 10);
    EXPECT_EQ(rect.top, 30);
    EXPECT_EQ(rect.right - rect.left, 300);
    EXPECT_EQ(rect.bottom - rect.top, 20);

    LONG style = GetWindowLongA(control, GWL_STYLE);
    EXPECT_TRUE(style & WS_VISIBLE);
    EXPECT_EQ(style & (WS_TABSTOP | SS_NOTIFY | SS_TYPEMASK), 0)
        << "left-aligned, never a tab stop, no notifications: " << std::hex << style;
    EXPECT_EQ(GetWindowLongA(control, GWL_EXSTYLE) & WS_EX_CLIENTEDGE, 0);
    EXPECT_EQ(reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)),
              GetStockObject(DEFAULT_GUI_FONT));
    EXPECT_EQ(GetWindowLongA(control, GWL_ID), label);
    EXPECT_EQ(reinterpret_cast<intptr_t>(GetPropA(control, "ControlNumber")), label);
    char className[16] = "";
    GetClassNameA(control, className, sizeof className);
    EXPECT_STREQ(className, "Static");
    EXPECT_NE(GetPropA(parent, ControlParentSaveProperty()), nullptr);
}

TEST_F(LabelTest, TextsAndNullTexts) {
    CreateTopWindowDefault(-1, 50, 50, 300, 200, "texts");
    int32_t label = CreateLabel(-1, 10, 10, 200, 20, nullptr);
    HWND control = LabelWindow(label);
    EXPECT_EQ(TextOf(control), "");
    SetLabelText(label, "Pid: 812");
    EXPECT_EQ(TextOf(control), "Pid: 812");
    SetLabelText(label, nullptr);
    EXPECT_EQ(TextOf(control), "") << "a null text empties the label";

    DestroyWindow(control);
    EXPECT_EQ(LabelWindow(label), nullptr) << "the record goes with the window";
    SetLabelText(label, "ignored"); // names nothing any more: no effect
}

TEST_F(LabelTest, NoCurrentParentGivesNoLabel) {
    int32_t result = -1;
    std::thread([&] { result = CreateLabel(-1, 0, 0, 10, 10, "x"); }).join();
    EXPECT_EQ(result, 0) << "a thread that opened no window has no parent";

    HWND parent = WindowOf(CreateTopWindowDefault(-1, 50, 50, 300, 200, "doomed"));
    EXPECT_EQ(SelectControlParent(nullptr), parent);
    dovemarl::ui::DestroyTopWindow(-1);
    EXPECT_EQ(SelectControlParent(nullptr), nullptr) << "destroying the parent leaves none";
    EXPECT_EQ(CreateLabel(-1, 0, 0, 10, 10, "x"), 0);
}

TEST_F(LabelTest, SelectingAFormerParentRestoresIt) {
    HWND first = WindowOf(CreateTopWindowDefault(-1, 50, 50, 300, 200, "first"));
    HWND second = WindowOf(CreateTopWindowDefault(-1, 80, 80, 300, 200, "second"));
    HWND quiet = WindowOf(CreateTopWindow(-1, 90, 90, 100, 100, "quiet",
                                          DefaultWindowFlags | NotControlParent, nullptr));
    EXPECT_EQ(SelectControlParent(nullptr), second) << "flag 0x8 leaves the parent as it was";
    EXPECT_EQ(GetPropA(quiet, ControlParentSaveProperty()), nullptr);

    EXPECT_EQ(SelectControlParent(first), second) << "returns the previous parent";
    EXPECT_EQ(GetParent(LabelWindow(CreateLabel(-1, 0, 0, 50, 20, "in first"))), first);
    EXPECT_EQ(SelectControlParent(second), first);
    EXPECT_EQ(GetParent(LabelWindow(CreateLabel(-1, 0, 0, 50, 20, "in second"))), second);
}

TEST_F(LabelTest, OnlyTheModulesControlsAreDispatched) {
    HWND parent = WindowOf(CreateTopWindowDefault(-1, 50, 50, 300, 200, "dispatch"));
    int32_t label = CreateLabel(-1, 0, 0, 50, 20, "x");
    HWND control = LabelWindow(label);
    HDC dc = GetDC(control);
    WPARAM dcParam = reinterpret_cast<WPARAM>(dc);
    LPARAM controlParam = reinterpret_cast<LPARAM>(control);
    EXPECT_EQ(DispatchControlMessage(control, parent, WM_CTLCOLORSTATIC, dcParam, controlParam),
              NotHandled)
        << "default colours: DefWindowProcA draws the label";

    dovemarl::ui::SetControlColour(label, dovemarl::ui::BackgroundColour, RGB(1, 2, 3));
    int32_t brush =
        DispatchControlMessage(control, parent, WM_CTLCOLORSTATIC, dcParam, controlParam);
    EXPECT_NE(brush, NotHandled);
    EXPECT_EQ(GetBkColor(dc), RGB(1, 2, 3));
    EXPECT_EQ(dovemarl::ui::BrushUsers(RGB(1, 2, 3)), 1);

    // A control whose number property and identifier disagree is not one.
    SetWindowLongA(control, GWL_ID, 77);
    EXPECT_EQ(DispatchControlMessage(control, parent, WM_CTLCOLORSTATIC, dcParam, controlParam),
              NotHandled);
    SetWindowLongA(control, GWL_ID, label);
    EXPECT_EQ(DispatchControlMessage(nullptr, parent, WM_CTLCOLORSTATIC, dcParam, 0), NotHandled);
    ReleaseDC(control, dc);

    DestroyWindow(control);
    EXPECT_EQ(dovemarl::ui::BrushUsers(RGB(1, 2, 3)), 0) << "the brush is given back";
}

// Every label shares one constant type: threads creating their first labels
// at the same moment need nothing filled in first.
TEST_F(LabelTest, ThreadsCreatingTheirFirstLabelsAtOnceGetTheLabelType) {
    constexpr int Threads = 6;
    // The windows are opened one after another: Wine's X11 driver is not safe
    // with several threads mapping windows at once. Only the labels race.
    HANDLE go = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE opened = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    int32_t codes[Threads] = {};
    std::vector<std::thread> threads;
    for (int i = 0; i < Threads; ++i) {
        threads.emplace_back([&, i] {
            CreateTopWindowDefault(-1, 10 * i, 10, 100, 80, "racing");
            SetEvent(opened);
            WaitForSingleObject(go, INFINITE);
            int32_t label = CreateLabel(-1, 0, 0, 50, 20, "x");
            auto* record = static_cast<dovemarl::ui::ControlRecord*>(
                dovemarl::runtime::FindRecord(dovemarl::ui::ControlTable, label));
            codes[i] = record != nullptr ? record->type->code : -1;
            dovemarl::ui::DestroyTopWindow(-1); // this thread's windows only succeed
        });
        WaitForSingleObject(opened, INFINITE);
    }
    SetEvent(go);
    for (std::thread& thread : threads) {
        thread.join();
    }
    CloseHandle(go);
    CloseHandle(opened);
    for (int i = 0; i < Threads; ++i) {
        EXPECT_EQ(codes[i], 3) << "thread " << i;
    }
}

} // namespace
