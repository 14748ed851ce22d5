#pragma once

// The one-line helpers that turn a failed system call into PlatformError, in
// the system's own words.

#include <windows.h>

#include <cstdint>
#include <string>

namespace clearstrand::win32 {

// The system's words for a Win32 code or an HRESULT, as the user reads them:
// no call names, no hexadecimal codes.
std::u16string DescribeError(uint32_t code);

// Raise PlatformError with `code`, its description, and the file or folder
// the failure is about, if any.
[[noreturn]] void ThrowError(uint32_t code, std::u16string path = {});

inline void ThrowIfFailed(HRESULT hr) {
    if (FAILED(hr)) ThrowError(static_cast<uint32_t>(hr));
}

// For the functions that report through GetLastError.
[[noreturn]] inline void ThrowLastError(std::u16string path = {}) {
    const DWORD code = GetLastError();
    ThrowError(code == ERROR_SUCCESS ? static_cast<uint32_t>(E_FAIL) : code, std::move(path));
}

// The installer's UINT codes are Win32 codes.
inline void ThrowIfInstallerError(UINT code) {
    if (code != ERROR_SUCCESS) ThrowError(code);
}

}  // namespace clearstrand::win32
