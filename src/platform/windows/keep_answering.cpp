#include "platform/windows/keep_answering.h"

#include <windows.h>

namespace clearstrand::win32 {

namespace {

constexpr ULONGLONG kInterval = 100;  // ms; the system calls a window hung after 5 s
constexpr int kMostPaints = 32;       // a window that never validates cannot keep us here

}  // namespace

void KeepAnswering() noexcept {
    thread_local ULONGLONG last = 0;
    const ULONGLONG now = GetTickCount64();
    if (now - last < kInterval) return;
    last = now;
    MSG msg;
    // Sent messages are handled inside the peek; nothing is taken from the queue.
    PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    for (int i = 0; i < kMostPaints && PeekMessageW(&msg, nullptr, WM_PAINT, WM_PAINT, PM_REMOVE | PM_QS_PAINT); ++i) {
        DispatchMessageW(&msg);
    }
}

}  // namespace clearstrand::win32
