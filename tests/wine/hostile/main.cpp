#include <windows.h>

#include <shellapi.h>

#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "hostile_support.h"
#include "platform/windows/com.h"

// "--hold PATH EVENT" makes this exe the other process that keeps a file open;
// anything else runs the tests. The services run on an apartment thread, as
// in the program.
int main(int argc, char** argv) {
    int wideCount = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &wideCount);
    if (wide != nullptr && wideCount == 4 && std::wstring(wide[1]) == L"--hold") {
        const int code = clearstrand::hostile::HoldFileUntilEnded(wide[2], wide[3]);
        LocalFree(wide);
        return code;
    }
    LocalFree(wide);

    const clearstrand::win32::ComInit com;
    ::testing::InitGoogleTest(&argc, argv);
    const int result = RUN_ALL_TESTS();
    std::printf("hostile cases: %d\n", clearstrand::hostile::CaseCount());
    std::fflush(stdout);
    return result;
}
