#pragma once
// Solid brushes shared by all controls with the same background colour,
// counted, and deleted when their last user gives them back.
#include <windows.h>

namespace dovemarl::ui {

void StartBrushCache();
void StopBrushCache();

// The cache's brush for colour, counting one more user; null when none can be
// made.
HBRUSH TakeBrush(COLORREF colour);
// Counts one user less; at none the brush is deleted. Null does nothing.
void GiveBackBrush(HBRUSH brush);

#ifdef DOVEMARL_TEST_BUILD
// For tests: how many users the brush of colour has (0 when not cached).
int BrushUsers(COLORREF colour);
#endif

} // namespace dovemarl::ui
