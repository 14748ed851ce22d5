#include "platform/paths.h"

namespace clearstrand::paths {

namespace {

constexpr std::u16string_view kLongUnc = u"\\\\?\\UNC\\";

bool StartsWith(std::u16string_view text, std::u16string_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

std::vector<std::u16string> Names(std::u16string_view text) {
    std::vector<std::u16string> names;
    for (size_t start = 0; start <= text.size();) {
        const size_t end = std::min(text.find(u'\\', start), text.size());
        if (end > start) names.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return names;
}

}  // namespace

std::optional<Parsed> Parse(std::u16string_view raw) {
    std::u16string path(raw);
    for (char16_t& c : path) c = c == u'/' ? u'\\' : c;
    std::u16string_view rest(path);
    bool share = false;
    if (StartsWith(rest, kLongUnc)) {
        rest.remove_prefix(kLongUnc.size());
        share = true;
    } else if (StartsWith(rest, kLongPrefix)) {
        rest.remove_prefix(kLongPrefix.size());
    } else if (StartsWith(rest, u"\\\\")) {
        rest.remove_prefix(2);
        share = true;
    }
    Parsed parsed;
    if (share) {
        // A server and a share, named right after the two separators.
        auto names = Names(rest);
        if (rest.empty() || rest[0] == u'\\' || names.size() < 2 || names[0] == u"." || names[0] == u"?") return std::nullopt;
        parsed.root = u"\\\\" + names[0] + u"\\" + names[1];
        parsed.names.assign(names.begin() + 2, names.end());
        return parsed;
    }
    // "X:\": "X:name" and "\name" depend on the current folder and drive.
    const bool letter = !rest.empty() && ((rest[0] >= u'A' && rest[0] <= u'Z') || (rest[0] >= u'a' && rest[0] <= u'z'));
    if (!letter || rest.size() < 3 || rest[1] != u':' || rest[2] != u'\\') return std::nullopt;
    parsed.root = std::u16string(rest.substr(0, 2));
    parsed.names = Names(rest.substr(3));
    return parsed;
}

bool Encloses(std::u16string_view outer, std::u16string_view inner) {
    const auto o = Parse(outer);
    const auto i = Parse(inner);
    if (!o || !i || o->root != i->root || o->names.size() > i->names.size()) return false;
    for (size_t n = 0; n < o->names.size(); ++n) {
        if (o->names[n] != i->names[n]) return false;
    }
    return true;
}

std::pair<std::u16string, std::u16string> Split(std::u16string_view path) {
    while (path.size() > 1 && path.back() == u'\\') path.remove_suffix(1);
    const size_t slash = path.rfind(u'\\');
    if (slash == std::u16string_view::npos) return {u"", std::u16string(path)};
    std::u16string folder(path.substr(0, slash));
    if (!folder.empty() && folder.back() == u':') folder += u'\\';  // "C:" alone is the current folder of C:
    return {folder, std::u16string(path.substr(slash + 1))};
}

std::u16string WithinVolume(std::u16string_view path) {
    const auto parsed = Parse(path);
    if (!parsed) return std::u16string(path);
    std::u16string rest = parsed->root[0] == u'\\' ? parsed->root.substr(1) : u"";
    for (const auto& name : parsed->names) rest += u"\\" + name;
    return rest.empty() ? u"\\" : rest;
}

std::u16string Shown(std::u16string_view path) {
    if (StartsWith(path, kLongUnc)) return u"\\\\" + std::u16string(path.substr(kLongUnc.size()));
    if (StartsWith(path, kLongPrefix)) return std::u16string(path.substr(kLongPrefix.size()));
    return std::u16string(path);
}

}  // namespace clearstrand::paths
