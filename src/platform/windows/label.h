#pragma once

#include <windows.h>

#include "platform/controls.h"
#include "platform/windows/handles.h"
#include "platform/windows/layout.h"

namespace clearstrand::win32 {

// A static text control in a fixed box; the window owns the HWND. The text
// must fit the box whatever the system's message font, so the label takes a
// slightly smaller font when the text would be cut off.
class StaticLabel final : public Label {
public:
    explicit StaticLabel(HWND hwnd) : hwnd_(hwnd) {}

    std::u16string Caption() const override;
    void SetCaption(const std::u16string& caption) override;

    // Moves the label to `box`, in pixels at `dpi`, and fits the font again.
    void SetPlace(unsigned dpi, const Bounds& box);

private:
    void FitFont();

    HWND hwnd_;
    unsigned dpi_ = 96;
    Bounds box_;
    UniqueGdiObject font_;
};

// The text of any window, through WM_GETTEXT.
std::u16string WindowText(HWND hwnd);

}  // namespace clearstrand::win32
