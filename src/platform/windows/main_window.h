#pragma once

#include <windows.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/form1.h"
#include "platform/windows/button.h"
#include "platform/windows/com.h"
#include "platform/windows/label.h"
#include "platform/windows/layout.h"
#include "platform/windows/status_bar.h"
#include "platform/windows/tree_view.h"

namespace clearstrand::win32 {

// What the window raises once it is shown; the program binds these to
// Form1's handlers.
class WindowEvents {
public:
    virtual ~WindowEvents() = default;
    virtual void Activate() = 0;
    virtual void Click(int button) = 0;  // 1 Refresh, 2 Start, 3 Cancel
    virtual void NodeCheck(TreeNode& node) = 0;
};

// Control ids. 1 and 2 are IDOK and IDCANCEL, which the dialog manager sends
// for Enter and Escape: no control may have them.
inline constexpr int kCommand1Id = 101;
inline constexpr int kCommand2Id = 102;
inline constexpr int kCommand3Id = 103;
inline constexpr int kTreeView1Id = 104;
inline constexpr int kStatusBar1Id = 105;
inline constexpr int kLabel2Id = 106;
inline constexpr int kPicture1Id = 107;

// Posted right after the window is first shown.
inline constexpr UINT kFirstActivateMessage = WM_APP + 3;

inline constexpr wchar_t kWindowClass[] = L"ClearstrandUtilityWindow";
inline constexpr wchar_t kWindowCaption[] = L"Clearstrand Utility";

struct GdiObjectCloser {
    static HGDIOBJ Invalid() noexcept { return nullptr; }
    static void Close(HGDIOBJ object) noexcept { DeleteObject(object); }
};
struct IconCloser {
    static HICON Invalid() noexcept { return nullptr; }
    static void Close(HICON icon) noexcept { DestroyIcon(icon); }
};
using UniqueGdiObject = UniqueHandle<HGDIOBJ, GdiObjectCloser>;
using UniqueIcon = UniqueHandle<HICON, IconCloser>;

// The main window: a fixed-size frame with the design's controls, laid out
// for the DPI of the monitor it is on.
class MainWindow {
public:
    explicit MainWindow(HINSTANCE instance);
    ~MainWindow();
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates the window, hidden, with all its controls.
    void Create();
    FormControls Controls();
    void SetEvents(WindowEvents* events) { events_ = events; }
    // Shows the window; the first activation follows from the message loop.
    void Show(int showCommand);

    // The message loop's filter: Tab and Shift+Tab move the focus; Enter and
    // Escape do nothing. True when the message was used up.
    bool PreTranslateMessage(MSG& msg);
    // Until the window is gone; the exit code.
    int RunMessageLoop();

    // Ends the program: no handler runs after this.
    void End();
    void Destroy();

    HWND Hwnd() const { return hwnd_; }
    HWND Control(int id) const { return GetDlgItem(hwnd_, id); }
    unsigned Dpi() const { return dpi_; }
    TreeViewControl& Tree() { return *treeView1_; }
    StatusBarControl& Status() { return *statusBar1_; }
    // The description of an error that escaped a handler; the loop ended on it.
    const std::optional<std::u16string>& Failure() const { return failure_; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void CreateControls();
    void ApplyDpi(unsigned dpi, const RECT* suggested);
    void ApplyFont();
    void FitLabelFont();
    void ApplyLayout();
    void LoadPicture();
    // Runs one handler; events that come in while it runs wait for its end.
    void Raise(std::function<void()> handler);
    void Fail(std::u16string description);

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    unsigned dpi_ = 96;
    HWND command1_ = nullptr;
    HWND treeView1Hwnd_ = nullptr;
    HWND command2_ = nullptr;
    HWND command3_ = nullptr;
    HWND statusBar1Hwnd_ = nullptr;
    HWND label2_ = nullptr;
    HWND picture1_ = nullptr;
    HWND lastFocus_ = nullptr;
    UniqueGdiObject font_;
    UniqueGdiObject labelFont_;
    UniqueIcon pictureIcon_;
    std::unique_ptr<Button> button1_, button2_, button3_;
    std::unique_ptr<StaticLabel> labelControl_;
    std::unique_ptr<StatusBarControl> statusBar1_;
    std::unique_ptr<TreeViewControl> treeView1_;
    WindowEvents* events_ = nullptr;
    bool activated_ = false;
    bool running_ = false;
    bool ended_ = false;
    std::vector<std::function<void()>> waiting_;
    std::optional<std::u16string> failure_;
};

// A text for an exception that nothing handled.
std::u16string DescribeException(std::exception_ptr error);

}  // namespace clearstrand::win32
