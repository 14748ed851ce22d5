#include "platform/windows/shell.h"

namespace clearstrand::win32 {

namespace {

const wchar_t* Wide(const std::u16string& text) {
    return reinterpret_cast<const wchar_t*>(text.c_str());
}

}  // namespace

int32_t WindowShell::MsgBox(const std::u16string& prompt, int32_t buttons,
                            const std::optional<std::u16string>& title) {
    // The buttons value uses the MB_ flag values: 0 is MB_OK, 48 adds
    // MB_ICONEXCLAMATION.
    return MessageBoxW(owner_(), Wide(prompt), title ? Wide(*title) : kDefaultTitle,
                       static_cast<UINT>(buttons));
}

void WindowShell::End() {
    end_();
}

void ShowErrorReport(HWND owner, const std::u16string& description) {
    // A quit already posted (a destroyed window posts one) would end the box
    // at once, before anyone could read it: it waits until the box is closed.
    MSG quit{};
    const bool quitting = PeekMessageW(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE) != FALSE;
    MessageBoxW(owner, Wide(description), kDefaultTitle, MB_OK | MB_ICONERROR);
    if (quitting) PostQuitMessage(static_cast<int>(quit.wParam));
}

}  // namespace clearstrand::win32
