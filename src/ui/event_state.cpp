#include "ui/event_state.h"

#include "runtime/heaps.h"
#include "runtime/thread_area.h"
#include "ui/ended_thread_windows.h"

namespace dovemarl::ui {

namespace {

// The window layer reserves a per-thread area for sizing state; no window of
// this module has a sizing border, so nothing is kept in it yet.
constexpr int32_t SizingAreaSize = 16;

int32_t StateArea = 0;
bool StateAreaRegistered = false;

// Runs on a watcher thread once the area's thread has ended.
void ReleaseState(void* area) {
    ReleaseAttachedData(static_cast<EventState*>(area));
    ForgetEndedThreadWindows(area);
}

} // namespace

void RegisterEventStateAreas() {
    StateArea = runtime::RegisterThreadArea(sizeof(EventState), nullptr, ReleaseState);
    runtime::RegisterThreadArea(SizingAreaSize, nullptr, nullptr);
    StateAreaRegistered = true;
}

void ForgetEventStateAreas() {
    StateAreaRegistered = false;
}

EventState* ThisThreadEventState() {
    return runtime::ServiceArea<EventState>(StateAreaRegistered, StateArea);
}

EventState* ExistingEventState() {
    return runtime::ExistingServiceArea<EventState>(StateAreaRegistered, StateArea);
}

void ReleaseAttachedData(EventState* state) {
    if (state == nullptr || state->attached == nullptr) {
        return;
    }
    runtime::FreeRecord(state->attached->inner);
    runtime::FreeRecord(state->attached);
    state->attached = nullptr;
}

} // namespace dovemarl::ui
