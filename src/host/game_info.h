#pragma once
// The 32-byte record the host and the plug-in exchange (declared in the
// contract header): the host fills it and passes its address to pluginrun;
// the plug-in writes only newtitle.
#include <cstddef>
#include <cstdint>

#include "dovemarl/plugin_contract.h"
#include "runtime/text_variable.h"

namespace dovemarl::host {

using GameInfo = dovemarl::GameInfo;

// The record's own text fields (title), for ReleaseTextFields.
inline constexpr int32_t GameInfoTextLayout[] = {offsetof(GameInfo, title), runtime::TextLayoutEnd};

} // namespace dovemarl::host
