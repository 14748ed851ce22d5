#pragma once

// Driving a Windows program as a user does, from inside or outside its
// process: its message boxes, buttons, tree and status bar.

#include <windows.h>

#include <commctrl.h>

#include <vector>

#include "platform/windows/label.h"
#include "tools/program.h"

namespace clearstrand::driver {

struct Box { HWND hwnd; std::u16string title, text; HICON icon; };  // icon: the one it shows, if any

inline std::optional<Box> FindMessageBox(DWORD pid) {
    HWND box = FindTopWindow(pid, L"#32770");
    if (!box) return std::nullopt;
    HICON icon = nullptr;
    for (HWND c = GetWindow(box, GW_CHILD); c && !icon; c = GetWindow(c, GW_HWNDNEXT)) {
        if ((GetWindowLongPtrW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) icon = reinterpret_cast<HICON>(SendMessageW(c, STM_GETICON, 0, 0));
    }
    return Box{box, win32::WindowText(box), win32::WindowText(GetDlgItem(box, 0xFFFF)), icon};  // the prompt's id
}

inline void PressOk(HWND box) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    PumpUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); });
}

// Sends a message whose LPARAM points at `value`, copied into the window's
// process and back: the messages that read another process's controls carry
// pointers. `fix` may point members of `value` at the copy, given its address.
template <typename T>
T Exchange(HWND hwnd, UINT message, WPARAM wParam, T value, const std::function<void(T&, char*)>& fix = {}) {
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    const win32::UniqueKernelHandle process(OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid));
    auto* remote = static_cast<char*>(process ? VirtualAllocEx(process.get(), nullptr, sizeof(T), MEM_COMMIT, PAGE_READWRITE) : nullptr);
    if (!remote) throw std::runtime_error("cannot reach the other process's memory");
    if (fix) fix(value, remote);
    WriteProcessMemory(process.get(), remote, &value, sizeof(T), nullptr);
    SendMessageW(hwnd, message, wParam, reinterpret_cast<LPARAM>(remote));
    ReadProcessMemory(process.get(), remote, &value, sizeof(T), nullptr);
    VirtualFreeEx(process.get(), remote, 0, MEM_RELEASE);
    return value;
}

inline void ClickAt(POINT screen) {
    // Two clicks at one place in quick succession would make a double click.
    static Clock::time_point last;
    static POINT lastPoint{-10000, -10000};
    if (std::abs(screen.x - lastPoint.x) <= GetSystemMetrics(SM_CXDOUBLECLK) &&
        std::abs(screen.y - lastPoint.y) <= GetSystemMetrics(SM_CYDOUBLECLK)) {
        PumpUntil([] { return Clock::now() > last + Milliseconds(GetDoubleClickTime() + 50); }, 2s);
    }
    lastPoint = screen;
    if (HWND top = GetAncestor(WindowFromPoint(screen), GA_ROOT)) SetForegroundWindow(top);
    SetCursorPos(screen.x, screen.y);
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_MOUSE;
    input[0].mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    input[1].mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(2, input, sizeof(INPUT));
    last = Clock::now();
}

inline void PressKey(WORD virtualKey) {
    INPUT input[2] = {};
    input[0].type = input[1].type = INPUT_KEYBOARD;
    input[0].ki.wVk = input[1].ki.wVk = virtualKey;
    input[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, input, sizeof(INPUT));
}

// A click whose effect `done` shows. Under Xvfb without a window manager a
// synthesized click is now and then lost, so the button is pressed again with
// BM_CLICK when nothing happens.
inline bool ClickButton(HWND button, const std::function<bool()>& done) {
    RECT rect{};
    GetWindowRect(button, &rect);
    ClickAt({(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
    if (PumpUntil(done, 5s)) return true;
    PostMessageW(button, BM_CLICK, 0, 0);
    return PumpUntil(done);
}

inline std::wstring StatusText(HWND statusBar, int part) {
    struct Text {
        wchar_t chars[512];
    };
    return Exchange(statusBar, SB_GETTEXTW, static_cast<WPARAM>(part), Text{}).chars;
}

struct TreeItem { HTREEITEM item; int depth; std::wstring text; bool checked, bold, expanded; };

// Depth first, in display order.
inline std::vector<TreeItem> ReadTree(HWND tree) {
    struct Item {
        TVITEMW tvi;
        wchar_t text[512];
    };
    std::vector<TreeItem> items;
    const auto next = [&](UINT relation, HTREEITEM from) {
        return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(from)));
    };
    const auto level = [&](auto& self, HTREEITEM first, int depth) -> void {
        for (HTREEITEM item = first; item; item = next(TVGN_NEXT, item)) {
            Item in{};
            in.tvi = {TVIF_HANDLE | TVIF_TEXT | TVIF_STATE, item, 0, TVIS_STATEIMAGEMASK | TVIS_BOLD | TVIS_EXPANDED, {}, 512, 0, 0, 0, 0};
            const Item out = Exchange<Item>(tree, TVM_GETITEMW, 0, in, [](Item& i, char* at) {
                i.tvi.pszText = reinterpret_cast<LPWSTR>(at + offsetof(Item, text));
            });
            const UINT state = out.tvi.state;
            items.push_back({item, depth, out.text, ((state & TVIS_STATEIMAGEMASK) >> 12) == 2, (state & TVIS_BOLD) != 0,
                             (state & TVIS_EXPANDED) != 0});
            self(self, next(TVGN_CHILD, item), depth + 1);
        }
    };
    level(level, next(TVGN_ROOT, nullptr), 0);
    return items;
}

// Where an item's caption is, in the tree's client area, scrolled into view.
inline RECT CaptionRect(HWND tree, HTREEITEM item) {
    SendMessageW(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
    union {
        RECT rect;
        HTREEITEM item;  // TVM_GETITEMRECT takes the item in the RECT it fills
    } in{};
    in.item = item;
    return Exchange(tree, TVM_GETITEMRECT, TRUE, in).rect;
}

// On the screen, a little into the item's check box, away from its edge.
inline POINT CheckBoxPoint(HWND tree, HTREEITEM item) {
    const RECT caption = CaptionRect(tree, item);
    const int y = (caption.top + caption.bottom) / 2;
    for (int x = caption.left - 1; x >= 0; --x) {  // the box stands left of the caption
        TVHITTESTINFO hit{};
        hit.pt = {x, y};
        hit = Exchange(tree, TVM_HITTEST, 0, hit);
        if (hit.hItem != item || !(hit.flags & TVHT_ONITEMSTATEICON)) continue;
        POINT point{x - 3, y};
        ClientToScreen(tree, &point);
        return point;
    }
    throw std::runtime_error("the item shows no check box");
}

inline void ClickCheckBox(HWND tree, HTREEITEM item) { ClickAt(CheckBoxPoint(tree, item)); }

// A click on the caption first, to select the item.
inline void PressSpaceOn(HWND tree, HTREEITEM item) {
    const RECT caption = CaptionRect(tree, item);
    POINT point{(caption.left + caption.right) / 2, (caption.top + caption.bottom) / 2};
    ClientToScreen(tree, &point);
    ClickAt(point);
    PumpUntil([&] { return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)) == item; });
    PressKey(VK_SPACE);
}

}  // namespace clearstrand::driver
