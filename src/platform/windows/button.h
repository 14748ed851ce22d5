#pragma once

#include <windows.h>

#include "platform/controls.h"

namespace clearstrand::win32 {

// A push button; the window owns the HWND.
class Button final : public CommandButton {
public:
    explicit Button(HWND hwnd) : hwnd_(hwnd) {}

    bool Enabled() const override;
    void SetEnabled(bool enabled) override;

private:
    HWND hwnd_;
};

}  // namespace clearstrand::win32
