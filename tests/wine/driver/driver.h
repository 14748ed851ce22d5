#pragma once

// Driving a Windows program as a user would, from inside or outside its
// process. Controls of another process are read through memory allocated in
// that process (their messages carry pointers). Every wait pumps this
// thread's messages, so the helpers serve in-process tests as well.
//
// The tree's node keys live only inside the program; from outside a node is
// known by its caption and its place in the tree.

#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace clearstrand::driver {

using Milliseconds = std::chrono::milliseconds;
inline constexpr Milliseconds kDefaultTimeout{10000};

// ---- Waiting -----------------------------------------------------------------

// Pumps this thread's messages until `done` is true or the time is up.
bool PumpUntil(const std::function<bool()>& done, Milliseconds timeout = kDefaultTimeout);
// Pumps for a while, for things that must not happen.
void PumpFor(Milliseconds duration);
// A window's own message-loop filter (IsDialogMessage and the like), applied
// by the pumps above before a message is dispatched; empty for none.
void SetMessageFilter(std::function<bool(MSG&)> filter);

// ---- Processes ---------------------------------------------------------------

class Process {
public:
    Process() = default;
    Process(HANDLE process, DWORD id) : process_(process), id_(id) {}
    ~Process();
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_; }
    // The exit code, or nothing if it still runs when the time is up.
    std::optional<DWORD> WaitForExit(Milliseconds timeout = kDefaultTimeout) const;
    // Ends it if it still runs (a failed test must not leave it behind).
    void Kill();

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};

// Starts `exe` with `arguments`; raises std::runtime_error if it cannot.
Process Launch(const std::wstring& exe, const std::wstring& arguments = L"");

// ---- Windows -----------------------------------------------------------------

// A visible top-level window of process `pid` (0: any) with that class and
// title (nullptr: any).
HWND FindTopWindow(DWORD pid, const wchar_t* className, const wchar_t* title);
HWND WaitForTopWindow(DWORD pid, const wchar_t* className, const wchar_t* title,
                      Milliseconds timeout = kDefaultTimeout);
// A child window (any depth) of that class, the n-th in Z order (0 first).
HWND FindChild(HWND parent, const wchar_t* className, int nth = 0);
std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);

// ---- Message boxes -----------------------------------------------------------

inline constexpr wchar_t kDialogClass[] = L"#32770";

// The prompt of a message box.
std::wstring MessageBoxText(HWND box);
// Presses one of its buttons (IDOK, IDCANCEL...).
void PressDialogButton(HWND box, int id);

struct MessageBoxSeen {
    std::wstring title;
    std::wstring text;
};
// Waits for a message box of process `pid`, reads it and presses `id`.
std::optional<MessageBoxSeen> AnswerMessageBox(DWORD pid, const wchar_t* title, int id,
                                               Milliseconds timeout = kDefaultTimeout);

// ---- Buttons -----------------------------------------------------------------

// The button's click, as its own BN_CLICKED; the caller waits for the effect.
void ClickButton(HWND button);
// A click whose effect `done` shows. Under Xvfb without a window manager a
// synthesized click is now and then lost: if nothing happened within a few
// seconds, the button is pressed again with its own BM_CLICK.
bool ClickButtonUntil(HWND button, const std::function<bool()>& done, Milliseconds timeout = kDefaultTimeout);
bool IsEnabled(HWND hwnd);

// ---- Status bar --------------------------------------------------------------

std::wstring StatusText(HWND statusBar, int part);
bool WaitForStatusText(HWND statusBar, int part, const std::wstring& text,
                       Milliseconds timeout = kDefaultTimeout);
int StatusPartCount(HWND statusBar);
RECT StatusPartRect(HWND statusBar, int part);

// ---- Tree view ---------------------------------------------------------------

struct TreeItem {
    HTREEITEM item = nullptr;
    HTREEITEM parent = nullptr;
    int depth = 0;  // 0 for a top-level item
    std::wstring text;
    bool checked = false;
    bool bold = false;
    bool expanded = false;
};

// Every item, depth first in display order (parents before children).
std::vector<TreeItem> ReadTree(HWND tree);
// The item with that caption, if there is exactly one.
std::optional<TreeItem> FindItem(HWND tree, const std::wstring& text);
// Ticks or clears a check box as a user does: a mouse click on the state
// icon (the item is scrolled into view first), or selecting the item and
// pressing Space.
void ClickCheckBox(HWND tree, HTREEITEM item);
void PressSpaceOn(HWND tree, HTREEITEM item);

// ---- Input -------------------------------------------------------------------

// A left click at a screen point; the window there is brought forward first.
void ClickAt(POINT screen);
void PressKey(WORD virtualKey);

}  // namespace clearstrand::driver
