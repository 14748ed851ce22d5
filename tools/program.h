#pragma once

// Starting a Windows program and finding its windows, as the Wine tests and
// the benchmark drive clearstrand.exe, and the paths their scripts hand them.
// Every wait handles this thread's messages meanwhile, so that a window of
// this thread stays responsive.

#include <windows.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

#include "platform/windows/handles.h"

namespace clearstrand::driver {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using Milliseconds = std::chrono::milliseconds;

// A window's IsDialogMessage, for the messages the waits handle.
inline std::function<bool(MSG&)> messageFilter;

inline bool PumpUntil(const std::function<bool()>& done, Milliseconds timeout = 10s) {
    const auto end = Clock::now() + timeout;
    for (;;) {
        MSG msg;
        while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
            if (msg.message == WM_QUIT || (messageFilter && messageFilter(msg))) continue;
            TranslateMessage(&msg);
            DispatchMessageW(&msg);
        }
        if (done()) return true;
        if (Clock::now() >= end) return false;
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

inline void PumpFor(Milliseconds duration) { PumpUntil([] { return false; }, duration); }

// A started program, ended with this object if it still runs.
class Process {
public:
    explicit Process(std::wstring commandLine) {
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        PROCESS_INFORMATION info{};
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
            throw std::runtime_error("cannot start a program");
        }
        win32::UniqueKernelHandle thread(info.hThread);
        process_.reset(info.hProcess);
        id_ = info.dwProcessId;
    }
    ~Process() {
        if (WaitForSingleObject(process_.get(), 0) == WAIT_TIMEOUT) TerminateProcess(process_.get(), 99);
        WaitForSingleObject(process_.get(), 5000);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    DWORD Id() const { return id_; }
    HANDLE Handle() const { return process_.get(); }
    // The exit code, once the program has ended within `timeout`.
    std::optional<DWORD> WaitForExit(Milliseconds timeout = 10s) const {
        if (!PumpUntil([&] { return WaitForSingleObject(process_.get(), 0) == WAIT_OBJECT_0; }, timeout)) return std::nullopt;
        DWORD code = 0;
        GetExitCodeProcess(process_.get(), &code);
        return code;
    }

private:
    win32::UniqueKernelHandle process_;
    DWORD id_ = 0;
};

// A path given on the command line by a Unix script: Wine shows the Unix root
// as drive Z:.
inline std::wstring WindowsPath(std::wstring path) {
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

// Runs a program to its end: the exit code.
inline DWORD Run(const std::wstring& commandLine) { return Process(commandLine).WaitForExit(300s).value_or(99); }

// A visible top-level window of the process, of that class and, if given, title.
inline HWND FindTopWindow(DWORD pid, const wchar_t* className, const wchar_t* title = nullptr) {
    for (HWND hwnd = FindWindowExW(nullptr, nullptr, className, title); hwnd;
         hwnd = FindWindowExW(nullptr, hwnd, className, title)) {
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner == pid && IsWindowVisible(hwnd)) return hwnd;
    }
    return nullptr;
}

}  // namespace clearstrand::driver
