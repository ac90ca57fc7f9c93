#include "ui/label.h"

#include "runtime/module.h"
#include "ui/brush_cache.h"
#include "ui/control_parent.h"
#include "ui/event_state.h"
#include "ui/event_queue.h"
#include "ui/window_codes.h"
#include "ui/window_retirement.h"
#include "ui/window_system.h"

namespace dovemarl::ui {

runtime::ObjectTable* ControlTable = nullptr;

namespace {

constexpr int32_t ControlTableSlots = 50;
constexpr int32_t LabelTypeCode = 3;
constexpr DWORD LabelStyle = WS_CHILD | WS_VISIBLE | WS_GROUP; // 0x50020000
// Flag bit 0x00020000 asks for a sunken edge: shifted, it is WS_EX_CLIENTEDGE.
constexpr int FlagToEdgeShift = 8;
constexpr DWORD EdgeMask = WS_EX_CLIENTEDGE;
constexpr int32_t UnregisteredId = -1;
constexpr UINT RedrawAll = RDW_INVALIDATE | RDW_INTERNALPAINT | RDW_ERASE | RDW_FRAME;

int32_t LabelColourMessage(ControlRecord* record, HWND, UINT message, WPARAM wParam, LPARAM) {
    if (message != WM_CTLCOLORSTATIC) {
        return NotHandled;
    }
    auto dc = reinterpret_cast<HDC>(wParam);
    int32_t result = NotHandled;
    if (record->text != DefaultColour) {
        SetTextColor(dc, record->text);
        if (record->background == DefaultColour) {
            SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
            result =
                static_cast<int32_t>(reinterpret_cast<intptr_t>(GetSysColorBrush(COLOR_BTNFACE)));
        }
    }
    if (record->background != DefaultColour) {
        SetBkColor(dc, record->background);
        result = static_cast<int32_t>(reinterpret_cast<intptr_t>(record->brush));
    }
    return result;
}

void LabelRelease(ControlRecord* record) {
    GiveBackBrush(record->brush);
    record->brush = nullptr;
}

void LabelSetColour(ControlRecord* record, int32_t kind, COLORREF colour) {
    if (kind == TextColour) {
        record->text = colour;
    } else if (kind == BackgroundColour) {
        GiveBackBrush(record->brush);
        record->background = colour;
        record->brush = colour != DefaultColour ? TakeBrush(colour) : nullptr;
    }
    RedrawWindow(record->window, nullptr, nullptr, RedrawAll);
}

COLORREF LabelGetColour(const ControlRecord* record, int32_t kind) {
    if (kind == TextColour) {
        return record->text;
    }
    return kind == BackgroundColour ? record->background : DefaultColour;
}

// Shared by every label and never changed, so no thread has to fill it.
constexpr ControlType LabelType = {
    LabelTypeCode, LabelColourMessage, LabelRelease, nullptr, LabelSetColour, LabelGetColour,
};

ControlRecord* FindControl(int32_t control) {
    return static_cast<ControlRecord*>(runtime::FindRecord(ControlTable, control));
}

// The table's release operation: destroying the window lets ControlProc give
// the record back at WM_NCDESTROY.
void ReleaseControl(int32_t control) {
    if (control == runtime::AnyNumber) {
        runtime::ReleaseAllRecords(ControlTable);
        return;
    }
    if (ControlRecord* record = FindControl(control)) {
        DestroyWindow(record->window);
    }
}

// At detach, for every control still alive (in a window of another thread,
// or in a window that is not the module's): its subclass is removed so that
// it never calls into the module again; the control itself stays.
void UnhookControl(int32_t control) {
    if (ControlRecord* record = FindControl(control)) {
        RemoveSubclass(record->window, ControlProc, record->previous);
        RemovePropA(record->window, ControlNumberProperty);
        runtime::GiveBackRecord(ControlTable, control);
    }
}

} // namespace

void StartLabelService() {
    StartBrushCache();
    ControlTable =
        runtime::MakeObjectTable(sizeof(ControlRecord), ControlTableSlots, ReleaseControl);
    StartControlParents();
}

void StopLabelService() {
    if (ControlTable != nullptr) {
        // The walk calls the table's release operation for each record.
        ControlTable->release = UnhookControl;
        runtime::ReleaseAllRecords(ControlTable);
    }
    StopControlParents();
}

void FinishLabelService() {
    runtime::RetireObjectTable(ControlTable);
    StopBrushCache();
}

int32_t CreateLabel(int32_t number, int32_t x, int32_t y, int32_t width, int32_t height,
                    const char* text, uint32_t flags) {
    ControlParentState* state = ThisThreadControlParent();
    if (state == nullptr) {
        return 0;
    }
    if (text == nullptr) {
        text = "";
    }
    EnsureWindowSystem();
    DWORD exStyle = (flags >> FlagToEdgeShift) & EdgeMask;
    HWND control = CreateWindowExA(exStyle, "Static", text, flags | LabelStyle, x, y, width, height,
                                   CurrentParentOf(state),
                                   reinterpret_cast<HMENU>(static_cast<intptr_t>(UnregisteredId)),
                                   runtime::ModuleInstance, nullptr);
    if (control == nullptr) {
        return 0; // also without a current control parent: a child needs one
    }
    auto* record = static_cast<ControlRecord*>(runtime::ObtainRecord(ControlTable, number));
    if (record == nullptr) {
        DestroyWindow(control); // a control that cannot be named is of no use
        return 0;
    }
    bool byHandle = number == runtime::AnyNumber;
    if (byHandle) {
        number = runtime::HandleOf(record);
    }
    record->background = record->text = DefaultColour;
    record->window = control;
    record->threadState = ThisThreadEventState();
    record->type = &LabelType;
    record->previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ControlProc)));
    SetWindowLongA(control, GWL_ID, number);
    SetPropA(control, ControlNumberProperty,
             reinterpret_cast<HANDLE>(static_cast<intptr_t>(number)));
    HFONT font = state->font != nullptr ? state->font : LabelFont();
    SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    return byHandle ? number : static_cast<int32_t>(reinterpret_cast<intptr_t>(control));
}

void SetLabelText(int32_t label, const char* text) {
    if (text == nullptr) {
        text = "";
    }
    ControlRecord* record = FindControl(label);
    if (record == nullptr) {
        return;
    }
    if (record->type->setText != nullptr) {
        record->type->setText(record, text);
    } else {
        SetWindowTextA(record->window, text);
    }
}

void SetControlColour(int32_t control, int32_t kind, COLORREF colour) {
    ControlRecord* record = FindControl(control);
    if (record != nullptr && record->type->setColour != nullptr) {
        record->type->setColour(record, kind, colour);
    }
}

COLORREF ControlColour(int32_t control, int32_t kind) {
    ControlRecord* record = FindControl(control);
    if (record == nullptr || record->type->getColour == nullptr) {
        return DefaultColour;
    }
    return record->type->getColour(record, kind);
}

namespace {

LRESULT HandleControlMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    auto number = static_cast<int32_t>(GetWindowLongA(window, GWL_ID));
    ControlRecord* record = number != UnregisteredId ? FindControl(number) : nullptr;
    if (record == nullptr || record->window != window) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    LRESULT result = CallWindowProcA(record->previous, window, message, wParam, lParam);
    if (message == WM_NCDESTROY) {
        if (record->type->release != nullptr) {
            record->type->release(record);
        }
        RemovePropA(window, ControlNumberProperty);
        SetWindowLongA(window, GWL_ID, UnregisteredId);
        DiscardControlEvents(EventControl, number, AnyValue, AnyValue);
        runtime::GiveBackRecord(ControlTable, number);
    }
    return result;
}

} // namespace

LRESULT CALLBACK ControlProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return RunCounted(HandleControlMessage, window, message, wParam, lParam);
}

int32_t DispatchControlMessage(HWND control, HWND parent, UINT message, WPARAM wParam,
                               LPARAM lParam) {
    if (control == nullptr) {
        return NotHandled;
    }
    // Only a control whose number property and identifier agree is one of
    // the module's (a control being destroyed no longer is).
    auto number =
        static_cast<int32_t>(reinterpret_cast<intptr_t>(GetPropA(control, ControlNumberProperty)));
    if (number != static_cast<int32_t>(GetWindowLongA(control, GWL_ID))) {
        return NotHandled;
    }
    ControlRecord* record = FindControl(number);
    if (record == nullptr || record->window != control || record->type->colourMessage == nullptr) {
        return NotHandled;
    }
    return record->type->colourMessage(record, parent, message, wParam, lParam);
}

BOOL CALLBACK ForwardSysColorChange(HWND child, LPARAM) {
    SendMessageA(child, WM_SYSCOLORCHANGE, 0, 0);
    return TRUE;
}

} // namespace dovemarl::ui
