#pragma once

#include <windows.h>

namespace clearstrand::win32 {

// The window's private messages.
// After a user click or Space on a check box, to read the box once it flipped.
inline constexpr UINT kNodeCheckMessage = WM_APP + 1;
// After a bulk change of the tree, to draw it once.
inline constexpr UINT kTreeRedrawMessage = WM_APP + 2;
// Right after the window is first shown: its one activation.
inline constexpr UINT kFirstActivateMessage = WM_APP + 3;

}  // namespace clearstrand::win32
