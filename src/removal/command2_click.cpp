#include "app/form1.h"
#include "platform/errors.h"

namespace clearstrand {

void Form1::Command2_Click() {
    controls.Command1.SetEnabled(false);
    controls.Command2.SetEnabled(false);
    statusPanel->SetText(u"Working");

    // One failing operation is reported and the run goes on, so a locked
    // file or an unreachable service cannot leave the rest of the selection
    // in place.
    const auto guarded = [this](auto&& operation) {
        try {
            operation();
        } catch (const PlatformError& error) {
            services.shell.ReportError(error.description());
        }
    };
    const auto removeNode = [&](TreeNode& node) {
        const std::u16string productKey = node.Key();
        guarded([&] { CheckSoftwareInstall(productKey); });
        const std::u16string registryKey = node.Key();
        guarded([&] { CheckRegistryKey(registryKey); });
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

}  // namespace clearstrand
