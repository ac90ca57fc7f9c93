#include "run/report_text.h"

#include "runtime/text_building.h"

namespace dovemarl::run {

namespace {

// Numbers print as the field's 32-bit value taken as signed, widened with its
// sign: a handle at or above 2^31 prints negative.
void AppendField(int32_t value) {
    runtime::AppendDecimal(static_cast<int64_t>(value));
}
void AppendField(uint32_t value) {
    AppendField(static_cast<int32_t>(value));
}

} // namespace

void AppendReport(const char* heading, const host::GameInfo* record) {
    runtime::AppendText(heading);
    runtime::AppendForeignText(record->title);
    runtime::AppendText("'\r\nPid: ");
    AppendField(record->pid);
    runtime::AppendText("\r\nHwnd: ");
    AppendField(record->hwnd);
    runtime::AppendText("\r\nX/Y: ");
    AppendField(record->winx);
    runtime::AppendText("/");
    AppendField(record->winy);
    runtime::AppendText("\r\nWidth/Height: ");
    AppendField(record->winwidth);
    runtime::AppendText("/");
    AppendField(record->winheight);
}

void AppendLabelLine(int label, const host::GameInfo* record) {
    switch (label) {
    case 1:
        runtime::AppendText("Pid: ");
        AppendField(record->pid);
        break;
    case 2:
        runtime::AppendText("Title: ");
        runtime::AppendForeignText(record->title);
        break;
    case 3:
        runtime::AppendText("X: ");
        AppendField(record->winx);
        break;
    case 4:
        runtime::AppendText("Y: ");
        AppendField(record->winy);
        break;
    case 5:
        runtime::AppendText("Width: ");
        AppendField(record->winwidth);
        break;
    case 6:
        runtime::AppendText("Height: ");
        AppendField(record->winheight);
        break;
    case 7:
        runtime::AppendText("Hwnd :"); // unlike the others: the space comes before the colon
        AppendField(record->hwnd);
        break;
    default:
        break;
    }
}

} // namespace dovemarl::run
