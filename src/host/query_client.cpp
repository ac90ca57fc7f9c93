#include "host/query_client.h"

#include "runtime/library.h"
#include "runtime/text_building.h"
#include "runtime/text_variable.h"

namespace dovemarl::host {

namespace {

constexpr char QueryLibraryName[] = "sableroot.dll";

// Looked up afresh on every call; a missing function answers 0. One that pops
// another number of bytes than stdcall with one argument returns here all the
// same (the library service restores the stack pointer).
int32_t Ask(int32_t library, const char* name, GameInfo* hostRecord) {
    return runtime::CallLibraryProc(library, name,
                                    static_cast<int32_t>(reinterpret_cast<uintptr_t>(hostRecord)));
}

} // namespace

int32_t OpenQueryLibrary() {
    return runtime::AttachLibrary(runtime::AnyNumber, QueryLibraryName);
}

void QueryGameInfo(int32_t library, GameInfo* hostRecord, GameInfo* answers) {
    answers->winx = Ask(library, "getgamewinx", hostRecord);
    answers->winy = Ask(library, "getgamewiny", hostRecord);
    answers->winwidth = Ask(library, "getgamewinwidth", hostRecord);
    answers->winheight = Ask(library, "getgamewinheight", hostRecord);
    answers->hwnd = static_cast<uint32_t>(Ask(library, "getgamehwnd", hostRecord));
    answers->pid = Ask(library, "getgamepid", hostRecord);

    // The returned text is copied at once; its address is never kept.
    int32_t mark = runtime::TextMark();
    auto* title = reinterpret_cast<const char*>(
        static_cast<uintptr_t>(Ask(library, "getgametitle", hostRecord)));
    runtime::AppendForeignText(title, mark);
    char* copy = nullptr;
    runtime::AssignBuiltText(&copy, mark);
    answers->title = copy;
}

void CloseQueryLibrary(int32_t library) {
    runtime::DetachLibrary(library);
}

} // namespace dovemarl::host
