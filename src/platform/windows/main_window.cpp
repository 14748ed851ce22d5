#include "platform/windows/main_window.h"

#include <commctrl.h>

#include <new>

#include "platform/controls.h"
#include "platform/errors.h"
#include "platform/windows/dpi.h"
#include "platform/windows/layout.h"
#include "platform/windows/messages.h"
#include "platform/windows/resources/resource_ids.h"
#include "platform/windows/win32_errors.h"

namespace clearstrand::win32 {

namespace {

constexpr DWORD kFrameStyle = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX | WS_CLIPCHILDREN;
constexpr DWORD kFrameExStyle = WS_EX_CONTROLPARENT;
// The frame's size until the DPI it is on is known.
constexpr int kProvisionalSize = 100;

void Place(HWND hwnd, const Bounds& bounds) {
    SetWindowPos(hwnd, nullptr, bounds.left, bounds.top, bounds.width, bounds.height,
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

bool IsEnterOrEscape(const MSG& msg) {
    const bool key = msg.message == WM_KEYDOWN || msg.message == WM_KEYUP || msg.message == WM_CHAR;
    return key && (msg.wParam == VK_RETURN || msg.wParam == VK_ESCAPE);
}

HICON LoadAppIcon(HINSTANCE instance, int widthMetric, int heightMetric) {
    // Shared icons belong to the system; no one destroys them.
    return static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                         GetSystemMetrics(widthMetric), GetSystemMetrics(heightMetric), LR_SHARED));
}

}  // namespace

std::u16string DescribeException(std::exception_ptr error) {
    const std::u16string kStopped = kProgramName + std::u16string(u" could not go on.");
    try {
        std::rethrow_exception(error);
    } catch (const PlatformError& e) {
        return (e.action().empty() ? kStopped : e.action()) + u"\n" + e.description();
    } catch (const std::bad_alloc&) {
        return kStopped + u"\nNot enough memory.";
    } catch (...) {
        // Nothing the system said: no reason a user could act on.
        return kStopped + std::u16string(u"\nAn unexpected error occurred inside the program.");
    }
}

std::optional<std::u16string> MainWindow::Failure() const {
    if (!failure_) return std::nullopt;
    return DescribeException(failure_);
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
        wc.hIcon = LoadAppIcon(instance_, SM_CXICON, SM_CYICON);
        wc.hIconSm = LoadAppIcon(instance_, SM_CXSMICON, SM_CYSMICON);
        if (!RegisterClassExW(&wc)) ThrowLastError();
    }
    HWND hwnd = CreateWindowExW(kFrameExStyle, kWindowClass, kWindowCaption, kFrameStyle, CW_USEDEFAULT,
                                CW_USEDEFAULT, kProvisionalSize, kProvisionalSize, nullptr, nullptr, instance_, this);
    if (failure_) std::rethrow_exception(failure_);
    if (!hwnd) ThrowLastError();
    ApplyDpi(WindowDpi(hwnd_), nullptr);
    CenterOnWorkArea();
}

HWND MainWindow::CreateChild(const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle, int id) {
    HWND hwnd = CreateWindowExW(exStyle, className, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, hwnd_,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), instance_, nullptr);
    if (!hwnd) ThrowLastError();
    return hwnd;
}

void MainWindow::CreateControls() {
    // Creation order is tab order: Refresh, the tree, Start, Cancel; the
    // status bar, label and picture take no focus.
    constexpr DWORD kButton = WS_TABSTOP | WS_GROUP | BS_PUSHBUTTON;
    constexpr DWORD kTree = WS_TABSTOP | WS_GROUP | TVS_HASLINES | TVS_HASBUTTONS | TVS_LINESATROOT | TVS_SHOWSELALWAYS;
    command1_ = std::make_unique<Button>(CreateChild(WC_BUTTONW, L"Refresh", kButton, 0, kCommand1Id));
    treeView1_ = std::make_unique<TreeViewControl>(CreateChild(WC_TREEVIEWW, L"", kTree, WS_EX_CLIENTEDGE, kTreeView1Id));
    command2_ = std::make_unique<Button>(CreateChild(WC_BUTTONW, L"Start", kButton, 0, kCommand2Id));
    command3_ = std::make_unique<Button>(CreateChild(WC_BUTTONW, L"Cancel", kButton, 0, kCommand3Id));
    // Placed by the layout rather than by the control itself.
    constexpr DWORD kBar = CCS_NORESIZE | CCS_NOPARENTALIGN | CCS_NODIVIDER;
    statusBar1_ = std::make_unique<StatusBarControl>(CreateChild(STATUSCLASSNAMEW, L"", kBar, 0, kStatusBar1Id), dpi_);
    label2_ = std::make_unique<StaticLabel>(CreateChild(WC_STATICW, L"", SS_LEFT | SS_NOPREFIX, 0, kLabel2Id));
    CreateChild(WC_STATICW, L"", SS_ICON, 0, kPicture1Id);
    treeView1_->SetNodeCheckHandler([this](TreeNode& node) {
        if (events_) events_->NodeCheck(node);
    });
}

void MainWindow::ApplyDpi(unsigned dpi, const RECT* suggested) {
    dpi_ = dpi;
    const WindowLayout layout = ComputeLayout(dpi_);
    const RECT frame = FrameForClient(layout.clientWidth, layout.clientHeight, dpi_, kFrameStyle, kFrameExStyle);
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

    const LOGFONTW logFont = MessageFont(dpi_);
    if (UniqueGdiObject font(CreateFontIndirectW(&logFont)); font) {  // else the controls keep theirs
        for (int id : {kCommand1Id, kTreeView1Id, kCommand2Id, kCommand3Id, kStatusBar1Id})
            SendMessageW(Control(id), WM_SETFONT, reinterpret_cast<WPARAM>(font.get()), TRUE);
        font_ = std::move(font);
    }
    // A program built without its resources (a test) shows no picture.
    HWND picture = Control(kPicture1Id);
    UniqueIcon icon(static_cast<HICON>(LoadImageW(instance_, MAKEINTRESOURCEW(IDI_PICTURE), IMAGE_ICON,
                                                  layout.picture.width, layout.picture.height, LR_DEFAULTCOLOR)));
    SendMessageW(picture, STM_SETICON, reinterpret_cast<WPARAM>(icon.get()), 0);
    pictureIcon_ = std::move(icon);  // the old icon goes once the control no longer shows it

    Place(picture, layout.picture);
    label2_->SetPlace(dpi_, layout.label);
    Place(Control(kTreeView1Id), layout.tree);
    Place(Control(kCommand1Id), layout.command1);
    Place(Control(kCommand2Id), layout.command2);
    Place(Control(kCommand3Id), layout.command3);
    Place(Control(kStatusBar1Id), layout.statusBar);
    statusBar1_->SetDpi(dpi_);
}

void MainWindow::CenterOnWorkArea() {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof(monitor);
    GetMonitorInfoW(MonitorFromWindow(hwnd_, MONITOR_DEFAULTTOPRIMARY), &monitor);
    RECT frame{};
    GetWindowRect(hwnd_, &frame);
    const RECT& work = monitor.rcWork;
    SetWindowPos(hwnd_, nullptr, work.left + (work.right - work.left - (frame.right - frame.left)) / 2,
                 work.top + (work.bottom - work.top - (frame.bottom - frame.top)) / 2, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
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
    handlers_.Stop();
    Destroy();
}

void MainWindow::Destroy() {
    if (hwnd_) DestroyWindow(hwnd_);
}

void MainWindow::Raise(void (WindowEvents::*event)()) {
    handlers_.Run([this, event] {
        if (events_) (events_->*event)();
    });
}

void MainWindow::Fail(std::exception_ptr error) noexcept {
    if (failure_) return;
    failure_ = error;
    handlers_.Stop();
    PostQuitMessage(1);
}

LRESULT CALLBACK MainWindow::WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
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
        self->Fail(std::current_exception());
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
    case WM_COMMAND: {
        // Only clicks of the three buttons; IDOK and IDCANCEL (Enter, Escape)
        // do nothing.
        const int id = LOWORD(wParam);
        if (HIWORD(wParam) != BN_CLICKED || id < kCommand1Id || id > kCommand3Id) return 0;
        const auto button = static_cast<WindowButton>(id - kCommand1Id);
        handlers_.Run([this, button] {
            if (events_) events_->Click(button);
        });
        return 0;
    }
    case WM_NOTIFY:
        if (treeView1_ && reinterpret_cast<const NMHDR*>(lParam)->idFrom == kTreeView1Id)
            treeView1_->HandleNotify(*reinterpret_cast<const NMHDR*>(lParam));
        return 0;
    case kNodeCheckMessage:
        handlers_.Run([this, wParam, lParam] { treeView1_->HandleNodeCheckMessage(wParam, lParam); });
        return 0;
    case kTreeRedrawMessage:
        if (treeView1_) treeView1_->HandleRedrawMessage();
        return 0;
    case kFirstActivateMessage:
        // Activation is raised once: a message box closing or the user coming
        // back from another program does not rebuild the tree.
        if (!std::exchange(activated_, true)) Raise(&WindowEvents::Activate);
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
        HWND target = lastFocus_ && IsWindow(lastFocus_) ? lastFocus_ : GetNextDlgTabItem(hwnd_, nullptr, FALSE);
        if (target) SetFocus(target);
        return 0;
    }
    case WM_SIZE:
        if (statusBar1_) statusBar1_->UpdateParts();
        return 0;
    case WM_DPICHANGED:
        ApplyDpi(LOWORD(wParam), reinterpret_cast<const RECT*>(lParam));
        return 0;
    case WM_CLOSE:
        // The window answers what is sent to it during long work: a close
        // sent meanwhile waits, like a click, for the handler's end.
        handlers_.Run([this] { Destroy(); });
        return 0;
    case WM_DESTROY:
        handlers_.Stop();
        PostQuitMessage(failure_ ? 1 : 0);
        return 0;
    default:
        break;
    }
    return DefWindowProcW(hwnd_, message, wParam, lParam);
}

}  // namespace clearstrand::win32
