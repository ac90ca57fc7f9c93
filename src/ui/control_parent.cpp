#include "ui/control_parent.h"

#include "runtime/decimal_digits.h"
#include "runtime/heaps.h"
#include "runtime/linked_list.h"
#include "runtime/module.h"
#include "runtime/thread_area.h"
#include "ui/window_retirement.h"

namespace dovemarl::ui {

namespace {

constexpr int32_t InitialStackCapacity = 10;
constexpr char SavePropertyPrefix[] = "ControlParentSave_";
constexpr int PropertyNameCapacity = 40;

// What a window that has been a control parent keeps under its saved-state
// property. The records of all threads are also on one list, so that the
// subclasses can be removed at detach.
struct SavedParentState {
    SavedParentState* next;
    SavedParentState* prev;
    HWND window;
    HWND current;
    HWND* stack;
    int32_t depth;
    int32_t capacity;
    WNDPROC previous;
};

int32_t ParentArea = 0;
bool ParentAreaRegistered = false;
char SavePropertyName[PropertyNameCapacity] = "";
SavedParentState* SavedStates = nullptr;
SRWLOCK SavedStatesLock = SRWLOCK_INIT;

HWND* NewStack() {
    return static_cast<HWND*>(runtime::NewRecord(InitialStackCapacity * sizeof(HWND)));
}

void InitParentState(void* area) {
    auto* state = static_cast<ControlParentState*>(area);
    state->stack = NewStack();
    state->capacity = InitialStackCapacity;
    state->depth = 0;
    state->current = nullptr;
    state->font = nullptr; // the label font
}

void ReleaseParentState(void* area) {
    auto* state = static_cast<ControlParentState*>(area);
    runtime::FreeRecord(state->stack);
    state->stack = nullptr;
}

// The thread's state without making any (for a window being destroyed).
ControlParentState* ExistingParentState() {
    return ParentAreaRegistered
               ? static_cast<ControlParentState*>(runtime::ExistingThreadArea(ParentArea))
               : nullptr;
}

SavedParentState* SavedStateOf(HWND window) {
    return static_cast<SavedParentState*>(GetPropA(window, SavePropertyName));
}

void Track(SavedParentState* saved) {
    AcquireSRWLockExclusive(&SavedStatesLock);
    runtime::PushFront(SavedStates, saved);
    ReleaseSRWLockExclusive(&SavedStatesLock);
}

void Untrack(SavedParentState* saved) {
    AcquireSRWLockExclusive(&SavedStatesLock);
    runtime::Unlink(SavedStates, saved);
    ReleaseSRWLockExclusive(&SavedStatesLock);
}

void SaveInto(SavedParentState* saved, ControlParentState* state) {
    saved->current = state->current;
    saved->stack = state->stack;
    saved->depth = state->depth;
    saved->capacity = state->capacity;
    state->stack = nullptr; // the record holds the stack block now
}

void LoadFrom(ControlParentState* state, SavedParentState* saved) {
    runtime::FreeRecord(state->stack);
    state->current = saved->current;
    state->stack = saved->stack;
    state->depth = saved->depth;
    state->capacity = saved->capacity;
    saved->stack = nullptr; // the thread holds it now
}

// A window that becomes a control parent for the first time.
void Adopt(ControlParentState* state, HWND window) {
    if (state->stack == nullptr) {
        state->stack = NewStack();
        state->capacity = InitialStackCapacity;
    }
    state->depth = 0;
    state->current = window;
    auto* saved = runtime::NewRecord<SavedParentState>();
    if (saved == nullptr) {
        return; // the window is the parent, without a subclass to restore it
    }
    saved->window = window;
    SetPropA(window, SavePropertyName, saved);
    saved->previous = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(window, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(ControlParentProc)));
    Track(saved);
}

// "ControlParentSave_" and the module instance in decimal: a name of this
// load's own, so that a window left by an earlier load is never taken for one
// of this load's. Formatted by the module itself, at attach, where user32's
// formatting must not be called.
void FormatSavePropertyName() {
    constexpr int PrefixLength = sizeof SavePropertyPrefix - 1;
    constexpr int LongestNumber = sizeof "-2147483648" - 1;
    static_assert(PrefixLength + LongestNumber < PropertyNameCapacity, "room for any number");
    CopyMemory(SavePropertyName, SavePropertyPrefix, PrefixLength);
    int digits = runtime::WriteDecimal32(
        SavePropertyName + PrefixLength,
        static_cast<int32_t>(reinterpret_cast<intptr_t>(runtime::ModuleInstance)));
    SavePropertyName[PrefixLength + digits] = '\0';
}

} // namespace

void StartControlParents() {
    FormatSavePropertyName();
    SavedStates = nullptr;
    ParentArea = runtime::RegisterThreadArea(sizeof(ControlParentState), InitParentState,
                                             ReleaseParentState);
    ParentAreaRegistered = true;
}

void StopControlParents() {
    AcquireSRWLockExclusive(&SavedStatesLock);
    for (SavedParentState* saved = SavedStates; saved != nullptr; saved = saved->next) {
        RemoveSubclass(saved->window, ControlParentProc, saved->previous);
        RemovePropA(saved->window, SavePropertyName);
    }
    SavedStates = nullptr; // the records go with MainHeap
    ReleaseSRWLockExclusive(&SavedStatesLock);
    ParentAreaRegistered = false;
}

ControlParentState* ThisThreadControlParent() {
    return ParentAreaRegistered ? static_cast<ControlParentState*>(runtime::ThreadArea(ParentArea))
                                : nullptr;
}

HWND CurrentParentOf(const ControlParentState* state) {
    if (state == nullptr) {
        return nullptr;
    }
    return state->depth != 0 && state->stack != nullptr ? state->stack[0] : state->current;
}

HWND SelectControlParent(HWND window) {
    ControlParentState* state = ThisThreadControlParent();
    if (state == nullptr) {
        return nullptr;
    }
    HWND previous = CurrentParentOf(state);
    if (window == nullptr) {
        return previous;
    }
    if (previous != nullptr) {
        if (SavedParentState* saved = SavedStateOf(previous)) {
            SaveInto(saved, state);
        }
    }
    if (SavedParentState* saved = SavedStateOf(window)) {
        LoadFrom(state, saved);
    } else {
        Adopt(state, window);
    }
    return previous;
}

namespace {

LRESULT HandleControlParentMessage(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    SavedParentState* saved = SavedStateOf(window);
    if (saved == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    WNDPROC previous = saved->previous;
    if (message == WM_NCDESTROY) {
        // A destroyed parent leaves its thread without one: later labels fail
        // until a window is opened or selected.
        ControlParentState* state = ExistingParentState();
        if (state != nullptr && CurrentParentOf(state) == window) {
            state->current = nullptr;
            state->depth = 0;
        }
        Untrack(saved);
        runtime::FreeRecord(saved->stack);
        runtime::FreeRecord(saved);
        RemovePropA(window, SavePropertyName);
    }
    if (previous == nullptr) {
        return DefWindowProcA(window, message, wParam, lParam);
    }
    return CallWindowProcA(previous, window, message, wParam, lParam);
}

} // namespace

LRESULT CALLBACK ControlParentProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    return RunCounted(HandleControlParentMessage, window, message, wParam, lParam);
}

void ForgetDeadControlParents() {
    // A window destroyed on its own thread gives its record back at
    // WM_NCDESTROY, while its handle is still valid; a record whose window is
    // no longer a window belongs to one the system destroyed with its thread.
    AcquireSRWLockExclusive(&SavedStatesLock);
    for (SavedParentState* saved = SavedStates; saved != nullptr;) {
        SavedParentState* next = saved->next;
        if (!IsWindow(saved->window)) {
            runtime::Unlink(SavedStates, saved);
            runtime::FreeRecord(saved->stack);
            runtime::FreeRecord(saved);
        }
        saved = next;
    }
    ReleaseSRWLockExclusive(&SavedStatesLock);
}

const char* ControlParentSaveProperty() {
    return SavePropertyName;
}

} // namespace dovemarl::ui
