#include "run/report_text.h"

#include "runtime/text_building.h"

namespace dovemarl::run {

namespace {

enum class Field { Pid, Title, WinX, WinY, WinWidth, WinHeight, Hwnd };

// A literal and the field whose value follows it.
struct Piece {
    const char* text;
    Field field;
};

// A report after its heading: the title first, as read.
constexpr Piece ReportPieces[] = {
    {"", Field::Title},         {"'\r\nPid: ", Field::Pid}, {"\r\nHwnd: ", Field::Hwnd},
    {"\r\nX/Y: ", Field::WinX}, {"/", Field::WinY},         {"\r\nWidth/Height: ", Field::WinWidth},
    {"/", Field::WinHeight},
};

// Labels 1 to 7. Label 7's prefix differs from the others and from the
// reports: the space comes before the colon.
constexpr Piece LabelPieces[LabelCount] = {
    {"Pid: ", Field::Pid},   {"Title: ", Field::Title},    {"X: ", Field::WinX},
    {"Y: ", Field::WinY},    {"Width: ", Field::WinWidth}, {"Height: ", Field::WinHeight},
    {"Hwnd :", Field::Hwnd},
};

// Numbers print as the field's 32-bit value taken as signed, widened with its
// sign: a handle at or above 2^31 prints negative.
void AppendNumber(int32_t value) {
    runtime::AppendDecimal(static_cast<int64_t>(value));
}

// Reads the field once, as it is at this moment.
void AppendFieldValue(Field field, const host::GameInfo* record) {
    switch (field) {
    case Field::Pid:
        return AppendNumber(record->pid);
    case Field::Title:
        return runtime::AppendForeignText(record->title);
    case Field::WinX:
        return AppendNumber(record->winx);
    case Field::WinY:
        return AppendNumber(record->winy);
    case Field::WinWidth:
        return AppendNumber(record->winwidth);
    case Field::WinHeight:
        return AppendNumber(record->winheight);
    case Field::Hwnd:
        return AppendNumber(static_cast<int32_t>(record->hwnd));
    }
}

void AppendPiece(const Piece& piece, const host::GameInfo* record) {
    runtime::AppendText(piece.text);
    AppendFieldValue(piece.field, record);
}

} // namespace

void AppendReport(const char* heading, const host::GameInfo* record) {
    runtime::AppendText(heading);
    for (const Piece& piece : ReportPieces) {
        AppendPiece(piece, record);
    }
}

void AppendLabelLine(int label, const host::GameInfo* record) {
    if (label >= 1 && label <= LabelCount) {
        AppendPiece(LabelPieces[label - 1], record);
    }
}

} // namespace dovemarl::run
