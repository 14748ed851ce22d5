#include "platform/windows/system_library.h"

#include "platform/windows/win32_errors.h"

namespace clearstrand::win32 {

bool LoadLibrariesOnlyFromSystemFolder() {
    // Looked up rather than imported: Windows 7 has it only with update
    // KB2533623, and a missing import would stop the program before it can
    // say why.
    using SetDirectories = BOOL(WINAPI*)(DWORD);
    const auto set = reinterpret_cast<SetDirectories>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    return set && set(LOAD_LIBRARY_SEARCH_SYSTEM32);
}

SystemLibrary::SystemLibrary(const wchar_t* name)
    : module_(LoadLibraryExW(name, nullptr, LOAD_LIBRARY_SEARCH_SYSTEM32)) {
    if (!module_) ThrowLastError();
}

FARPROC SystemLibrary::Address(const char* name) const {
    const FARPROC address = GetProcAddress(module_.get(), name);
    if (!address) ThrowLastError();
    return address;
}

}  // namespace clearstrand::win32
