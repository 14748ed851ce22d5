#include "platform/windows/status_bar.h"

#include <commctrl.h>

#include "platform/errors.h"
#include "platform/windows/layout.h"

namespace clearstrand::win32 {

namespace {

// The control holds at most 256 parts.
constexpr size_t kMostParts = 256;

}  // namespace

void StatusPanel::SetBevel(int32_t bevel) {
    bevel_ = bevel;
    // The border style travels with the text: set it again to redraw.
    Send(Text());
}

void StatusPanel::SetAutoSize(int32_t autoSize) {
    autoSize_ = autoSize;
    bar_.UpdateParts();
}

std::u16string StatusPanel::Text() const {
    const LRESULT info = SendMessageW(bar_.Hwnd(), SB_GETTEXTLENGTHW, static_cast<WPARAM>(index_), 0);
    std::u16string text(static_cast<size_t>(LOWORD(info)) + 1, u'\0');
    SendMessageW(bar_.Hwnd(), SB_GETTEXTW, static_cast<WPARAM>(index_),
                 reinterpret_cast<LPARAM>(text.data()));
    text.resize(LOWORD(info));
    return text;
}

void StatusPanel::SetText(const std::u16string& text) {
    Send(text);
    // A running handler repaints at most every 100 ms (KeepAnswering): paint
    // now, so that a step's text shows the moment it is set. Texts that come
    // faster than the eye can read them (a key's subtree, a text a key) are
    // painted a few times a second rather than each: painting one costs more
    // under Wine than deleting the key it names.
    constexpr ULONGLONG kFastest = 50;  // ms
    const ULONGLONG now = GetTickCount64();
    if (now - painted_ < kFastest) return;
    painted_ = now;
    UpdateWindow(bar_.Hwnd());
}

void StatusPanel::Send(const std::u16string& text) {
    const WPARAM flags = static_cast<WPARAM>(index_) | (bevel_ == kPanelNoBevel ? SBT_NOBORDERS : 0);
    SendMessageW(bar_.Hwnd(), SB_SETTEXTW, flags, reinterpret_cast<LPARAM>(text.c_str()));
}

StatusBarControl::StatusBarControl(HWND hwnd, unsigned dpi) : hwnd_(hwnd), dpi_(dpi) {
    Add();
}

int32_t StatusBarControl::Count() const {
    return static_cast<int32_t>(panels_.size());
}

Panel& StatusBarControl::Item(int32_t index) {
    if (index < 1 || index > Count())
        throw PlatformError(kErrIndexOutOfBounds, u"Index out of bounds");
    return *panels_[static_cast<size_t>(index - 1)];
}

Panel& StatusBarControl::Add() {
    if (panels_.size() >= kMostParts) throw PlatformError(kErrIndexOutOfBounds, u"Too many panels");
    panels_.push_back(std::make_unique<StatusPanel>(*this, static_cast<int>(panels_.size())));
    UpdateParts();
    return *panels_.back();
}

void StatusBarControl::SetDpi(unsigned dpi) {
    dpi_ = dpi;
    UpdateParts();
}

void StatusBarControl::UpdateParts() {
    std::vector<PanelSpec> specs;
    specs.reserve(panels_.size());
    for (const auto& panel : panels_)
        specs.push_back({TwipsToPixels(kPanelWidthTwips, dpi_), panel->AutoSize() == kPanelSpring});
    RECT client{};
    GetClientRect(hwnd_, &client);
    std::vector<int> edges = PanelRightEdges(specs, client.right - client.left);
    SendMessageW(hwnd_, SB_SETPARTS, edges.size(), reinterpret_cast<LPARAM>(edges.data()));
}

}  // namespace clearstrand::win32
