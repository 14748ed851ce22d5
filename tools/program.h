#pragma once

// Starting a Windows program and finding its windows, as the Wine tests and
// the benchmark drive clearstrand.exe. Every wait handles this thread's
// messages meanwhile, so that a window of this thread stays responsive.

#include <windows.h>

#include <chrono>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>

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
        if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info_)) {
            throw std::runtime_error("cannot start a program");
        }
        CloseHandle(info_.hThread);
    }
    ~Process() {
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) TerminateProcess(info_.hProcess, 99);
        WaitForSingleObject(info_.hProcess, 5000);
        CloseHandle(info_.hProcess);
    }
    Process(const Process&) = delete;
    Process& operator=(const Process&) = delete;

    DWORD Id() const { return info_.dwProcessId; }
    HANDLE Handle() const { return info_.hProcess; }
    // The exit code, once the program has ended within `timeout`.
    std::optional<DWORD> WaitForExit(Milliseconds timeout = 10s) const {
        if (!PumpUntil([&] { return WaitForSingleObject(info_.hProcess, 0) == WAIT_OBJECT_0; }, timeout)) return std::nullopt;
        DWORD code = 0;
        GetExitCodeProcess(info_.hProcess, &code);
        return code;
    }

private:
    PROCESS_INFORMATION info_{};
};

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
