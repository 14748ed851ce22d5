#pragma once

// Driving a Windows program as a user does, from inside or outside its
// process. Every wait pumps this thread's messages, so that in-process tests
// can use it too.

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

bool PumpUntil(const std::function<bool()>& done, Milliseconds timeout = 10s);
void PumpFor(Milliseconds duration);
void SetMessageFilter(std::function<bool(MSG&)> filter);  // a window's IsDialogMessage

// A started program, ended with this object if it still runs.
class Process {
public:
    explicit Process(const std::wstring& commandLine);
    ~Process();
    DWORD Id() const { return id_; }
    std::optional<DWORD> WaitForExit(Milliseconds timeout = 10s) const;

private:
    HANDLE process_ = nullptr;
    DWORD id_ = 0;
};
DWORD Run(const std::wstring& commandLine);  // to its end: the exit code

HWND FindTopWindow(DWORD pid, const wchar_t* className);  // a visible one
HWND FindChild(HWND parent, const wchar_t* className, int nth = 0);
std::wstring WindowText(HWND hwnd);

struct Box {
    HWND hwnd;
    std::wstring title, text;
    bool icon;
};
std::optional<Box> FindMessageBox(DWORD pid);
void PressOk(HWND box);

// A click whose effect `done` shows. Under Xvfb without a window manager a
// synthesized click is now and then lost, so the button is pressed again with
// BM_CLICK when nothing happens.
bool ClickButton(HWND button, const std::function<bool()>& done);

std::wstring StatusText(HWND statusBar, int part);
std::vector<std::pair<int, bool>> StatusParts(HWND statusBar);  // right edge, drawn without borders

struct TreeItem {
    HTREEITEM item;
    int depth;
    std::wstring text;
    bool checked, bold, expanded;
};
std::vector<TreeItem> ReadTree(HWND tree);  // depth first, in display order
void ClickCheckBox(HWND tree, HTREEITEM item);
void PressSpaceOn(HWND tree, HTREEITEM item);  // a click on the caption first, to select it
void PressKey(WORD virtualKey);

}  // namespace clearstrand::driver
