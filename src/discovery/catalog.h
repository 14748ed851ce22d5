#pragma once

#include <array>
#include <cstddef>
#include <optional>
#include <string_view>

// The fixed knowledge the selection tree is built from: category nodes, the
// registry keys that are looked for, and the rules that hang an installed
// product under its release.
namespace clearstrand::catalog {

inline constexpr std::u16string_view kSoftwareRoot = u"SOFTWARE";
inline constexpr std::u16string_view kUninstallRoot =
    u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";
inline constexpr std::u16string_view kDisplayName = u"DisplayName";
inline constexpr std::u16string_view kDisplayVersion = u"DisplayVersion";
inline constexpr std::u16string_view kInstallLocation = u"InstallLocation";

inline constexpr std::u16string_view kRootKey = u"Root";
inline constexpr std::u16string_view kMiscParentKey = u"registry";
inline constexpr std::u16string_view kFlagshipParentKey = u"VT";
inline constexpr std::u16string_view kPlanoviewParentKey = u"pV";
inline constexpr std::u16string_view kEditorParentKey = u"TML";

struct Category {
    std::u16string_view key;
    std::u16string_view caption;
};

// Added first and in this order, so that they hold positions 1 to 5 of the
// node collection; pruning counts on those positions. The first is the one
// top-level node, the others are its children.
inline constexpr std::array<Category, 5> kCategories{{
    {kRootKey, u"All Veltramark Software"},
    {kMiscParentKey, u"Miscellaneous Registry Keys"},
    {kFlagshipParentKey, u"Veltramark"},
    {kPlanoviewParentKey, u"Planoview"},
    {kEditorParentKey, u"Tracemill"},
}};

// Direct subkeys of SOFTWARE, shown under "registry".
inline constexpr std::array<std::u16string_view, 6> kMiscKeys{
    u"Lanternix Software", u"ModelHarbor", u"KTRN", u"Castwell", u"Veltramark Stockroom", u"QBEL",
};

inline constexpr size_t kReleasesPerFamily = 8;

// A product family that keeps one registry key per release in a container
// under SOFTWARE.
struct ReleaseFamily {
    std::u16string_view container;  // path relative to the hive
    std::u16string_view trigger;    // the container's name as a subkey of SOFTWARE
    std::u16string_view parentKey;
    std::u16string_view captionSuffix;
    std::array<std::u16string_view, kReleasesPerFamily> releases;
};

inline constexpr std::array<ReleaseFamily, 2> kFamilies{{
    {u"SOFTWARE\\Veltramark", u"Veltramark", kFlagshipParentKey, u" (registry key)",
     {u"Veltramark 2001", u"Veltramark 2001Plus", u"Veltramark 2002", u"Veltramark 2003",
      u"Veltramark 2004", u"Veltramark 2005", u"Veltramark 2006", u"Veltramark 2007"}},
    // The capitalised suffix is this family's own: the two differ on purpose.
    {u"SOFTWARE\\Planoview", u"Planoview", kPlanoviewParentKey, u" (Registry Key)",
     {u"p2001", u"p2001Plus", u"p2002", u"p2003", u"p2004", u"p2005", u"p2006", u"p2007"}},
}};

inline constexpr size_t kNamePrefixLength = 9;
inline constexpr size_t kVersionPrefixLength = 2;

// Hangs an uninstall entry under `parentKey` by the first nine characters of
// its DisplayName and the first two of its DisplayVersion. Rows with
// needsRelease apply only when that release's key was found.
struct VersionRow {
    std::u16string_view namePrefix;
    std::u16string_view versionPrefix;
    std::u16string_view parentKey;
    bool needsRelease;
};

// "Veltramar" is one short of the product word, so any name starting with it
// counts as the flagship. No row leads to the 2002 releases.
inline constexpr std::array<VersionRow, 17> kVersionRows{{
    {u"Veltramar", u"9.", u"Veltramark 2001", true},
    {u"Veltramar", u"10", u"Veltramark 2001Plus", true},
    {u"Veltramar", u"11", u"Veltramark 2003", true},
    {u"Veltramar", u"12", u"Veltramark 2004", true},
    {u"Veltramar", u"13", u"Veltramark 2005", true},
    {u"Veltramar", u"14", u"Veltramark 2006", true},
    {u"Veltramar", u"15", u"Veltramark 2007", true},
    {u"Planoview", u"1.", u"p2001", true},
    {u"Planoview", u"2.", u"p2001Plus", true},
    {u"Planoview", u"3.", u"p2003", true},
    {u"Planoview", u"4.", u"p2004", true},
    {u"Planoview", u"5.", u"p2005", true},
    {u"Planoview", u"6.", u"p2006", true},
    {u"Planoview", u"7.", u"p2007", true},
    {u"Tracemill", u"13", kEditorParentKey, false},
    {u"Tracemill", u"14", kEditorParentKey, false},
    {u"Tracemill", u"15", kEditorParentKey, false},
}};

// One found flag per miscellaneous key, then one per release key, family by
// family.
inline constexpr size_t kFoundFlagCount = kMiscKeys.size() + kFamilies.size() * kReleasesPerFamily;

// Lookups by exact, case-sensitive name.
std::optional<size_t> MiscFlag(std::u16string_view name);
const ReleaseFamily* FamilyByTrigger(std::u16string_view name);
std::optional<size_t> ReleaseFlag(const ReleaseFamily& family, std::u16string_view name);
std::optional<size_t> ReleaseFlag(std::u16string_view releaseKey);  // in any family

// The prefixes an uninstall entry is matched by; a shorter string is its own
// prefix.
std::u16string_view NamePrefix(std::u16string_view displayName);
std::u16string_view VersionPrefix(std::u16string_view displayVersion);
// The row for this DisplayName and DisplayVersion, or nullptr.
const VersionRow* MatchVersionRow(std::u16string_view displayName,
                                  std::u16string_view displayVersion);

}  // namespace clearstrand::catalog
