#include "wine/driver/driver.h"

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
        if (msg.message == WM_QUIT) continue;  // a test's window was destroyed
        if (Filter() && Filter()(msg)) continue;
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Memory in the process that owns `window`, for messages that carry
// pointers. Inside the same process it is simply memory of ours.
class RemoteMemory {
public:
    RemoteMemory(HWND window, size_t size) : size_(size) {
        DWORD pid = 0;
        GetWindowThreadProcessId(window, &pid);
        process_ = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, pid);
        if (!process_) throw std::runtime_error("OpenProcess failed");
        address_ = VirtualAllocEx(process_, nullptr, size, MEM_COMMIT | MEM_RESERVE, PAGE_READWRITE);
        if (!address_) {
            CloseHandle(process_);
            throw std::runtime_error("VirtualAllocEx failed");
        }
    }
    ~RemoteMemory() {
        VirtualFreeEx(process_, address_, 0, MEM_RELEASE);
        CloseHandle(process_);
    }
    RemoteMemory(const RemoteMemory&) = delete;
    RemoteMemory& operator=(const RemoteMemory&) = delete;

    char* Address() const { return static_cast<char*>(address_); }
    LPARAM Param(size_t offset = 0) const { return reinterpret_cast<LPARAM>(Address() + offset); }

    void Write(const void* data, size_t size, size_t offset = 0) {
        SIZE_T done = 0;
        if (offset + size > size_ || !WriteProcessMemory(process_, Address() + offset, data, size, &done))
            throw std::runtime_error("WriteProcessMemory failed");
    }
    void Read(void* data, size_t size, size_t offset = 0) const {
        SIZE_T done = 0;
        if (offset + size > size_ || !ReadProcessMemory(process_, Address() + offset, data, size, &done))
            throw std::runtime_error("ReadProcessMemory failed");
    }

private:
    HANDLE process_ = nullptr;
    void* address_ = nullptr;
    size_t size_;
};

constexpr size_t kTextChars = 1024;

struct FindData {
    DWORD pid;
    const wchar_t* className;
    const wchar_t* title;
    HWND found;
};

BOOL CALLBACK MatchTopWindow(HWND hwnd, LPARAM param) {
    auto& data = *reinterpret_cast<FindData*>(param);
    DWORD pid = 0;
    GetWindowThreadProcessId(hwnd, &pid);
    if (data.pid != 0 && pid != data.pid) return TRUE;
    if (!IsWindowVisible(hwnd)) return TRUE;
    if (data.className && ClassName(hwnd) != data.className) return TRUE;
    if (data.title && WindowText(hwnd) != data.title) return TRUE;
    data.found = hwnd;
    return FALSE;
}

RECT ItemRect(HWND tree, HTREEITEM item, bool textOnly) {
    RemoteMemory memory(tree, sizeof(RECT));
    // TVM_GETITEMRECT takes the item in the RECT it fills.
    RECT rect{};
    memory.Write(&item, sizeof(item));
    if (!SendMessageW(tree, TVM_GETITEMRECT, textOnly ? TRUE : FALSE, memory.Param()))
        throw std::runtime_error("the tree item is not visible");
    memory.Read(&rect, sizeof(rect));
    return rect;
}

UINT HitTest(HWND tree, POINT client, HTREEITEM* item) {
    RemoteMemory memory(tree, sizeof(TVHITTESTINFO));
    TVHITTESTINFO hit{};
    hit.pt = client;
    memory.Write(&hit, sizeof(hit));
    SendMessageW(tree, TVM_HITTEST, 0, memory.Param());
    memory.Read(&hit, sizeof(hit));
    if (item) *item = hit.hItem;
    return hit.flags;
}

void SendMouse(DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dwFlags = flags;
    SendInput(1, &input, sizeof(input));
}

}  // namespace

// ---- Waiting -----------------------------------------------------------------

bool PumpUntil(const std::function<bool()>& done, Milliseconds timeout) {
    const auto end = Clock::now() + timeout;
    for (;;) {
        PumpPending();
        if (done()) return true;
        if (Clock::now() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

void PumpFor(Milliseconds duration) {
    PumpUntil([] { return false; }, duration);
}

void SetMessageFilter(std::function<bool(MSG&)> filter) {
    Filter() = std::move(filter);
}

// ---- Processes ---------------------------------------------------------------

Process::~Process() {
    if (process_) CloseHandle(process_);
}

Process::Process(Process&& other) noexcept
    : process_(std::exchange(other.process_, nullptr)), id_(std::exchange(other.id_, 0)) {}

Process& Process::operator=(Process&& other) noexcept {
    std::swap(process_, other.process_);
    std::swap(id_, other.id_);
    return *this;
}

std::optional<DWORD> Process::WaitForExit(Milliseconds timeout) const {
    const auto end = Clock::now() + timeout;
    for (;;) {
        if (WaitForSingleObject(process_, 0) == WAIT_OBJECT_0) {
            DWORD code = 0;
            GetExitCodeProcess(process_, &code);
            return code;
        }
        if (Clock::now() >= end) return std::nullopt;
        PumpFor(Milliseconds(20));
    }
}

void Process::Kill() {
    if (process_ && WaitForSingleObject(process_, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process_, 99);
        WaitForSingleObject(process_, 5000);
    }
}

Process Launch(const std::wstring& exe, const std::wstring& arguments) {
    std::wstring commandLine = L"\"" + exe + L"\"";
    if (!arguments.empty()) commandLine += L" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &info))
        throw std::runtime_error("CreateProcessW failed");
    CloseHandle(info.hThread);
    return Process(info.hProcess, info.dwProcessId);
}

// ---- Windows -----------------------------------------------------------------

HWND FindTopWindow(DWORD pid, const wchar_t* className, const wchar_t* title) {
    FindData data{pid, className, title, nullptr};
    EnumWindows(&MatchTopWindow, reinterpret_cast<LPARAM>(&data));
    return data.found;
}

HWND WaitForTopWindow(DWORD pid, const wchar_t* className, const wchar_t* title, Milliseconds timeout) {
    HWND found = nullptr;
    PumpUntil([&] { return (found = FindTopWindow(pid, className, title)) != nullptr; }, timeout);
    return found;
}

HWND FindChild(HWND parent, const wchar_t* className, int nth) {
    struct Data {
        const wchar_t* className;
        int left;
        HWND found;
    } data{className, nth, nullptr};
    EnumChildWindows(
        parent,
        [](HWND hwnd, LPARAM param) -> BOOL {
            auto& d = *reinterpret_cast<Data*>(param);
            if (_wcsicmp(ClassName(hwnd).c_str(), d.className) != 0) return TRUE;
            if (d.left-- > 0) return TRUE;
            d.found = hwnd;
            return FALSE;
        },
        reinterpret_cast<LPARAM>(&data));
    return data.found;
}

std::wstring WindowText(HWND hwnd) {
    // WM_GETTEXT is carried across processes by the system itself.
    std::wstring text(kTextChars, L'\0');
    const int length = GetWindowTextW(hwnd, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<size_t>(std::max(length, 0)));
    return text;
}

std::wstring ClassName(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

// ---- Message boxes -----------------------------------------------------------

std::wstring MessageBoxText(HWND box) {
    // The prompt is the static with id 0xFFFF.
    std::wstring text(8192, L'\0');
    const UINT length = GetDlgItemTextW(box, 0xFFFF, text.data(), static_cast<int>(text.size()));
    text.resize(length);
    return text;
}

void PressDialogButton(HWND box, int id) {
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, id)));
}

std::optional<MessageBoxSeen> AnswerMessageBox(DWORD pid, const wchar_t* title, int id, Milliseconds timeout) {
    HWND box = WaitForTopWindow(pid, kDialogClass, title, timeout);
    if (!box) return std::nullopt;
    MessageBoxSeen seen{WindowText(box), MessageBoxText(box)};
    PressDialogButton(box, id);
    PumpUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, timeout);
    return seen;
}

// ---- Buttons -----------------------------------------------------------------

void ClickButton(HWND button) {
    RECT rect{};
    GetWindowRect(button, &rect);
    ClickAt({(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2});
}

bool ClickButtonUntil(HWND button, const std::function<bool()>& done, Milliseconds timeout) {
    ClickButton(button);
    if (PumpUntil(done, Milliseconds(5000))) return true;
    PostMessageW(button, BM_CLICK, 0, 0);
    return PumpUntil(done, timeout);
}

bool IsEnabled(HWND hwnd) {
    return IsWindowEnabled(hwnd) != FALSE;
}

// ---- Status bar --------------------------------------------------------------

std::wstring StatusText(HWND statusBar, int part) {
    const LRESULT info = SendMessageW(statusBar, SB_GETTEXTLENGTHW, static_cast<WPARAM>(part), 0);
    const size_t length = LOWORD(info);
    RemoteMemory memory(statusBar, (length + 1) * sizeof(wchar_t));
    SendMessageW(statusBar, SB_GETTEXTW, static_cast<WPARAM>(part), memory.Param());
    std::wstring text(length, L'\0');
    memory.Read(text.data(), length * sizeof(wchar_t));
    return text;
}

bool WaitForStatusText(HWND statusBar, int part, const std::wstring& text, Milliseconds timeout) {
    return PumpUntil([&] { return IsWindow(statusBar) && StatusText(statusBar, part) == text; }, timeout);
}

int StatusPartCount(HWND statusBar) {
    return static_cast<int>(SendMessageW(statusBar, SB_GETPARTS, 0, 0));
}

RECT StatusPartRect(HWND statusBar, int part) {
    RemoteMemory memory(statusBar, sizeof(RECT));
    SendMessageW(statusBar, SB_GETRECT, static_cast<WPARAM>(part), memory.Param());
    RECT rect{};
    memory.Read(&rect, sizeof(rect));
    return rect;
}

// ---- Tree view ---------------------------------------------------------------

std::vector<TreeItem> ReadTree(HWND tree) {
    std::vector<TreeItem> items;
    RemoteMemory memory(tree, sizeof(TVITEMW) + kTextChars * sizeof(wchar_t));
    const auto next = [&](UINT relation, HTREEITEM from) {
        return reinterpret_cast<HTREEITEM>(
            SendMessageW(tree, TVM_GETNEXTITEM, relation, reinterpret_cast<LPARAM>(from)));
    };
    // Depth first; the tree is a few levels deep, so recursion is fine.
    const auto readLevel = [&](auto& self, HTREEITEM first, HTREEITEM parent, int depth) -> void {
        for (HTREEITEM item = first; item; item = next(TVGN_NEXT, item)) {
            TVITEMW tvi{};
            tvi.mask = TVIF_HANDLE | TVIF_TEXT | TVIF_STATE;
            tvi.hItem = item;
            tvi.stateMask = TVIS_STATEIMAGEMASK | TVIS_BOLD | TVIS_EXPANDED;
            tvi.pszText = reinterpret_cast<LPWSTR>(memory.Address() + sizeof(TVITEMW));
            tvi.cchTextMax = static_cast<int>(kTextChars);
            memory.Write(&tvi, sizeof(tvi));
            SendMessageW(tree, TVM_GETITEMW, 0, memory.Param());
            memory.Read(&tvi, sizeof(tvi));
            std::wstring text(kTextChars, L'\0');
            memory.Read(text.data(), kTextChars * sizeof(wchar_t), sizeof(TVITEMW));
            text.resize(text.find(L'\0'));
            items.push_back({item, parent, depth, text, ((tvi.state & TVIS_STATEIMAGEMASK) >> 12) == 2,
                             (tvi.state & TVIS_BOLD) != 0, (tvi.state & TVIS_EXPANDED) != 0});
            self(self, next(TVGN_CHILD, item), item, depth + 1);
        }
    };
    readLevel(readLevel, next(TVGN_ROOT, nullptr), nullptr, 0);
    return items;
}

std::optional<TreeItem> FindItem(HWND tree, const std::wstring& text) {
    std::optional<TreeItem> found;
    for (TreeItem& item : ReadTree(tree)) {
        if (item.text != text) continue;
        if (found) return std::nullopt;
        found = std::move(item);
    }
    return found;
}

void ClickCheckBox(HWND tree, HTREEITEM item) {
    // In our own process, let the tree finish what it deferred (drawing).
    PumpPending();
    SendMessageW(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
    const RECT text = ItemRect(tree, item, true);
    const int y = (text.top + text.bottom) / 2;
    // The state icon stands left of the caption; find its extent by hit tests.
    int right = -1;
    int left = -1;
    for (int x = text.left - 1; x >= 0; --x) {
        HTREEITEM hitItem = nullptr;
        const bool onIcon = (HitTest(tree, {x, y}, &hitItem) & TVHT_ONITEMSTATEICON) && hitItem == item;
        if (onIcon && right < 0) right = x;
        if (onIcon) left = x;
        if (!onIcon && right >= 0) break;
    }
    if (right < 0) throw std::runtime_error("the item shows no check box");
    POINT point{(left + right) / 2, y};
    ClientToScreen(tree, &point);
    ClickAt(point);
}

void PressSpaceOn(HWND tree, HTREEITEM item) {
    // A user selects the item with a click on its caption, which also gives
    // the tree the focus, then presses Space.
    PumpPending();
    SendMessageW(tree, TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(item));
    const RECT text = ItemRect(tree, item, true);
    POINT point{(text.left + text.right) / 2, (text.top + text.bottom) / 2};
    ClientToScreen(tree, &point);
    ClickAt(point);
    PumpUntil([&] {
        return reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CARET, 0)) == item;
    });
    PressKey(VK_SPACE);
}

// ---- Input -------------------------------------------------------------------

void ClickAt(POINT screen) {
    // Two clicks at one place in quick succession would make a double click.
    static Clock::time_point lastClick;
    static POINT lastPoint{-10000, -10000};
    const auto gap = Milliseconds(GetDoubleClickTime() + 50);
    if (std::abs(screen.x - lastPoint.x) <= GetSystemMetrics(SM_CXDOUBLECLK) &&
        std::abs(screen.y - lastPoint.y) <= GetSystemMetrics(SM_CYDOUBLECLK)) {
        const auto wait = lastClick + gap - Clock::now();
        if (wait > Clock::duration::zero()) PumpFor(std::chrono::duration_cast<Milliseconds>(wait));
    }
    HWND top = GetAncestor(WindowFromPoint(screen), GA_ROOT);
    if (top) SetForegroundWindow(top);
    SetCursorPos(screen.x, screen.y);
    SendMouse(MOUSEEVENTF_LEFTDOWN);
    SendMouse(MOUSEEVENTF_LEFTUP);
    lastClick = Clock::now();
    lastPoint = screen;
}

void PressKey(WORD virtualKey) {
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = virtualKey;
    inputs[1].type = INPUT_KEYBOARD;
    inputs[1].ki.wVk = virtualKey;
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    SendInput(2, inputs, sizeof(INPUT));
}

}  // namespace clearstrand::driver
