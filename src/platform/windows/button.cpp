#include "platform/windows/button.h"

namespace clearstrand::win32 {

bool Button::Enabled() const {
    return IsWindowEnabled(hwnd_) != FALSE;
}

void Button::SetEnabled(bool enabled) {
    EnableWindow(hwnd_, enabled ? TRUE : FALSE);
}

}  // namespace clearstrand::win32
