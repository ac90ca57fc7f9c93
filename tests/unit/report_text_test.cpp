// The reports and label lines, byte for byte.
#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "host/game_info.h"
#include "run/report_text.h"
#include "runtime/text_building.h"
#include "support/example_record.h"

namespace {

using dovemarl::host::GameInfo;
using namespace dovemarl::run;
using namespace dovemarl::runtime;
using testing_support::ExampleRecord;

// What build appends to the workspace, as a string; the workspace is left as
// it was.
template <typename Build> std::string Built(Build build) {
    int32_t mark = TextMark();
    build();
    std::string text = TextBase() + mark;
    TextRelease(mark);
    return text;
}

std::string Report(const char* heading, const GameInfo& record) {
    return Built([&] { AppendReport(heading, &record); });
}

std::string Label(int label, const GameInfo& record) {
    return Built([&] { AppendLabelLine(label, &record); });
}

TEST(ReportText, RawReportOfTheExampleRecord) {
    EXPECT_EQ(Report(RawReportHeading, ExampleRecord()), "###Raw structure read###\r\n"
                                                         "Title: 'Game'\r\n"
                                                         "Pid: 812\r\n"
                                                         "Hwnd: 590\r\n"
                                                         "X/Y: 100/50\r\n"
                                                         "Width/Height: 800/600");
}

TEST(ReportText, QueryReportOfAnEmptyRecordShowsZerosAndNoTitle) {
    GameInfo empty = {};
    EXPECT_EQ(Report(QueryReportHeading, empty), "###Data retrieved from Sableroot.dll###\r\n"
                                                 "Title: ''\r\n"
                                                 "Pid: 0\r\n"
                                                 "Hwnd: 0\r\n"
                                                 "X/Y: 0/0\r\n"
                                                 "Width/Height: 0/0");
}

TEST(ReportText, ExtremeValuesPrintSigned) {
    GameInfo record = {};
    record.pid = -1;
    record.hwnd = 0x80000000u;
    record.winx = INT32_MIN;
    record.winy = INT32_MAX;
    record.winwidth = -3;
    record.winheight = 0;
    record.title = "it's \"quoted\"\r\n";
    EXPECT_EQ(Report(RawReportHeading, record), "###Raw structure read###\r\n"
                                                "Title: 'it's \"quoted\"\r\n'\r\n"
                                                "Pid: -1\r\n"
                                                "Hwnd: -2147483648\r\n"
                                                "X/Y: -2147483648/2147483647\r\n"
                                                "Width/Height: -3/0");
    record.hwnd = 0xFFFFFFFFu;
    EXPECT_EQ(Label(7, record), "Hwnd :-1");
}

TEST(ReportText, LabelLines) {
    GameInfo record = ExampleRecord();
    const char* expected[] = {"Pid: 812",   "Title: Game", "X: 100",   "Y: 50",
                              "Width: 800", "Height: 600", "Hwnd :590"};
    for (int label = 1; label <= LabelCount; ++label) {
        EXPECT_EQ(Label(label, record), expected[label - 1]) << "label " << label;
    }
    record.title = nullptr;
    EXPECT_EQ(Label(2, record), "Title: ");
}

TEST(ReportText, BuildingLeavesTheWorkspaceWhereItWas) {
    int32_t before = TextMark();
    Report(RawReportHeading, ExampleRecord());
    EXPECT_EQ(TextMark(), before);
}

} // namespace
