#include "run/run_sequence.h"

#include <windows.h>

#include "host/query_client.h"
#include "run/monitor_window.h"
#include "run/proposed_title.h"
#include "run/report_text.h"
#include "run/timer_resolution.h"
#include "runtime/text_building.h"
#include "runtime/text_variable.h"
#include "runtime/text_workspace.h"
#include "ui/message_box.h"
#include "ui/post_window.h"

namespace dovemarl::run {

namespace {

constexpr DWORD ProposalWaitMs = 1000;

// Builds the whole report before the box shows it, so a change to the record
// while the box is up shows only in later texts.
void ShowReport(const char* boxTitle, const char* heading, const host::GameInfo* record) {
    int32_t mark = runtime::TextMark();
    AppendReport(heading, record);
    runtime::TextSeal();
    ui::ShowMessageBoxDefault(boxTitle, runtime::TextBase() + mark);
    runtime::TextRelease(mark);
}

} // namespace

int32_t RunPlugin(host::GameInfo* record) {
    if (record == nullptr) {
        return 0; // nothing to report on, and nowhere to propose a title
    }
    runtime::ReadyTextWorkspace();
    ui::EnsurePostWindow();
    int32_t library = host::OpenQueryLibrary();
    ProposeTitle(record);

    SleepPrecisely(ProposalWaitMs);

    ShowReport("Dovemarl Debug 1", RawReportHeading, record);
    host::GameInfo answers = {};
    host::QueryGameInfo(library, record, &answers);
    ShowReport("Dovemarl Debug 2", QueryReportHeading, &answers);
    host::CloseQueryLibrary(library);

    RunMonitorWindow(record);

    runtime::ReleaseTextFields(&answers, host::GameInfoTextLayout);
    return 0;
}

} // namespace dovemarl::run
