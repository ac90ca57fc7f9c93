#pragma once
// The texts pluginrun makes of a GameInfo record: the two reports and the
// seven label lines of the monitor window.
#include <cstdint>

#include "host/game_info.h"

namespace dovemarl::run {

constexpr char RawReportHeading[] = "###Raw structure read###\r\nTitle: '";
constexpr char QueryReportHeading[] = "###Data retrieved from Sableroot.dll###\r\nTitle: '";
constexpr int LabelCount = 7;

// Appends a report (heading, then title, pid, hwnd, position and size) to the
// calling thread's workspace, reading each field once, title first.
void AppendReport(const char* heading, const host::GameInfo* record);
// Appends the text of label 1 to 7 from the record's current values.
void AppendLabelLine(int label, const host::GameInfo* record);

} // namespace dovemarl::run
