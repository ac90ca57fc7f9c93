#pragma once
// The client of the host's query library: the same facts as the GameInfo
// record, asked of seven functions of "sableroot.dll".
#include <cstdint>

#include "host/game_info.h"

namespace dovemarl::host {

// Loads the query library by its bare file name (the system's standard search
// order); returns its library handle, or 0 when it cannot be loaded.
int32_t OpenQueryLibrary();
// Calls the seven query functions in order, each with the host's record
// exactly as given, and stores their answers in answers (zero-filled by the
// caller). answers->title receives the plug-in's own copy of the title text;
// release it with ReleaseTextFields and GameInfoTextLayout.
void QueryGameInfo(int32_t library, GameInfo* hostRecord, GameInfo* answers);
void CloseQueryLibrary(int32_t library);

} // namespace dovemarl::host
