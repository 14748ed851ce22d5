#pragma once

#include <windows.h>

#include "app/controls.h"

namespace clearstrand::win32 {

// A static text control; the window owns the HWND.
class StaticLabel final : public Label {
public:
    explicit StaticLabel(HWND hwnd) : hwnd_(hwnd) {}

    std::u16string Caption() const override;
    void SetCaption(const std::u16string& caption) override;

private:
    HWND hwnd_;
};

// The text of any window, through WM_GETTEXT.
std::u16string WindowText(HWND hwnd);

}  // namespace clearstrand::win32
