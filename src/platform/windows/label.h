#pragma once

#include <windows.h>

#include <functional>
#include <utility>

#include "app/controls.h"

namespace clearstrand::win32 {

// A static text control; the window owns the HWND.
class StaticLabel final : public Label {
public:
    // `changed` runs after each new caption (the window fits the font to it).
    explicit StaticLabel(HWND hwnd, std::function<void()> changed = {})
        : hwnd_(hwnd), changed_(std::move(changed)) {}

    std::u16string Caption() const override;
    void SetCaption(const std::u16string& caption) override;

private:
    HWND hwnd_;
    std::function<void()> changed_;
};

// The text of any window, through WM_GETTEXT.
std::u16string WindowText(HWND hwnd);

}  // namespace clearstrand::win32
