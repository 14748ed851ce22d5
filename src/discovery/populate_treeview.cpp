#include <array>
#include <string>
#include <vector>

#include "app/form1.h"
#include "discovery/catalog.h"
#include "platform/errors.h"

namespace clearstrand {

namespace {

using FoundFlags = std::array<bool, catalog::kFoundFlagCount>;

// One pass over SOFTWARE in one hive. The user pass adds only what the
// machine pass has not, so a key present in both hives yields one node.
void ScanHive(Form1& form, RegistryProvider& provider, TreeNodes& nodes, FoundFlags& found,
              int32_t hive, bool userPass) {
    std::vector<std::u16string> names;
    form.resultCode = provider.EnumKey(hive, std::u16string(catalog::kSoftwareRoot), names);
    for (const auto& name : names) {
        if (auto flag = catalog::MiscFlag(name)) {
            if (userPass && found[*flag]) continue;
            found[*flag] = true;
            nodes.Add(catalog::kMiscParentKey, Relationship::Child, name, name);
        } else if (const auto* family = catalog::FamilyByTrigger(name)) {
            std::vector<std::u16string> releases;
            form.resultCode = provider.EnumKey(hive, std::u16string(family->container), releases);
            for (const auto& release : releases) {
                auto releaseFlag = catalog::ReleaseFlag(*family, release);
                if (!releaseFlag || (userPass && found[*releaseFlag])) continue;
                found[*releaseFlag] = true;
                nodes.Add(family->parentKey, Relationship::Child, release,
                          release + std::u16string(family->captionSuffix))
                    .SetExpanded(true);
            }
        }
    }
}

// From the first uninstall entry on, a step that fails is passed over and the
// run goes on with the next one.
template <typename Step>
void Skipping(Step&& step) {
    try {
        step();
    } catch (const PlatformError&) {
    }
}

}  // namespace

void Form1::PopulateTreeview() {
    FoundFlags found{};
    TreeNodes& nodes = controls.TreeView1.Nodes();
    nodes.Clear();

    for (size_t i = 0; i < catalog::kCategories.size(); ++i) {
        const auto& category = catalog::kCategories[i];
        TreeNode& node = i == 0 ? nodes.Add(category.key, category.caption)
                                : nodes.Add(catalog::kRootKey, Relationship::Child, category.key,
                                            category.caption);
        node.SetExpanded(true);
        node.SetBold(true);
    }

    auto provider = services.management.GetRegistryProvider(std::u16string(kRegistryMoniker));
    ScanHive(*this, *provider, nodes, found, kHiveLocalMachine, false);
    ScanHive(*this, *provider, nodes, found, kHiveCurrentUser, true);

    // Uninstall scan: one row per entry, matched or not.
    const std::u16string uninstallRoot(catalog::kUninstallRoot);
    std::vector<std::u16string> entries;
    resultCode = provider->EnumKey(kHiveLocalMachine, uninstallRoot, entries);
    installedProducts.clear();
    installedProducts.resize(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        entryKeyName = entries[i];
        // Emptied first so that a missing or unreadable value never shows
        // another entry's.
        displayName.clear();
        displayVersion.clear();
        installLocation.clear();
        const std::u16string path = uninstallRoot + u"\\" + entryKeyName;
        Skipping([&] {
            resultCode = provider->GetStringValue(kHiveLocalMachine, path,
                                                  std::u16string(catalog::kDisplayName), displayName);
        });
        Skipping([&] {
            resultCode = provider->GetStringValue(
                kHiveLocalMachine, path, std::u16string(catalog::kDisplayVersion), displayVersion);
        });
        Skipping([&] {
            resultCode = provider->GetStringValue(
                kHiveLocalMachine, path, std::u16string(catalog::kInstallLocation), installLocation);
        });
        installedProducts[i] = {entryKeyName, displayName, displayVersion, installLocation};
    }

    // Matching. A DisplayName that is already a key in the tree raises on
    // Add and gets no node.
    for (const auto& row : installedProducts) {
        entryKeyName = row[0];
        displayName = row[1];
        displayVersion = row[2];
        installLocation = row[3];
        const catalog::VersionRow* match = catalog::MatchVersionRow(displayName, displayVersion);
        if (!match) continue;
        if (match->needsRelease) {
            auto flag = catalog::ReleaseFlag(match->parentKey);
            if (!flag || !found[*flag]) continue;
        }
        Skipping([&] { nodes.Add(match->parentKey, Relationship::Child, displayName, displayName); });
    }

    // Prune empty categories from the highest position down, so that each
    // lower position still holds its category. "Root" always stays.
    for (int32_t position = static_cast<int32_t>(catalog::kCategories.size()); position >= 2;
         --position) {
        Skipping([&] {
            if (nodes.Item(position).Children() == 0) nodes.Remove(position);
        });
    }
}

}  // namespace clearstrand
