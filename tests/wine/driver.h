#pragma once

// Driving a Windows program as a user would, from inside or outside its
// process. Controls of another process are read through memory allocated in
// that process, since their messages carry pointers. Every wait pumps this
// thread's messages, so the helpers serve in-process tests as well.

#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace clearstrand::driver {

using namespace std::chrono_literals;
using Milliseconds = std::chrono::milliseconds;

// Pumps this thread's messages until `done` or the time is up.
bool PumpUntil(const std::function<bool()>& done, Milliseconds timeout = 10s);
void PumpFor(Milliseconds duration);
// A window's own message filter (IsDialogMessage), applied before dispatch.
void SetMessageFilter(std::function<bool(MSG&)> filter);

// A started program, ended when this goes if it still runs.
class Process {
public:
    Process() = default;
    explicit Process(const std::wstring& commandLine);
    ~Process();
    Process(Process&& other) noexcept;
    Process& operator=(Process&& other) noexcept;

    DWORD Id() const { return id_; }
    std::optional<DWORD> WaitForExit(Milliseconds timeout = 10s) const;

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};
// Runs a command line to its end; its exit code.
DWORD Run(const std::wstring& commandLine);

// A visible top-level window of process `pid` with that class (nullptr: any).
HWND FindTopWindow(DWORD pid, const wchar_t* className);
HWND FindChild(HWND parent, const wchar_t* className, int nth = 0);
std::wstring WindowText(HWND hwnd);
std::wstring ClassName(HWND hwnd);

// A message box: its prompt, whether it shows an icon, and its answer.
struct Box {
    HWND hwnd;
    std::wstring title;
    std::wstring text;
    bool icon;
};
std::optional<Box> FindMessageBox(DWORD pid);
void PressOk(HWND box);

// A click on a button, pressed again with BM_CLICK when its effect `done`
// does not come: under Xvfb without a window manager a synthesized click is
// now and then lost.
bool ClickButton(HWND button, const std::function<bool()>& done, Milliseconds timeout = 10s);

std::wstring StatusText(HWND statusBar, int part);
// The right edges of the parts, and whether each is drawn without borders.
std::vector<std::pair<int, bool>> StatusParts(HWND statusBar);

struct TreeItem {
    HTREEITEM item;
    int depth;
    std::wstring text;
    bool checked, bold, expanded, hasChildren;
};
// Every item, depth first in display order.
std::vector<TreeItem> ReadTree(HWND tree);
// Flips a check box as a user does: a click on the box, or a click on the
// caption and then Space.
void ClickCheckBox(HWND tree, HTREEITEM item);
void PressSpaceOn(HWND tree, HTREEITEM item);

void ClickAt(POINT screen);
void PressKey(WORD virtualKey);

}  // namespace clearstrand::driver
