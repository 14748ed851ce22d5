#pragma once

#include <windows.h>

namespace clearstrand::win32 {

// What a window's size and font follow from: the DPI of the monitor it is on.
// The per-monitor functions exist from Windows 10 1607 on; older systems get
// the system DPI.
unsigned WindowDpi(HWND hwnd);
// The frame a window of that style needs around a client area of that size.
RECT FrameForClient(int width, int height, unsigned dpi, DWORD style, DWORD exStyle);
// The system's message font, sized for `dpi`.
LOGFONTW MessageFont(unsigned dpi);

}  // namespace clearstrand::win32
