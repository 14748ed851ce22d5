#include "platform/windows/dpi.h"

#include "platform/windows/handles.h"

namespace clearstrand::win32 {

namespace {

constexpr unsigned kDefaultDpi = 96;

template <typename F>
F UserFunction(const char* name) {
    HMODULE user32 = GetModuleHandleW(L"user32.dll");
    return user32 ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(user32, name))) : nullptr;
}

int SystemDpi() {
    const WindowDc screen(nullptr);
    return GetDeviceCaps(screen.get(), LOGPIXELSY);
}

}  // namespace

unsigned WindowDpi(HWND hwnd) {
    static const auto forWindow = UserFunction<UINT(WINAPI*)(HWND)>("GetDpiForWindow");
    if (const UINT dpi = forWindow ? forWindow(hwnd) : 0; dpi != 0) return dpi;
    const int dpi = SystemDpi();
    return dpi > 0 ? static_cast<unsigned>(dpi) : kDefaultDpi;
}

RECT FrameForClient(int width, int height, unsigned dpi, DWORD style, DWORD exStyle) {
    RECT rect{0, 0, width, height};
    static const auto forDpi = UserFunction<BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT)>("AdjustWindowRectExForDpi");
    if (!forDpi || !forDpi(&rect, style, FALSE, exStyle, dpi)) AdjustWindowRectEx(&rect, style, FALSE, exStyle);
    return rect;
}

LOGFONTW MessageFont(unsigned dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    static const auto forDpi = UserFunction<BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT)>("SystemParametersInfoForDpi");
    if (forDpi && forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi)) return metrics.lfMessageFont;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    // The font comes at the system DPI; scaled to the window's.
    if (const int systemDpi = SystemDpi(); systemDpi > 0) {
        metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), systemDpi);
    }
    return metrics.lfMessageFont;
}

}  // namespace clearstrand::win32
