#include <algorithm>
#include <array>
#include <optional>
#include <string>
#include <vector>

#include "app/form1.h"
#include "discovery/catalog.h"
#include "platform/errors.h"

namespace clearstrand {

namespace {

std::u16string Decimal(int32_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

struct HivePlace {
    int32_t hive;
    const char16_t* name;  // as the user reads it, with its separator
};

constexpr int32_t kNotFound = 2;
constexpr int32_t kNoMoreItems = 259;  // Wine's provider, for a key without subkeys

constexpr std::array<HivePlace, 2> kHives{{
    {kHiveLocalMachine, u"HKEY_LOCAL_MACHINE\\"},
    {kHiveCurrentUser, u"HKEY_CURRENT_USER\\"},
}};

}  // namespace

void Form1::CheckRegistryKey(std::u16string str) {
    const auto provider = services.management.GetRegistryProvider(std::u16string(kRegistryMoniker));

    const auto failed = [&](const std::u16string& why = {}) {
        services.shell.MsgBox(kFailedToDelete + str + why, kMsgBoxOkOnly, std::nullopt);
    };
    // A failure raised at one place is told with its reason, and the search
    // goes on with the next place: the keys found elsewhere still go.
    const auto guarded = [&](auto&& step) {
        try {
            step();
        } catch (const PlatformError& error) {
            ReportFailure(kFailedToDelete, error, str);
        }
    };
    const auto deleteAt = [&](const HivePlace& place, const std::u16string& parent) {
        guarded([&] {
            statusPanel->SetText(u"Deleting " + (place.name + parent) + u"\\" + str);
            resultCode = DeleteRegistryKey(place.hive, parent + u"\\" + str);
            if (resultCode != 0) failed();
        });
    };
    // A listing that fails may hide the key, which then stays: that is a
    // failed deletion too. A missing key or one without subkeys hides nothing.
    const auto list = [&](int32_t hive, const std::u16string& path) {
        std::vector<std::u16string> names;
        resultCode = provider->EnumKey(hive, path, names);
        if (resultCode != 0 && resultCode != kNotFound && resultCode != kNoMoreItems) failed();
        return names;
    };
    const auto search = [&](const HivePlace& place, const std::u16string& container) {
        // Nothing is deleted through a container that is a link. Its names
        // are read, as the tree's are, only to tell the user what stays.
        if (const auto target = provider->LinkTarget(place.hive, container)) {
            const auto names = list(place.hive, container);
            if (std::find(names.begin(), names.end(), str) != names.end()) {
                failed(u"\r" + (place.name + container) + u" is a link to " + *target + u", which stays as it is.");
            }
            return;
        }
        for (const auto& child : list(place.hive, container)) {
            if (child == str) deleteAt(place, container);
        }
    };

    const std::u16string software(catalog::kSoftwareRoot);
    for (const auto& place : kHives) {
        guarded([&] {
            // Listed once, before anything in this hive is deleted.
            for (const auto& name : list(place.hive, software)) {
                // An exact match comes first: a key named like a container is
                // deleted whole rather than searched.
                if (name == str) {
                    deleteAt(place, software);
                } else if (const catalog::ReleaseFamily* family = catalog::FamilyByTrigger(name)) {
                    guarded([&] { search(place, std::u16string(family->container)); });
                }
            }
        });
    }
}

int32_t Form1::DeleteRegistryKey(int32_t HKEY, std::u16string regKey) {
    statusPanel->SetText(u"Deleting " + Decimal(HKEY) + u"\\" + regKey);
    const auto provider = services.management.GetRegistryProvider(std::u16string(kRegistryDeleteMoniker));

    // A link goes as itself: deleted or listed by its path, it would take
    // what it leads to.
    if (const auto link = provider->DeleteLink(HKEY, regKey)) return resultCode = *link;
    resultCode = provider->DeleteKey(HKEY, regKey);
    if (resultCode != 0) {
        // The provider may refuse a key that still has subkeys: empty it depth
        // first, skipping whatever fails, and let the last DeleteKey decide.
        std::vector<std::u16string> children;
        try {
            resultCode = provider->EnumKey(HKEY, regKey, children);
        } catch (const PlatformError&) {
            children.clear();
        }
        for (const auto& child : children) {
            try {
                resultCode = DeleteRegistryKey(HKEY, regKey + u"\\" + child);
            } catch (const PlatformError&) {
                // A child that cannot be deleted is left behind.
            }
        }
        resultCode = provider->DeleteKey(HKEY, regKey);
    }
    return resultCode;
}

}  // namespace clearstrand
