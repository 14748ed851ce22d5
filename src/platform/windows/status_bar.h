#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "platform/controls.h"

namespace clearstrand::win32 {

class StatusBarControl;

// One part of the status bar. The bar keeps what the control itself does
// not: the bevel flag and the spring flag.
class StatusPanel final : public Panel {
public:
    StatusPanel(StatusBarControl& bar, int index) : bar_(bar), index_(index) {}

    int32_t Bevel() const override { return bevel_; }
    void SetBevel(int32_t bevel) override;
    int32_t AutoSize() const override { return autoSize_; }
    void SetAutoSize(int32_t autoSize) override;
    std::u16string Text() const override;
    void SetText(const std::u16string& text) override;

private:
    void Send(const std::u16string& text);

    StatusBarControl& bar_;
    int index_;
    int32_t bevel_ = 1;  // sbrInset
    int32_t autoSize_ = 0;
    ULONGLONG painted_ = 0;  // when SetText last painted, GetTickCount64
};

// The status bar's Panels collection over a STATUSCLASSNAME control that the
// window owns. Widths are kept in twips and shown at the window's DPI.
class StatusBarControl final : public StatusBar {
public:
    // The design holds one panel, 1440 twips wide.
    StatusBarControl(HWND hwnd, unsigned dpi);

    int32_t Count() const override;
    Panel& Item(int32_t index) override;
    Panel& Add() override;

    // After the window moved or resized the bar, or its DPI changed.
    void SetDpi(unsigned dpi);
    void UpdateParts();

    HWND Hwnd() const { return hwnd_; }

private:
    HWND hwnd_;
    unsigned dpi_;
    std::vector<std::unique_ptr<StatusPanel>> panels_;
};

}  // namespace clearstrand::win32
