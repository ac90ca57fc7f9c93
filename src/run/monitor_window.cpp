#include "run/monitor_window.h"

#include <cstring>

#include "run/report_text.h"
#include "runtime/object_table.h"
#include "runtime/text_building.h"
#include "runtime/text_variable.h"
#include "ui/event_wait.h"
#include "ui/label.h"
#include "ui/top_window.h"
#include "ui/window_codes.h"

namespace dovemarl::run {

namespace {

constexpr char MonitorTitle[] = "Dovemarl Window Test";
constexpr int32_t ClientWidth = 300;
constexpr int32_t ClientHeight = 200;
constexpr int32_t IdleWaitMs = 10;

struct LabelPlace {
    int32_t top;
    int32_t width;
};
constexpr int32_t LabelLeft = 10;
constexpr int32_t LabelHeight = 20;
// Label 2 (the title) reaches 10 pixels past the client area and is clipped.
constexpr LabelPlace LabelPlaces[LabelCount] = {
    {10, 200}, {30, 300}, {50, 200}, {70, 200}, {90, 200}, {110, 200}, {130, 200},
};

// The labels and the texts they show now.
struct MonitorLabels {
    int32_t labels[LabelCount];
    char* shown[LabelCount];
};

// Every label on every refresh, from the record's values at this moment. A
// label whose text has not changed is left alone: setting the same text again
// would repaint it for nothing a hundred times a second.
void Refresh(MonitorLabels* monitor, const host::GameInfo* record) {
    for (int i = 0; i < LabelCount; ++i) {
        int32_t mark = runtime::TextMark();
        AppendLabelLine(i + 1, record);
        runtime::TextSeal();
        const char* text = runtime::TextBase() + mark;
        if (monitor->shown[i] == nullptr || std::strcmp(monitor->shown[i], text) != 0) {
            ui::SetLabelText(monitor->labels[i], text);
            runtime::AssignText(&monitor->shown[i], text);
        }
        runtime::TextRelease(mark);
    }
}

} // namespace

MonitorPlace MonitorPlaceFor(const host::GameInfo* record) {
    // Unsigned arithmetic wraps as 32-bit signed arithmetic does on this
    // machine, without the undefined overflow of extreme values.
    auto wrap = [](uint32_t value) { return static_cast<int32_t>(value); };
    uint32_t left = static_cast<uint32_t>(record->winx) +
                    static_cast<uint32_t>(record->winwidth / 2) - ClientWidth / 2;
    uint32_t top = static_cast<uint32_t>(record->winy) +
                   static_cast<uint32_t>(record->winheight / 2) - ClientHeight / 2;
    return {wrap(left), wrap(top)};
}

void RunMonitorWindow(host::GameInfo* record) {
    MonitorPlace place = MonitorPlaceFor(record);
    int32_t window = ui::CreateTopWindowDefault(runtime::AnyNumber, place.left, place.top,
                                                ClientWidth, ClientHeight, MonitorTitle);
    MonitorLabels monitor = {};
    for (int i = 0; i < LabelCount; ++i) {
        monitor.labels[i] = ui::CreateLabel(runtime::AnyNumber, LabelLeft, LabelPlaces[i].top,
                                            LabelPlaces[i].width, LabelHeight, "");
    }
    ui::SetWindowTopmost(window, 1);

    // 0: idle for the time-out, refresh. 16: a close request. Anything else is
    // a message or event that needs nothing from the loop.
    for (int32_t result = 0; result != ui::EventClose;) {
        result = ui::WaitEvent(IdleWaitMs);
        if (result == ui::EventNone) {
            Refresh(&monitor, record);
        }
    }
    for (char*& shown : monitor.shown) {
        runtime::AssignText(&shown, nullptr);
    }
}

} // namespace dovemarl::run
