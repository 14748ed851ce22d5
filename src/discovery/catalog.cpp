#include "discovery/catalog.h"

namespace clearstrand::catalog {

std::optional<size_t> MiscFlag(std::u16string_view name) {
    for (size_t i = 0; i < kMiscKeys.size(); ++i) {
        if (kMiscKeys[i] == name) return i;
    }
    return std::nullopt;
}

const ReleaseFamily* FamilyByTrigger(std::u16string_view name) {
    for (const auto& family : kFamilies) {
        if (family.trigger == name) return &family;
    }
    return nullptr;
}

std::optional<size_t> ReleaseFlag(const ReleaseFamily& family, std::u16string_view name) {
    const auto familyIndex = static_cast<size_t>(&family - kFamilies.data());
    for (size_t i = 0; i < kReleasesPerFamily; ++i) {
        if (family.releases[i] == name) {
            return kMiscKeys.size() + familyIndex * kReleasesPerFamily + i;
        }
    }
    return std::nullopt;
}

std::optional<size_t> ReleaseFlag(std::u16string_view releaseKey) {
    for (const auto& family : kFamilies) {
        if (auto flag = ReleaseFlag(family, releaseKey)) return flag;
    }
    return std::nullopt;
}

std::u16string_view NamePrefix(std::u16string_view displayName) {
    return displayName.substr(0, kNamePrefixLength);
}

std::u16string_view VersionPrefix(std::u16string_view displayVersion) {
    return displayVersion.substr(0, kVersionPrefixLength);
}

const VersionRow* MatchVersionRow(std::u16string_view displayName,
                                  std::u16string_view displayVersion) {
    const auto name = NamePrefix(displayName);
    const auto version = VersionPrefix(displayVersion);
    for (const auto& row : kVersionRows) {
        if (row.namePrefix == name && row.versionPrefix == version) return &row;
    }
    return nullptr;
}

}  // namespace clearstrand::catalog
