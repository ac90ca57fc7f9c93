#include "run/proposed_title.h"

#include <windows.h>

#include <cstring>

#include "runtime/text_variable.h"

namespace dovemarl::run {

namespace {

constexpr char ProposedTitleText[] = "Tidewarden - Hello from Dovemarl";

char* ProposedTitle = nullptr;
// Two host threads may propose at once: assigning (which may move the block)
// and publishing the address happen under one lock, so no thread publishes
// an address that another thread's assignment has already freed.
SRWLOCK ProposedTitleLock = SRWLOCK_INIT;

} // namespace

void ProposeTitle(host::GameInfo* record) {
    AcquireSRWLockExclusive(&ProposedTitleLock);
    // An earlier call's host record may still point at the text and the host
    // may read it at any time: a block that already holds the text is kept,
    // never moved or freed.
    if (ProposedTitle == nullptr || std::strcmp(ProposedTitle, ProposedTitleText) != 0) {
        runtime::AssignText(&ProposedTitle, ProposedTitleText);
    }
    record->newtitle = ProposedTitle;
    ReleaseSRWLockExclusive(&ProposedTitleLock);
}

void StopProposedTitle() {
    AcquireSRWLockExclusive(&ProposedTitleLock);
    ProposedTitle = nullptr;
    ReleaseSRWLockExclusive(&ProposedTitleLock);
}

} // namespace dovemarl::run
