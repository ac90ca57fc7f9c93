#pragma once
// Keyboard focus in the module's windows: Tab cycling between tab stops and
// the focus rectangles and keyboard underlines.
#include <windows.h>

namespace dovemarl::ui {

// Moves the focus to the next tab stop of the active window, or the previous
// one when backwards is true, wrapping around at the ends.
void CycleFocus(bool backwards);
// Shows or hides the window's focus rectangles and keyboard underlines.
void SetFocusCues(HWND window, bool show);

} // namespace dovemarl::ui
