#pragma once
// The title the plug-in proposes for the game window: one module-wide text
// variable whose characters the host reads through GameInfo::newtitle.
#include "host/game_info.h"

namespace dovemarl::run {

// Assigns the proposed title anew and stores its address in the record's
// newtitle. The address stays valid until the next proposal or the detach.
void ProposeTitle(host::GameInfo* record);
// Forgets the variable; its block goes with TextHeap.
void StopProposedTitle();

} // namespace dovemarl::run
