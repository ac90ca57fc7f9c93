#include "run/report_text.h"

#include <cstring>

#include "runtime/text_building.h"
#include "runtime/text_workspace.h"

namespace dovemarl::run {

namespace {

using runtime::TextWorkspace;

enum class Field { Pid, Title, WinX, WinY, WinWidth, WinHeight, Hwnd };

// A literal, its length, and the field whose value follows it.
struct Piece {
    const char* text;
    size_t length;
    Field field;
};

template <size_t Size> constexpr Piece MakePiece(const char (&text)[Size], Field field) {
    return {text, Size - 1, field};
}

// A report after its heading: the title first, as read.
constexpr Piece ReportPieces[] = {
    MakePiece("", Field::Title),          MakePiece("'\r\nPid: ", Field::Pid),
    MakePiece("\r\nHwnd: ", Field::Hwnd), MakePiece("\r\nX/Y: ", Field::WinX),
    MakePiece("/", Field::WinY),          MakePiece("\r\nWidth/Height: ", Field::WinWidth),
    MakePiece("/", Field::WinHeight),
};

// Labels 1 to 7. Label 7's prefix differs from the others and from the
// reports: the space comes before the colon.
constexpr Piece LabelPieces[LabelCount] = {
    MakePiece("Pid: ", Field::Pid),        MakePiece("Title: ", Field::Title),
    MakePiece("X: ", Field::WinX),         MakePiece("Y: ", Field::WinY),
    MakePiece("Width: ", Field::WinWidth), MakePiece("Height: ", Field::WinHeight),
    MakePiece("Hwnd :", Field::Hwnd),
};

// Numbers print as the field's 32-bit value taken as signed, widened with its
// sign: a handle at or above 2^31 prints negative.
void AppendNumber(TextWorkspace* workspace, int32_t value) {
    runtime::AppendDecimalIn(workspace, static_cast<int64_t>(value));
}

// Reads the field once, as it is at this moment.
void AppendFieldValue(TextWorkspace* workspace, Field field, const host::GameInfo* record) {
    switch (field) {
    case Field::Pid:
        return AppendNumber(workspace, record->pid);
    case Field::Title:
        return runtime::AppendForeignTextIn(workspace, record->title);
    case Field::WinX:
        return AppendNumber(workspace, record->winx);
    case Field::WinY:
        return AppendNumber(workspace, record->winy);
    case Field::WinWidth:
        return AppendNumber(workspace, record->winwidth);
    case Field::WinHeight:
        return AppendNumber(workspace, record->winheight);
    case Field::Hwnd:
        return AppendNumber(workspace, static_cast<int32_t>(record->hwnd));
    }
}

void AppendPiece(TextWorkspace* workspace, const Piece& piece, const host::GameInfo* record) {
    runtime::AppendTextIn(workspace, piece.text, piece.length);
    AppendFieldValue(workspace, piece.field, record);
}

} // namespace

// Each text looks up the thread's workspace once and builds all its pieces
// in it.
void AppendReport(const char* heading, const host::GameInfo* record) {
    TextWorkspace* workspace = runtime::CurrentTextWorkspace();
    runtime::AppendTextIn(workspace, heading, heading != nullptr ? std::strlen(heading) : 0);
    for (const Piece& piece : ReportPieces) {
        AppendPiece(workspace, piece, record);
    }
}

void AppendLabelLine(int label, const host::GameInfo* record) {
    if (label >= 1 && label <= LabelCount) {
        AppendPiece(runtime::CurrentTextWorkspace(), LabelPieces[label - 1], record);
    }
}

} // namespace dovemarl::run
