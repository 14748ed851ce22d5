#include "removal/folder_safety.h"

#include <algorithm>
#include <optional>
#include <string>
#include <vector>

namespace clearstrand {

char16_t FoldForCompare(char16_t c) {
    const auto shifted = [c](int delta) { return static_cast<char16_t>(c + delta); };
    // Pairs where the capital letter sits on the even code point.
    const auto evenUpper = [c]() { return static_cast<char16_t>(c & ~char16_t{1}); };
    // Pairs where the capital letter sits on the odd code point.
    const auto oddUpper = [c]() { return static_cast<char16_t>(c % 2 == 0 ? c - 1 : c); };

    if (c < 0x80) return (c >= u'a' && c <= u'z') ? shifted(-0x20) : c;
    if (c < 0x100) {
        if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return shifted(-0x20);
        if (c == 0xFF) return 0x178;  // y with diaeresis: its capital is in Latin Extended-A
        if (c == 0xB5) return 0x39C;  // micro sign folds to capital mu
        return c;
    }
    if (c < 0x180) {
        if (c <= 0x137) return c == 0x131 ? u'I' : evenUpper();  // dotless i folds to I
        if (c == 0x138) return c;                                  // kra has no capital
        if (c <= 0x148) return oddUpper();
        if (c == 0x149) return c;
        if (c <= 0x177) return evenUpper();
        if (c == 0x178) return c;
        if (c <= 0x17E) return oddUpper();
        return u'S';  // long s
    }
    if (c >= 0x370 && c < 0x400) {
        if (c >= 0x3B1 && c <= 0x3CB) return c == 0x3C2 ? char16_t{0x3A3} : shifted(-0x20);
        if (c == 0x3AC) return 0x386;
        if (c >= 0x3AD && c <= 0x3AF) return shifted(-0x25);
        if (c == 0x3CC) return 0x38C;
        if (c == 0x3CD || c == 0x3CE) return shifted(-0x3F);
        return c;
    }
    if (c >= 0x400 && c < 0x530) {
        if (c >= 0x430 && c <= 0x44F) return shifted(-0x20);
        if (c >= 0x450 && c <= 0x45F) return shifted(-0x50);
        if ((c >= 0x460 && c <= 0x481) || (c >= 0x48A && c <= 0x4BF) || c >= 0x4D0) return evenUpper();
        if (c >= 0x4C1 && c <= 0x4CE) return oddUpper();
        if (c == 0x4CF) return 0x4C0;
        return c;
    }
    if (c >= 0xFF41 && c <= 0xFF5A) return shifted(-0x20);  // fullwidth a-z
    return c;
}

namespace {

// A path reduced to what identifies it: its root (drive letter or server and
// share, folded) and its folded components below the root.
struct ParsedPath {
    std::u16string root;
    std::vector<std::u16string> components;
};

std::u16string Fold(std::u16string_view text) {
    std::u16string out;
    out.reserve(text.size());
    for (char16_t c : text) out += FoldForCompare(c);
    return out;
}

// A component whose meaning depends on how the path is resolved: relative
// steps, short names (which alias long ones), names Windows trims on open,
// and characters no name may hold (stream separators, wildcards).
bool IsAmbiguous(std::u16string_view component) {
    if (component == u"." || component == u"..") return true;
    if (component.back() == u'.' || component.back() == u' ') return true;
    for (size_t i = 0; i < component.size(); ++i) {
        const char16_t c = component[i];
        if (c < 0x20) return true;
        switch (c) {
        case u':': case u'*': case u'?': case u'"': case u'<': case u'>': case u'|':
            return true;
        default:
            break;
        }
        if (c == u'~' && i + 1 < component.size() && component[i + 1] >= u'0' &&
            component[i + 1] <= u'9') {
            return true;
        }
    }
    // A short name need not have a digit after its tilde (Wine makes
    // "PROG~FBU"): any name of 8.3 shape with a tilde may be one.
    const size_t dot = component.find(u'.');
    const size_t base = std::min(dot, component.size());
    const bool shortShape = base <= 8 && (dot == std::u16string_view::npos ||
                                          (component.size() - dot - 1 <= 3 &&
                                           component.find(u'.', dot + 1) == std::u16string_view::npos));
    return shortShape && component.find(u'~') != std::u16string_view::npos &&
           component.find(u' ') == std::u16string_view::npos;
}

std::vector<std::u16string_view> Split(std::u16string_view text) {
    std::vector<std::u16string_view> parts;
    size_t start = 0;
    while (start <= text.size()) {
        size_t end = text.find(u'\\', start);
        if (end == std::u16string_view::npos) end = text.size();
        // Repeated and trailing separators name nothing.
        if (end > start) parts.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return parts;
}

bool IsDriveLetter(char16_t c) { return (c >= u'A' && c <= u'Z') || (c >= u'a' && c <= u'z'); }

bool HasPrefix(std::u16string_view text, std::u16string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

// nullopt when the path is not absolute or holds a component that cannot be
// compared safely.
std::optional<ParsedPath> Parse(std::u16string_view raw) {
    std::u16string path(raw);
    for (char16_t& c : path) {
        if (c == u'/') c = u'\\';
    }
    std::u16string_view rest(path);

    bool unc = false;
    if (HasPrefix(rest, u"\\\\?\\")) {
        rest.remove_prefix(4);
        const std::u16string folded = Fold(rest.substr(0, 4));
        if (folded == u"UNC\\") {
            rest.remove_prefix(4);
            unc = true;
        }
    } else if (HasPrefix(rest, u"\\\\")) {
        rest.remove_prefix(2);
        unc = true;
    }

    ParsedPath parsed;
    if (unc) {
        const auto parts = Split(rest);
        // Only a separator may precede the server: "\\\server" is not a share.
        if (rest.empty() || rest.front() == u'\\' || parts.size() < 2) return std::nullopt;
        // Device namespaces ("\\.\", "\\?\" not followed by a drive or UNC).
        if (parts[0] == u"." || parts[0] == u"?") return std::nullopt;
        for (const auto& part : parts) {
            if (IsAmbiguous(part)) return std::nullopt;
        }
        parsed.root = u"\\\\" + Fold(parts[0]) + u"\\" + Fold(parts[1]);
        for (size_t i = 2; i < parts.size(); ++i) parsed.components.push_back(Fold(parts[i]));
        return parsed;
    }

    // "X:\": a drive-relative "X:name" or a rooted "\name" depends on the
    // current directory and is refused.
    if (rest.size() < 3 || !IsDriveLetter(rest[0]) || rest[1] != u':' || rest[2] != u'\\') {
        return std::nullopt;
    }
    parsed.root = std::u16string(1, FoldForCompare(rest[0])) + u":";
    for (const auto& part : Split(rest.substr(3))) {
        if (IsAmbiguous(part)) return std::nullopt;
        parsed.components.push_back(Fold(part));
    }
    return parsed;
}

// Whether `outer` is `inner` or one of its ancestors.
bool Encloses(const ParsedPath& outer, const ParsedPath& inner) {
    if (outer.root != inner.root || outer.components.size() > inner.components.size()) return false;
    for (size_t i = 0; i < outer.components.size(); ++i) {
        if (outer.components[i] != inner.components[i]) return false;
    }
    return true;
}

}  // namespace

bool IsSafeToErase(std::u16string_view folder, const ProtectedFolders& protectedFolders) {
    const auto path = Parse(folder);
    if (!path || path->components.empty()) return false;

    // The Windows folder is refused in both directions: nothing inside it and
    // nothing that holds it.
    if (const auto windows = Parse(protectedFolders.windows)) {
        if (Encloses(*windows, *path) || Encloses(*path, *windows)) return false;
    }
    for (const auto& shellFolder : protectedFolders.shell) {
        const auto shell = Parse(shellFolder);
        if (shell && Encloses(*path, *shell)) return false;
    }
    return true;
}

}  // namespace clearstrand
