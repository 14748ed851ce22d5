#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace clearstrand::memory_detail {

// Upper-cases for case-insensitive names the way the registry and the file
// system compare them (ASCII and Latin-1 letters are enough for the tests).
inline std::u16string Fold(std::u16string_view text) {
    std::u16string out(text);
    for (char16_t& c : out) {
        if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) c -= 0x20;
    }
    return out;
}

// Splits a backslash path into its components; a trailing backslash is
// ignored, other empty components are kept so that lookups of malformed
// paths fail.
inline std::vector<std::u16string> SplitPath(std::u16string_view path) {
    std::vector<std::u16string> parts;
    if (path.empty()) return parts;
    if (path.back() == u'\\') path.remove_suffix(1);
    size_t start = 0;
    while (true) {
        size_t end = path.find(u'\\', start);
        parts.emplace_back(path.substr(start, end == std::u16string_view::npos ? end : end - start));
        if (end == std::u16string_view::npos) break;
        start = end + 1;
    }
    return parts;
}

}  // namespace clearstrand::memory_detail
