#include "platform/windows/label.h"

namespace clearstrand::win32 {

std::u16string WindowText(HWND hwnd) {
    const auto length = static_cast<int>(SendMessageW(hwnd, WM_GETTEXTLENGTH, 0, 0));
    std::u16string text(static_cast<size_t>(length) + 1, u'\0');
    const auto copied = static_cast<int>(SendMessageW(hwnd, WM_GETTEXT, text.size(),
                                                      reinterpret_cast<LPARAM>(text.data())));
    text.resize(static_cast<size_t>(copied < 0 ? 0 : copied));
    return text;
}

std::u16string StaticLabel::Caption() const {
    return WindowText(hwnd_);
}

void StaticLabel::SetCaption(const std::u16string& caption) {
    SendMessageW(hwnd_, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(caption.c_str()));
    if (changed_) changed_();
}

}  // namespace clearstrand::win32
