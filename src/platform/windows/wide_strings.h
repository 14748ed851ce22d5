#pragma once

// The core speaks std::u16string; Win32 speaks wchar_t. Both are UTF-16 code
// units on Windows, so the conversion is a copy, never a transcoding.

#include <windows.h>

#include <string>
#include <string_view>

namespace clearstrand::win32 {

static_assert(sizeof(wchar_t) == sizeof(char16_t), "wchar_t must be UTF-16 on Windows");

inline std::wstring ToWide(std::u16string_view text) {
    return std::wstring(reinterpret_cast<const wchar_t*>(text.data()), text.size());
}

inline std::u16string FromWide(std::wstring_view text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.data()), text.size());
}

// Whether two texts are the same but for letter case, as the system compares
// the names of files, keys and namespaces.
inline bool SameText(std::wstring_view a, std::wstring_view b) {
    return CompareStringOrdinal(a.data(), static_cast<int>(a.size()), b.data(), static_cast<int>(b.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace clearstrand::win32
