#pragma once

#include <windows.h>

#include <exception>
#include <utility>
#include <memory>
#include <optional>
#include <string>

#include "platform/windows/button.h"
#include "platform/windows/handler_queue.h"
#include "platform/windows/handles.h"
#include "platform/windows/label.h"
#include "platform/windows/status_bar.h"
#include "platform/windows/tree_view.h"

namespace clearstrand::win32 {

enum class WindowButton { Refresh, Start, Cancel };

// What the window raises once it is shown; the program binds these to the
// form's handlers.
class WindowEvents {
public:
    virtual ~WindowEvents() = default;
    virtual void Activate() = 0;
    virtual void Click(WindowButton button) = 0;
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

inline constexpr wchar_t kWindowClass[] = L"ClearstrandUtilityWindow";
inline constexpr wchar_t kWindowCaption[] = L"Clearstrand Utility";

// The main window: a fixed-size frame with the design's controls, laid out
// for the DPI of the monitor it is on.
class MainWindow {
public:
    explicit MainWindow(HINSTANCE instance) : instance_(instance) {}
    ~MainWindow() { Destroy(); }
    MainWindow(const MainWindow&) = delete;
    MainWindow& operator=(const MainWindow&) = delete;

    // Creates the window, hidden, with all its controls.
    void Create();
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
    // The report of an error that escaped a handler; the loop ended on it.
    std::optional<std::u16string> Failure() const;

    Button& Command1() { return *command1_; }
    Button& Command2() { return *command2_; }
    Button& Command3() { return *command3_; }
    StaticLabel& Label2() { return *label2_; }
    StatusBarControl& StatusBar1() { return *statusBar1_; }
    TreeViewControl& TreeView1() { return *treeView1_; }

private:
    static LRESULT CALLBACK WindowProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
    LRESULT HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    HWND CreateChild(const wchar_t* className, const wchar_t* text, DWORD style, DWORD exStyle, int id);
    void CreateControls();
    void ApplyDpi(unsigned dpi, const RECT* suggested);
    void CenterOnWorkArea();
    void Raise(void (WindowEvents::*event)());
    void Fail(std::exception_ptr error) noexcept;

    HINSTANCE instance_;
    HWND hwnd_ = nullptr;
    unsigned dpi_ = 96;
    HWND lastFocus_ = nullptr;
    UniqueGdiObject font_;
    UniqueIcon pictureIcon_;
    std::unique_ptr<Button> command1_, command2_, command3_;
    std::unique_ptr<StaticLabel> label2_;
    std::unique_ptr<StatusBarControl> statusBar1_;
    std::unique_ptr<TreeViewControl> treeView1_;
    WindowEvents* events_ = nullptr;
    bool activated_ = false;
    HandlerQueue handlers_;
    std::exception_ptr failure_;
};

// The report of an exception that nothing handled: what the program could
// not do, and the system's reason on a line of its own.
std::u16string DescribeException(std::exception_ptr error);

}  // namespace clearstrand::win32
