#include <optional>

#include "app/form1.h"
#include "platform/errors.h"

namespace clearstrand {

void Form1::Command2_Click() {
    controls.Command1.SetEnabled(false);
    controls.Command2.SetEnabled(false);
    statusPanel->SetText(u"Working");

    // One failing operation is reported and the run goes on, so a locked
    // file or an unreachable service cannot leave the rest of the selection
    // in place. A failure about a file or folder names it; any other names
    // the node's key.
    const auto guarded = [this](std::u16string_view prefix, const std::u16string& key, auto&& operation) {
        try {
            operation();
        } catch (const PlatformError& error) {
            ReportFailure(error.path().empty() ? prefix : u"Failed to delete ", error, key);
        }
    };
    const auto removeNode = [&](TreeNode& node) {
        const std::u16string productKey = node.Key();
        guarded(u"Failed to uninstall ", productKey, [&] { CheckSoftwareInstall(productKey); });
        const std::u16string registryKey = node.Key();
        guarded(u"Failed to delete ", registryKey, [&] { CheckRegistryKey(registryKey); });
    };

    if (controls.TreeView1.Nodes().Count() > 0) {
        // Leaves first, so that installed products go before the registry
        // keys above them.
        TreeNodes& leaves = controls.TreeView1.Nodes();
        const int32_t leafCount = leaves.Count();
        for (int32_t i = 1; i <= leafCount; ++i) {
            TreeNode& node = leaves.Item(i);
            if (node.Checked() && node.Children() == 0) removeNode(node);
        }
        TreeNodes& parents = controls.TreeView1.Nodes();
        const int32_t parentCount = parents.Count();
        for (int32_t i = 1; i <= parentCount; ++i) {
            TreeNode& node = parents.Item(i);
            if (node.Checked() && node.Children() > 0) removeNode(node);
        }
    }

    PopulateTreeview();
    statusPanel->SetText(u"Ready");
    controls.Command1.SetEnabled(true);
}

void Form1::ReportFailure(std::u16string_view prefix, const PlatformError& error, std::u16string_view subject) {
    const std::u16string_view what = error.path().empty() ? subject : std::u16string_view(error.path());
    services.shell.MsgBox(std::u16string(prefix) + std::u16string(what) + u"\r" + error.description(), kMsgBoxOkOnly,
                          std::nullopt);
}

}  // namespace clearstrand
