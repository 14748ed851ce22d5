#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Paths as Windows writes them, read without asking the file system: the one
// place that knows their grammar.
namespace clearstrand::paths {

// What "\\?\" paths begin with: the name as it is, no longer than the
// system allows rather than MAX_PATH.
inline constexpr std::u16string_view kLongPrefix = u"\\\\?\\";

// An absolute path: its root ("C:" or "\\server\share") and the names below.
struct Parsed {
    std::u16string root;
    std::vector<std::u16string> names;
};

// "X:\a\b", "\\server\share\a" and their "\\?\" forms, with "/" taken for
// "\" and empty names skipped; nullopt for anything that depends on the
// current drive or folder, and for device forms ("\\.\", volume names).
std::optional<Parsed> Parse(std::u16string_view path);

// Whether `outer` is `inner` or holds it, name by name, exactly: for paths
// the file system gave in their one final form.
bool Encloses(std::u16string_view outer, std::u16string_view inner);

// The folder a path names its last entry in, and that entry's name.
std::pair<std::u16string, std::u16string> Split(std::u16string_view path);

// The part of an absolute path below its drive or share: "\a\b" for
// "C:\a\b", "\server\share\a" for "\\server\share\a", as a handle's file
// name gives it.
std::u16string WithinVolume(std::u16string_view path);

// A path as the user knows it: without the "\\?\" that long paths need.
std::u16string Shown(std::u16string_view path);

}  // namespace clearstrand::paths
