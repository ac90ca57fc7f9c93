#include "ui/ended_thread_windows.h"

#include <windows.h>

#include "runtime/object_table.h"
#include "ui/control_parent.h"
#include "ui/label.h"
#include "ui/top_window.h"

namespace dovemarl::ui {

namespace {

// Records are collected a few at a time and released outside the walk.
constexpr int32_t Batch = 32;
// More than any table holds; a bound in case a release left its record.
constexpr int BatchLimit = 4096;

// When a thread ends, the system destroys its windows without sending them
// WM_NCDESTROY, so nothing in the module hears of it: the window record (and
// its class, its accelerator table), and the record of every label, would
// stay for the life of the module, with the window's saved control-parent
// state: a few hundred bytes and a class name for each pluginrun made on a
// short-lived host thread. A record whose window is
// still alive, or not yet made, is not touched.
bool OfEndedThread(const HWND window, const void* recordState, const void* threadState) {
    return recordState == threadState && window != nullptr && !IsWindow(window);
}

bool WindowOfEndedThread(const void* record, const void* threadState) {
    auto* window = static_cast<const WindowRecord*>(record);
    return OfEndedThread(window->window, window->threadState, threadState);
}

bool ControlOfEndedThread(const void* record, const void* threadState) {
    auto* control = static_cast<const ControlRecord*>(record);
    return OfEndedThread(control->window, control->threadState, threadState);
}

void ForgetControl(int32_t number) {
    auto* record = static_cast<ControlRecord*>(runtime::FindRecord(ControlTable, number));
    if (record == nullptr) {
        return;
    }
    if (record->type != nullptr && record->type->release != nullptr) {
        record->type->release(record);
    }
    runtime::GiveBackRecord(ControlTable, number);
}

template <typename Release>
void ReleaseEach(runtime::ObjectTable* table, runtime::RecordFilter select, const void* threadState,
                 Release release) {
    int32_t numbers[Batch];
    for (int round = 0; round < BatchLimit; ++round) {
        int32_t found = runtime::CollectRecords(table, select, threadState, numbers, Batch);
        for (int32_t i = 0; i < found; ++i) {
            release(numbers[i]);
        }
        if (found < Batch) {
            return;
        }
    }
}

} // namespace

void ForgetEndedThreadWindows(const void* threadState) {
    if (threadState == nullptr) {
        return;
    }
    // The window's own release finds a dead window: DestroyWindow fails
    // harmlessly, and its class can now be unregistered.
    ReleaseEach(WindowTable, WindowOfEndedThread, threadState, DestroyTopWindow);
    ReleaseEach(ControlTable, ControlOfEndedThread, threadState, ForgetControl);
    ForgetDeadControlParents();
}

} // namespace dovemarl::ui
