#pragma once

#include <windows.h>

#include <functional>
#include <utility>

#include "platform/controls.h"

namespace clearstrand::win32 {

// The title of message boxes that bring none of their own.
inline const wchar_t* const kDefaultTitle = reinterpret_cast<const wchar_t*>(kProgramName);

// Message boxes and the program's end, over the main window.
class WindowShell final : public Shell {
public:
    // `owner` returns the main window, or nullptr while there is none.
    // `end` ends the program.
    WindowShell(std::function<HWND()> owner, std::function<void()> end)
        : owner_(std::move(owner)), end_(std::move(end)) {}

    int32_t MsgBox(const std::u16string& prompt, int32_t buttons,
                   const std::optional<std::u16string>& title) override;
    void End() override;

private:
    std::function<HWND()> owner_;
    std::function<void()> end_;
};

// The report of an error that nothing handled, up until the user presses OK
// whatever state the window is in; also used before a window exists.
void ShowErrorReport(HWND owner, const std::u16string& description);

}  // namespace clearstrand::win32
