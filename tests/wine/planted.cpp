// A library planted beside a program under the name of one it may load: once
// loaded, it leaves "NAME.dll.loaded" beside itself and refuses to stay, so
// that a program that loads it fails cleanly rather than calling into it.

#include <windows.h>

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, void*) {
    if (reason == DLL_PROCESS_ATTACH) {
        wchar_t path[MAX_PATH + 8] = {};
        const DWORD length = GetModuleFileNameW(self, path, MAX_PATH);
        lstrcpyW(path + length, L".loaded");
        CloseHandle(CreateFileW(path, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
    }
    return reason != DLL_PROCESS_ATTACH;
}
