#include <array>
#include <optional>
#include <string>
#include <vector>

#include "app/form1.h"
#include "platform/errors.h"

namespace clearstrand {

namespace {

const std::u16string kLocalMachineName = u".";

std::u16string SearchMoniker() {
    return u"winmgmts:" + std::u16string(u"{impersonationLevel=Impersonate}!\\\\") +
           kLocalMachineName + u"\\root\\default:StdRegProv";
}

// Deletion connects without an impersonation part.
std::u16string DeleteMoniker() {
    return u"winmgmts:\\\\" + kLocalMachineName + u"\\root\\default:StdRegProv";
}

std::u16string Decimal(int32_t value) {
    const std::string digits = std::to_string(value);
    return std::u16string(digits.begin(), digits.end());
}

struct HivePlace {
    int32_t hive;
    const char16_t* statusPrefix;
};

constexpr std::array<HivePlace, 2> kHives{{
    {kHiveLocalMachine, u"Deleting HKEY_LOCAL_MACHINE\\"},
    {kHiveCurrentUser, u"Deleting HKEY_CURRENT_USER\\"},
}};

const std::u16string kSoftware = u"SOFTWARE";
const std::array<std::u16string, 2> kContainers{u"Veltramark", u"Planoview"};

}  // namespace

void Form1::CheckRegistryKey(std::u16string str) {
    const auto provider = services.management.GetRegistryProvider(SearchMoniker());

    const auto deleteAt = [&](const HivePlace& place, const std::u16string& parent) {
        statusPanel->SetText(place.statusPrefix + parent + u"\\" + str);
        resultCode = DeleteRegistryKey(place.hive, parent + u"\\" + str);
        if (resultCode != 0) {
            services.shell.MsgBox(u"Failed to delete " + str, kMsgBoxOkOnly, std::nullopt);
        }
    };

    for (const auto& place : kHives) {
        // Listed once, before anything in this hive is deleted.
        std::vector<std::u16string> names;
        resultCode = provider->EnumKey(place.hive, kSoftware, names);
        for (const auto& name : names) {
            // An exact match comes first: a key named like a container is
            // deleted whole rather than searched.
            if (name == str) {
                deleteAt(place, kSoftware);
                continue;
            }
            for (const auto& container : kContainers) {
                if (name != container) continue;
                const std::u16string parent = kSoftware + u"\\" + container;
                std::vector<std::u16string> children;
                resultCode = provider->EnumKey(place.hive, parent, children);
                for (const auto& child : children) {
                    if (child == str) deleteAt(place, parent);
                }
            }
        }
    }
}

int32_t Form1::DeleteRegistryKey(int32_t HKEY, std::u16string regKey) {
    statusPanel->SetText(u"Deleting " + Decimal(HKEY) + u"\\" + regKey);
    const auto provider = services.management.GetRegistryProvider(DeleteMoniker());

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
