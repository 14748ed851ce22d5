#include "wine/driver.h"

#include <algorithm>
#include <stdexcept>
#include <utility>

namespace clearstrand::driver {

namespace {

using Clock = std::chrono::steady_clock;

std::function<bool(MSG&)>& Filter() {
    static std::function<bool(MSG&)> filter;
    return filter;
}

void PumpPending() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        if (msg.message == WM_QUIT || (Filter() && Filter()(msg))) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Memory in the process that owns `window`, for messages that carry pointers.
class RemoteMemory {
public:
    RemoteMemory(HWND window, size_t size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        address_ = process_ ? VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE) : nullptr;
        if (!address_) throw std::runtime_error("cannot reach the other process's memory");
    }
    ~RemoteMemory() {
        VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
        CloseHandle(process_);
    }
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;

    LPARAM At(size_t offset = 0) const { return reinterpret_cast<LPARAM>(static_cast<char*>(address_) + offset); }
    void Write(const void* data, size_t size, size_t offset = 0) {
        WriteProcessMemory(process_, reinterpret_cast<void*>(At(offset)), data, size, nullptr);
    }
    void Read(void* data, size_t size, size_t offset = 0) const {
        ReadProcessMemory(process_, reinterpret_cast<void*>(At(offset)), data, size, nullptr);
    }

private:
    HANDLE process_ = nullptr;
    void* address_ = nullptr;
};

template <typename T>
T Exchange(HWND hwnd, UINT message, WPARAM wParam, T value) {
    RemoteMemory memory(hwnd, sizeof(T));
    memory.Write(&value, sizeof(T));
    SendMessageW(hwnd, message, wParam, memory.At());
    memory.Read(&value, sizeof(T));
    return value;
}

RECT CaptionRect(HWND tree, HTREEITEM item) {
    SendMessageW(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
    union {
        RECT rect;
        HTREEITEM item;  // TVM_GETITEMRECT takes the item in the RECT it fills
    } in{};
    in.item = item;
    return Exchange(tree, TVM_GETITEMRECT, TRUE, in).rect;
}

void SendMouse(DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof(input));
}

}  // namespace

bool PumpUntil(const std::function<bool()>& done, Milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    for (;;) {
        PumpPending();
        if (done()) return true;
        if (Clock::now() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void PumpFor(Milliseconds duration) { PumpUntil([] { return false; }, duration); }

void SetMessageFilter(std::function<bool(MSG&)> filter) { Filter() = std::move(filter); }

Process::Process(const std::wstring& commandLine) {
    std::wstring command = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        throw std::runtime_error("cannot start a program");
    }
    CloseHandle(info.hThread);
    process_ = info.hProcess;
    id_ = info.dwProcessId;
}

Process::~Process() {
    if (!process_) return;
    if (WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
    CloseHandle(process_);
}

Process::Process(Process&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)), id_(std::exchange(other.id_, 0)) {}

Process& Process::operator=(Process&& other) noexcept {
    std::swap(process_, other.process_);
    std::swap(id_, other.id_);
    return *this;
}

std::optional<DWORD> Process::WaitForExit(Milliseconds timeout) const {
    DWORD code = 0;
    if (!PumpUntil([&] { return WaitForSingleObject(process_, 0) == WAIT_OBJECT_0; }, timeout)) return std::nullopt;
    GetExitCodeProcess(process_, &code);
    return code;
}

DWORD Run(const std::wstring& commandLine) {
    Process process(commandLine);
    return process.WaitForExit(300s).value_or(99);
}

HWND FindTopWindow(DWORD pid, const wchar_t* className) {
    struct Data {
        DWORD pid;
        const wchar_t* className;
        HWND found;
    } data{pid, className, nullptr};
    EnumWindows(
        [](HWND hwnd, LPARAM param) -> BOOL {
            auto& d = *reinterpret_cast<Data*>(param);
            DWORD owner = 0;
            GetWindowThreadProcessId(hwnd, &owner);
            if (owner != d.pid || !IsWindowVisible(hwnd) || (d.className && ClassName(hwnd) != d.className)) return TRUE;
            d.found = hwnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&data));
    return data.found;
}

HWND FindChild(HWND parent, const wchar_t* className, int nth) {
    for (HWND child = GetWindow(parent, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (_wcsicmp(ClassName(child).c_str(), className) == 0 && nth-- == 0) return child;
    }
    return nullptr;
}

std::wstring WindowText(HWND hwnd) {
    std::wstring text(8192, L'\0');  // WM_GETTEXT crosses processes by itself
    text.resize(static_cast<size_t>(std::max(0, GetWindowTextW(hwnd, text.data(), 8192))));
    return text;
}

std::wstring ClassName(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

std::optional<Box> FindMessageBox(DWORD pid) {
    HWND box = FindTopWindow(pid, L"#32770");
    if (!box) return std::nullopt;
    bool icon = false;
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        icon = icon || ((GetWindowLongPtrW(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON && IsWindowVisible(child) &&
                        SendMessageW(child, STM_GETICON, 0, 0) != 0);
    }
    return Box{box, WindowText(box), WindowText(GetDlgItem(box, 0xFFFF)), icon};  // the prompt's id
}

void PressOk(HWND box) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    PumpUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); });
}

bool ClickButton(HWND button, const std::function<bool()>& done, Milliseconds timeout) {
    RECT rect{};
    GetWindowRect(button, &rect);
    ClickAt({(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
    if (PumpUntil(done, 5s)) return true;
    PostMessageW(button, BM_CLICK, 0, 0);
    return PumpUntil(done, timeout);
}

std::wstring StatusText(HWND statusBar, int part) {
    const size_t length = LOWORD(SendMessageW(statusBar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(part), 0));
    RemoteMemory memory(statusBar, (length + 1) * sizeof(wchar_t));
    SendMessageW(statusBar, SB_GETTEXTW, static_cast<WPARAM>(part), memory.At());
    std::wstring text(length, L'\0');
    memory.Read(text.data(), length * sizeof(wchar_t));
    return text;
}

std::vector<std::pair<int, bool>> StatusParts(HWND statusBar) {
    struct Edges {
        int right[16];
    };
    const int count = static_cast<int>(SendMessageW(statusBar, SB_GETPARTS, 0, 0));
    const Edges edges = Exchange(statusBar, SB_GETPARTS, 16, Edges{});
    std::vector<std::pair<int, bool>> parts;
    for (int i = 0; i < count && i < 16; ++i) {
        const LRESULT info = SendMessageW(statusBar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(i), 0);
        parts.push_back({edges.right[i], (HIWORD(info) & SBT_NOBORDERS) != 0});
    }
    return parts;
}

std::vector<TreeItem> ReadTree(HWND tree) {
    constexpr size_t kChars = 1024;
    std::vector<TreeItem> items;
    RemoteMemory memory(tree, sizeof(TVITEMW) + kChars * sizeof(wchar_t));
    const auto next = [&](UINT relation, HTREEITEM from) {
        return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(from)));
    };
    const auto level = [&](auto& self, HTREEITEM first, int depth) -> void {
        for (HTREEITEM item = first; item; item = next(TVGN_NEXT, item)) {
            TVITEMW tvi{};
            tvi.mask = TVIF_HANDLE | TVIF_TEXT | TVIF_STATE;
            tvi.hItem = item;
            tvi.stateMask = TVIS_STATEIMAGEMASK | TVIS_BOLD | TVIS_EXPANDED;
            tvi.pszText = reinterpret_cast<LPWSTR>(memory.At(sizeof(TVITEMW)));
            tvi.cchTextMax = kChars;
            memory.Write(&tvi, sizeof(tvi));
            SendMessageW(tree, TVM_GETITEMW, 0, memory.At());
            memory.Read(&tvi, sizeof(tvi));
            std::wstring text(kChars, L'\0');
            memory.Read(text.data(), kChars * sizeof(wchar_t), sizeof(TVITEMW));
            text.resize(text.find(L'\0'));
            const HTREEITEM child = next(TVGN_CHILD, item);
            items.push_back({item, depth, text, ((tvi.state & TVIS_STATEIMAGEMASK) >> 12) == 2,
                             (tvi.state & TVIS_BOLD) != 0, (tvi.state & TVIS_EXPANDED) != 0, child != nullptr});
            self(self, child, depth + 1);
        }
    };
    level(level, next(TVGN_ROOT, nullptr), 0);
    return items;
}

void ClickCheckBox(HWND tree, HTREEITEM item) {
    const RECT caption = CaptionRect(tree, item);
    const int y = (caption.top + caption.bottom) / 2;
    // The box stands left of the caption; find it by hit tests.
    for (int x = caption.left - 1; x >= 0; --x) {
        TVHITTESTINFO hit{};
        hit.pt = {x, y};
        hit = Exchange(tree, TVM_HITTEST, 0, hit);
        if (hit.hItem != item || !(hit.flags & TVHT_ONITEMSTATEICON)) continue;
        POINT point{x - 3, y};  // a little into the box, away from its edge
        ClientToScreen(tree, &point);
        return ClickAt(point);
    }
    throw std::runtime_error("the item shows no check box");
}

void PressSpaceOn(HWND tree, HTREEITEM item) {
    const RECT caption = CaptionRect(tree, item);
    POINT point{(caption.left + caption.right) / 2, (caption.top + caption.bottom) / 2};
    ClientToScreen(tree, &point);
    ClickAt(point);
    PumpUntil([&] { return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)) == item; });
    PressKey(VK_SPACE);
}

void ClickAt(POINT screen) {
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
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    SendMouse(MOUSEEVENTF_LEFTUP);
    last = Clock::now();
}

void PressKey(WORD virtualKey) {
    INPUT inputs[2] = {};
    inputs[0].type = inputs[1].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = inputs[1].ki.wVk = virtualKey;
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
}

}  // namespace clearstrand::driver
