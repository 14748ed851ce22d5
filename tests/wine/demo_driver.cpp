// demo_driver CLEARSTRAND_EXE FOLDER   (Unix paths go through Z:)
// For the headless demo: starts the program, answers the disclaimer, waits
// for "Ready", writes the window's place to FOLDER\ready, waits for
// FOLDER\shot (the screenshot was taken), then presses Cancel.

#include <windows.h>

#include <algorithm>
#include <cstdio>

#include "wine/driver.h"

namespace drv = clearstrand::driver;
using namespace std::chrono_literals;

int wmain(int argc, wchar_t** argv) {
    if (argc < 3) return 2;
    std::wstring exe = argv[1], folder = argv[2];
    for (std::wstring* path : {&exe, &folder}) {
        if ((*path)[0] == L'/') *path = L"Z:" + *path;
        std::replace(path->begin(), path->end(), L'/', L'\\');
    }
    drv::Process app(L"\"" + exe + L"\"");
    std::optional<drv::Box> box;
    if (!drv::PumpUntil([&] { return (box = drv::FindMessageBox(app.Id())).has_value(); }, 30s)) return 1;
    drv::PressOk(box->hwnd);
    HWND main = nullptr;
    if (!drv::PumpUntil([&] { return (main = drv::FindTopWindow(app.Id(), L"ClearstrandUtilityWindow")); }, 30s) ||
        !drv::PumpUntil([&] { return drv::StatusText(drv::FindChild(main, STATUSCLASSNAMEW), 1) == L"Ready"; }, 60s)) {
        return 1;
    }
    RECT rect{};
    GetWindowRect(main, &rect);
    // Written aside and renamed, so that the script never reads half a file.
    if (FILE* ready = _wfopen((folder + L"\\ready.tmp").c_str(), L"w")) {
        std::fprintf(ready, "%ldx%ld+%ld+%ld\n", rect.right - rect.left, rect.bottom - rect.top, rect.left, rect.top);
        std::fclose(ready);
        MoveFileExW((folder + L"\\ready.tmp").c_str(), (folder + L"\\ready").c_str(), MOVEFILE_REPLACE_EXISTING);
    }
    drv::PumpUntil([&] { return GetFileAttributesW((folder + L"\\shot").c_str()) != INVALID_FILE_ATTRIBUTES; }, 60s);
    drv::ClickButton(FindWindowExW(main, nullptr, L"Button", L"Cancel"), [&] { return app.WaitForExit(0ms).has_value(); });
    return static_cast<int>(app.WaitForExit(20s).value_or(1));
}
