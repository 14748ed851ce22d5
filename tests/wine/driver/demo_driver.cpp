// demo_driver CLEARSTRAND_EXE FOLDER
// Starts the program, answers the disclaimer, waits for "Ready", writes
// the window's geometry to FOLDER\ready, waits for FOLDER\shot (the screenshot was taken), then
// presses Cancel. Unix paths are taken through drive Z:.

#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <algorithm>
#include <cstdio>
#include <string>

#include "wine/driver/driver.h"

namespace drv = clearstrand::driver;
using namespace std::chrono_literals;

namespace {

std::wstring WindowsPath(std::wstring path) {
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

int Fail(const char* what) {
    std::fprintf(stderr, "demo: %s\n", what);
    return 1;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return Fail("usage: demo_driver CLEARSTRAND_EXE FOLDER");
    const std::wstring exe = WindowsPath(argv[1]);
    const std::wstring folder = WindowsPath(argv[2]);

    drv::Process app = drv::Launch(exe);
    if (!drv::AnswerMessageBox(app.Id(), L"Clearstrand", IDOK, 30s)) return Fail("no disclaimer");
    const HWND main = drv::WaitForTopWindow(app.Id(), nullptr, L"Clearstrand Utility", 30s);
    if (!main) return Fail("no window");
    const HWND status = drv::FindChild(main, STATUSCLASSNAMEW);
    if (!drv::WaitForStatusText(status, 1, L"Ready", 60s)) return Fail("never ready");

    std::printf("demo: the tree shows %zu nodes\n", drv::ReadTree(drv::FindChild(main, WC_TREEVIEWW)).size());
    std::fflush(stdout);
    // The window's place on the screen, as the screenshot's crop geometry.
    RECT rect{};
    GetWindowRect(main, &rect);
    // Written aside and renamed, so the script never reads half a file.
    if (FILE* ready = _wfopen((folder + L"\\ready.tmp").c_str(), L"w")) {
        std::fprintf(ready, "%ldx%ld+%ld+%ld\n", rect.right - rect.left, rect.bottom - rect.top, rect.left, rect.top);
        std::fclose(ready);
        MoveFileExW((folder + L"\\ready.tmp").c_str(), (folder + L"\\ready").c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    drv::PumpUntil([&] { return GetFileAttributesW((folder + L"\\shot").c_str()) != INVALID_FILE_ATTRIBUTES; },
                   60s);

    drv::ClickButtonUntil(FindWindowExW(main, nullptr, L"Button", L"Cancel"),
                          [&] { return app.WaitForExit(drv::Milliseconds(0)).has_value(); });
    const auto code = app.WaitForExit(20s);
    if (!code) {
        app.Kill();
        return Fail("Cancel did not end the program");
    }
    return static_cast<int>(*code);
}
