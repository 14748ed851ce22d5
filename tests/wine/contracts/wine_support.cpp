#include "wine_support.h"

#include <stdexcept>
#include <vector>

#include "platform/errors.h"
#include "platform/windows/com.h"
#include "platform/windows/wide_strings.h"

namespace clearstrand::wine_tests {

std::wstring ExeFolder() {
    std::vector<wchar_t> buffer(MAX_PATH);
    while (true) {
        const DWORD length = GetModuleFileNameW(nullptr, buffer.data(), static_cast<DWORD>(buffer.size()));
        if (length < buffer.size()) {
            std::wstring path(buffer.data(), length);
            return path.substr(0, path.find_last_of(L'\\'));
        }
        buffer.resize(buffer.size() * 2);
    }
}

DWORD RunAndWait(const std::wstring& commandLine) {
    std::vector<wchar_t> command(commandLine.begin(), commandLine.end());
    command.push_back(L'\0');
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    CheckBool(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                             &startup, &info),
              L"CreateProcessW(" + commandLine + L")");
    const win32::UniqueKernelHandle process(info.hProcess);
    const win32::UniqueKernelHandle thread(info.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    CheckBool(GetExitCodeProcess(process.get(), &code), L"GetExitCodeProcess");
    return code;
}

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

void Check(LSTATUS code, const std::wstring& what) {
    if (code != ERROR_SUCCESS) {
        throw std::runtime_error(ToUtf8(win32::FromWide(what)) + " failed: " + std::to_string(code));
    }
}

void CheckBool(BOOL ok, const std::wstring& what) {
    if (!ok) {
        const DWORD error = GetLastError();
        Check(static_cast<LSTATUS>(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE), what);
    }
}

}  // namespace clearstrand::wine_tests
