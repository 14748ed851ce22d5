#include "platform/windows/main_window.h"

#include <commctrl.h>

#include <exception>

#include "platform/errors.h"
#include "platform/windows/resources/resource_ids.h"

namespace clearstrand::win32 {

namespace {

constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kFrameExStyle = WS_EX_CONTROLPARENT;

// The per-monitor DPI functions exist from Windows 10 1607 on; older systems
// get the system DPI.
template <typename F>
F SystemFunction(const wchar_t* module, const char* name) {
    HMODULE handle = GetModuleHandleW(module);
    return handle ? reinterpret_cast<F>(reinterpret_cast<void*>(GetProcAddress(handle, name))) : nullptr;
}

unsigned WindowDpi(HWND hwnd) {
    using GetDpiForWindowFn = UINT(WINAPI*)(HWND);
    static const auto getDpiForWindow = SystemFunction<GetDpiForWindowFn>(L"user32.dll", "GetDpiForWindow");
    if (getDpiForWindow) {
        const UINT dpi = getDpiForWindow(hwnd);
        if (dpi != 0) return dpi;
    }
    HDC dc = GetDC(nullptr);
    const int dpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    return dpi > 0 ? static_cast<unsigned>(dpi) : 96u;
}

RECT FrameForClient(int width, int height, unsigned dpi) {
    RECT rect{0, 0, width, height};
    using AdjustFn = BOOL(WINAPI*)(LPRECT, DWORD, BOOL, DWORD, UINT);
    static const auto adjust = SystemFunction<AdjustFn>(L"user32.dll", "AdjustWindowRectExForDpi");
    if (!adjust || !adjust(&rect, kFrameStyle, FALSE, kFrameExStyle, dpi))
        AdjustWindowRectEx(&rect, kFrameStyle, FALSE, kFrameExStyle);
    return rect;
}

LOGFONTW MessageFont(unsigned dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof(metrics);
    using ForDpiFn = BOOL(WINAPI*)(UINT, UINT, PVOID, UINT, UINT);
    static const auto forDpi = SystemFunction<ForDpiFn>(L"user32.dll", "SystemParametersInfoForDpi");
    if (forDpi && forDpi(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0, dpi))
        return metrics.lfMessageFont;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof(metrics), &metrics, 0);
    // The font comes at the system DPI; scale it to the window's.
    HDC dc = GetDC(nullptr);
    const int systemDpi = GetDeviceCaps(dc, LOGPIXELSY);
    ReleaseDC(nullptr, dc);
    if (systemDpi > 0)
        metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, static_cast<int>(dpi), systemDpi);
    return metrics.lfMessageFont;
}

HWND CreateChild(HWND parent, const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle,
                 int id, HINSTANCE instance) {
    HWND hwnd = CreateWindowExW(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance, nullptr);
    if (!hwnd) ThrowLastError();
    return hwnd;
}

void Place(HWND hwnd, const Bounds& bounds) {
    SetWindowPos(hwnd, nullptr, bounds.left, bounds.top, bounds.width, bounds.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

bool IsEnterOrEscape(const MSG& msg) {
    switch (msg.message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
    case WM_CHAR:
        return msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE;
    default:
        return false;
    }
}

}  // namespace

std::u16string DescribeException(std::exception_ptr error) {
    try {
        std::rethrow_exception(error);
    } catch (const PlatformError& e) {
        return e.description();
    } catch (const std::exception& e) {
        return FromUtf8(e.what());
    } catch (...) {
        return u"An unexpected error ended the program.";
    }
}

MainWindow::MainWindow(HINSTANCE instance) : instance_(instance) {}

MainWindow::~MainWindow() {
    Destroy();
}

void MainWindow::Create() {
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    if (!GetClassInfoExW(instance_, kWindowClass, &wc)) {
        wc.cbSize = sizeof(wc);
        wc.lpfnWndProc = &MainWindow::WindowProc;
        wc.hInstance = instance_;
        wc.hCursor = LoadCursorW(nullptr, IDC_ARROW);
        wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
        wc.lpszClassName = kWindowClass;
        // Shared icons belong to the system; no one destroys them.
        wc.hIcon = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                                 GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON),
                                                 LR_SHARED));
        wc.hIconSm = static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXSMICON),
                                                   GetSystemMetrics(SM_CYSMICON), LR_SHARED));
        if (!RegisterClassExW(&wc)) ThrowLastError();
    }
    HWND hwnd = CreateWindowExW(kFrameExStyle, kWindowClass, kWindowCaption, kFrameStyle, CW_USEDEFAULT,
                                CW_USEDEFAULT, 100, 100, nullptr, nullptr, instance_, this);
    if (failure_) throw PlatformError(0, *failure_);
    if (!hwnd) ThrowLastError();

    ApplyDpi(WindowDpi(hwnd_), nullptr);
    // Centred on the monitor's work area.
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    RECT frame{};
    GetWindowRect(hwnd_, &frame);
    const RECT& work = monitor.rcWork;
    const int width = frame.right - frame.left;
    const int height = frame.bottom - frame.top;
    SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - width) / 2,
                 work.top + (work.bottom - work.top - height) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void MainWindow::CreateControls() {
    // Creation order is tab order: Refresh, the tree, Start, Cancel; the
    // status bar, label and picture take no focus.
    constexpr DWORD kButton = WS_TABSTOP | WS_GROUP | BS_PUSHBUTTON;
    command1_ = CreateChild(hwnd_, WC_BUTTONW, L"Refresh", kButton, 0, kCommand1Id, instance_);
    treeView1Hwnd_ = CreateChild(hwnd_, WC_TREEVIEWW, L"",
                                 WS_TABSTOP | WS_GROUP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT |
                                     TVS_SHOWSELALWAYS,
                                 WS_EX_CLIENTEDGE, kTreeView1Id, instance_);
    command2_ = CreateChild(hwnd_, WC_BUTTONW, L"Start", kButton, 0, kCommand2Id, instance_);
    command3_ = CreateChild(hwnd_, WC_BUTTONW, L"Cancel", kButton, 0, kCommand3Id, instance_);
    // Placed by the layout rather than by the control itself.
    statusBar1Hwnd_ = CreateChild(hwnd_, STATUSCLASSNAMEW, L"", CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER,
                                  0, kStatusBar1Id, instance_);
    label2_ = CreateChild(hwnd_, WC_STATICW, L"", SS_LEFT | SS_NOPREFIX, 0, kLabel2Id, instance_);
    picture1_ = CreateChild(hwnd_, WC_STATICW, L"", SS_ICON, 0, kPicture1Id, instance_);

    button1_ = std::make_unique<Button>(command1_);
    button2_ = std::make_unique<Button>(command2_);
    button3_ = std::make_unique<Button>(command3_);
    labelControl_ = std::make_unique<StaticLabel>(label2_, [this] { FitLabelFont(); });
    statusBar1_ = std::make_unique<StatusBarControl>(statusBar1Hwnd_, dpi_);
    treeView1_ = std::make_unique<TreeViewControl>(treeView1Hwnd_);
    treeView1_->SetNodeCheckHandler([this](TreeNode& node) {
        if (events_) events_->NodeCheck(node);
    });
}

FormControls MainWindow::Controls() {
    return FormControls{*button1_, *button2_, *button3_, *labelControl_, *statusBar1_, *treeView1_};
}

void MainWindow::ApplyDpi(unsigned dpi, const RECT* suggested) {
    dpi_ = dpi;
    const WindowLayout layout = ComputeLayout(dpi_);
    const RECT frame = FrameForClient(layout.clientWidth, layout.clientHeight, dpi_);
    RECT now{};
    GetWindowRect(hwnd_, &now);
    const RECT& at = suggested ? *suggested : now;
    int width = frame.right - frame.left;
    int height = frame.bottom - frame.top;
    SetWindowPos(hwnd_, nullptr, at.left, at.top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
    // The frame may not grow with the DPI as predicted (older systems scale
    // only the client area): the client size is what counts.
    RECT client{};
    GetClientRect(hwnd_, &client);
    if (client.right != layout.clientWidth || client.bottom != layout.clientHeight) {
        width += layout.clientWidth - client.right;
        height += layout.clientHeight - client.bottom;
        SetWindowPos(hwnd_, nullptr, 0, 0, width, height, SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    ApplyFont();
    LoadPicture();
    ApplyLayout();
    statusBar1_->SetDpi(dpi_);
}

void MainWindow::ApplyFont() {
    const LOGFONTW logFont = MessageFont(dpi_);
    UniqueGdiObject font(CreateFontIndirectW(&logFont));
    if (!font) return;  // the controls keep the font they have
    for (HWND control : {command1_, treeView1Hwnd_, command2_, command3_, statusBar1Hwnd_})
        SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
    font_ = std::move(font);
    FitLabelFont();
}

void MainWindow::FitLabelFont() {
    // The instructions must fit the label's fixed box whatever the system's
    // message font: a smaller size is taken when the text would be cut off.
    const std::u16string text = labelControl_->Caption();
    const Bounds box = ComputeLayout(dpi_).label;
    LOGFONTW logFont = MessageFont(dpi_);
    const LONG fullHeight = logFont.lfHeight;
    HDC dc = GetDC(label2_);
    UniqueGdiObject chosen;
    for (int step = 0; step <= 4; ++step) {
        logFont.lfHeight = fullHeight < 0 ? fullHeight + step : fullHeight - step;
        UniqueGdiObject font(CreateFontIndirectW(&logFont));
        if (!font) break;
        HGDIOBJ old = SelectObject(dc, font.get());
        RECT need{0, 0, box.width, 0};
        DrawTextW(dc, reinterpret_cast<const wchar_t*>(text.c_str()), static_cast<int>(text.size()), &need,
                  DT_CALCRECT | DT_WORDBREAK | DT_EXPANDTABS | DT_NOPREFIX);
        SelectObject(dc, old);
        chosen = std::move(font);
        if (need.bottom <= box.height) break;
    }
    ReleaseDC(label2_, dc);
    if (!chosen) return;
    SendMessageW(label2_, WM_SETFONT, reinterpret_cast<WPARAM>(chosen.get()), TRUE);
    labelFont_ = std::move(chosen);
}

void MainWindow::LoadPicture() {
    const WindowLayout layout = ComputeLayout(dpi_);
    UniqueIcon icon(static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_PICTURE), IMAGE_ICON,
                                                  layout.picture.width, layout.picture.height,
                                                  LR_DEFAULTCOLOR)));
    // A program built without its resources (a test) shows no picture.
    SendMessageW(picture1_, STM_SETICON, reinterpret_cast<WPARAM>(icon.get()), 0);
    pictureIcon_ = std::move(icon);
}

void MainWindow::ApplyLayout() {
    const WindowLayout layout = ComputeLayout(dpi_);
    Place(picture1_, layout.picture);
    Place(label2_, layout.label);
    Place(treeView1Hwnd_, layout.tree);
    Place(command1_, layout.command1);
    Place(command2_, layout.command2);
    Place(command3_, layout.command3);
    Place(statusBar1Hwnd_, layout.statusBar);
    statusBar1_->UpdateParts();
}

void MainWindow::Show(int showCommand) {
    ShowWindow(hwnd_, showCommand);
    UpdateWindow(hwnd_);
    PostMessageW(hwnd_, kFirstActivateMessage, 0, 0);
}

bool MainWindow::PreTranslateMessage(MSG& msg) {
    if (!hwnd_ || (msg.hwnd != hwnd_ && !IsChild(hwnd_, msg.hwnd))) return false;
    // No button is the default or the cancel button: the keys are dropped
    // before the dialog manager turns them into a click.
    if (IsEnterOrEscape(msg)) return true;
    return IsDialogMessageW(hwnd_, &msg) != FALSE;
}

int MainWindow::RunMessageLoop() {
    MSG msg{};
    BOOL got = 0;
    while ((got = GetMessageW(&msg, nullptr, 0, 0)) > 0) {
        if (PreTranslateMessage(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
    if (got < 0) return 1;
    return failure_ ? 1 : static_cast<int>(msg.wParam);
}

void MainWindow::End() {
    ended_ = true;
    waiting_.clear();
    Destroy();
}

void MainWindow::Destroy() {
    if (hwnd_) DestroyWindow(hwnd_);
}

void MainWindow::Raise(std::function<void()> handler) {
    if (ended_) return;
    // A message box inside a handler pumps messages; what was posted before it
    // waits until the handler is done, as it would for a handler that does not
    // pump at all.
    if (running_) {
        waiting_.push_back(std::move(handler));
        return;
    }
    running_ = true;
    struct Reset {
        bool& flag;
        ~Reset() { flag = false; }
    } reset{running_};
    handler();
    while (!waiting_.empty() && !ended_) {
        auto next = std::move(waiting_.front());
        waiting_.erase(waiting_.begin());
        next();
    }
}

void MainWindow::Fail(std::u16string description) {
    if (failure_) return;
    failure_ = std::move(description);
    ended_ = true;
    waiting_.clear();
    PostQuitMessage(1);
}

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
    MainWindow* self = nullptr;
    if (message == WM_NCCREATE) {
        self = static_cast<MainWindow*>(reinterpret_cast<CREATESTRUCTW*>(lParam)->lpCreateParams);
        self->hwnd_ = hwnd;
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<MainWindow*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
    }
    if (!self) return DefWindowProcW(hwnd, message, wParam, lParam);

    LRESULT result = 0;
    // Nothing may unwind into the system.
    try {
        result = self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        self->Fail(DescribeException(std::current_exception()));
        if (message == WM_CREATE) result = -1;
    }
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrW(hwnd, GWLP_USERDATA, 0);
        self->hwnd_ = nullptr;
    }
    return result;
}

LRESULT MainWindow::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CREATE:
        dpi_ = WindowDpi(hwnd_);
        CreateControls();
        return 0;
    case WM_COMMAND:
        // Only clicks of the three buttons; IDOK and IDCANCEL (Enter, Escape)
        // do nothing.
        if (HIWORD(wParam) == BN_CLICKED) {
            const int id = LOWORD(wParam);
            if (id == kCommand1Id || id == kCommand2Id || id == kCommand3Id)
                Raise([this, id] {
                    if (events_) events_->Click(id - kCommand1Id + 1);
                });
        }
        return 0;
    case WM_NOTIFY: {
        const auto& header = *reinterpret_cast<const NMHDR*>(lParam);
        if (treeView1_ && header.hwndFrom == treeView1Hwnd_) treeView1_->HandleNotify(header);
        return 0;
    }
    case kNodeCheckMessage:
        Raise([this, wParam, lParam] { treeView1_->HandleNodeCheckMessage(wParam, lParam); });
        return 0;
    case kTreeRedrawMessage:
        if (treeView1_) treeView1_->HandleRedrawMessage();
        return 0;
    case kFirstActivateMessage:
        // Activation is raised once: a message box closing or the user coming
        // back from another program does not rebuild the tree.
        if (!activated_) {
            activated_ = true;
            Raise([this] {
                if (events_) events_->Activate();
            });
        }
        return 0;
    case WM_ACTIVATE:
        // Focus goes back to the control that had it.
        if (LOWORD(wParam) == WA_INACTIVE) {
            HWND focus = GetFocus();
            if (focus && IsChild(hwnd_, focus)) lastFocus_ = focus;
            return 0;
        }
        break;
    case WM_SETFOCUS: {
        HWND target = lastFocus_ && IsWindow(lastFocus_) ? lastFocus_ : nullptr;
        if (!target) target = GetNextDlgTabItem(hwnd_, nullptr, FALSE);
        if (target) SetFocus(target);
        return 0;
    }
    case WM_SIZE:
        if (statusBar1_) statusBar1_->UpdateParts();
        return 0;
    case WM_DPICHANGED:
        ApplyDpi(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_DESTROY:
        ended_ = true;
        PostQuitMessage(failure_ ? 1 : 0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

}  // namespace clearstrand::win32
