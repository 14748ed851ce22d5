#include "platform/windows/label.h"

#include "platform/windows/dpi.h"

namespace clearstrand::win32 {

namespace {

// How many points, at most, the label's font may shrink below the message font.
constexpr int kLabelFontSteps = 4;

}  // namespace

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
    FitFont();
}

void StaticLabel::SetPlace(unsigned dpi, const Bounds& box) {
    dpi_ = dpi;
    box_ = box;
    SetWindowPos(hwnd_, nullptr, box.left, box.top, box.width, box.height, SWP_NOZORDER | SWP_NOACTIVATE);
    FitFont();
}

void StaticLabel::FitFont() {
    const std::u16string text = Caption();
    LOGFONTW logFont = MessageFont(dpi_);
    const LONG fullHeight = logFont.lfHeight;
    const WindowDc dc(hwnd_);
    UniqueGdiObject chosen;
    for (int step = 0; step <= kLabelFontSteps; ++step) {
        // A negative height is a character height, a positive one a cell
        // height: either way, a step towards zero is a smaller font.
        logFont.lfHeight = fullHeight < 0 ? fullHeight + step : fullHeight - step;
        UniqueGdiObject font(CreateFontIndirectW(&logFont));
        if (!font) break;
        const HGDIOBJ old = SelectObject(dc.get(), font.get());
        RECT need{0, 0, box_.width, 0};
        DrawTextW(dc.get(), reinterpret_cast<const wchar_t*>(text.c_str()), static_cast<int>(text.size()), &need,
                  DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
        SelectObject(dc.get(), old);
        chosen = std::move(font);
        if (need.bottom <= box_.height) break;
    }
    if (!chosen) return;  // the label keeps the font it has
    SendMessageW(hwnd_, WM_SETFONT, reinterpret_cast<WPARAM>(chosen.get()), TRUE);
    font_ = std::move(chosen);
}

}  // namespace clearstrand::win32
