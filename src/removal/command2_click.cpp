#include <optional>

#include "app/form1.h"
#include "platform/errors.h"

namespace clearstrand {

void Form1::Command2_Click() {
    controls.Command1.SetEnabled(false);
    controls.Command2.SetEnabled(false);
    statusPanel->SetText(u"Working");
    // What protects folders is read anew for each run.
    folderRule.reset();

    // One failing operation is reported and the run goes on, so a locked
    // file or an unreachable service cannot leave the rest of the selection
    // in place. A failure about a file or folder names it; any other names
    // the node's key.
    const auto guarded = [this](std::u16string_view prefix, const std::u16string& key, auto&& operation) {
        try {
            operation();
        } catch (const PlatformError& error) {
            ReportFailure(error.path().empty() ? prefix : kFailedToDelete, error, key);
        }
    };
    // Each operation gets the key as the node holds it when it starts.
    const auto removeNode = [&](TreeNode& node) {
        std::u16string key = node.Key();
        guarded(kFailedToUninstall, key, [&] { CheckSoftwareInstall(key); });
        key = node.Key();
        guarded(kFailedToDelete, key, [&] { CheckRegistryKey(key); });
    };

    if (controls.TreeView1.Nodes().Count() > 0) {
        // Leaves first, so that installed products go before the registry
        // keys above them. Each pass takes the tree's nodes as they are then.
        for (const bool parents : {false, true}) {
            TreeNodes& nodes = controls.TreeView1.Nodes();
            const int32_t count = nodes.Count();
            for (int32_t i = 1; i <= count; ++i) {
                TreeNode& node = nodes.Item(i);
                if (node.Checked() && (parents ? node.Children() > 0 : node.Children() == 0)) removeNode(node);
            }
        }
    }

    PopulateTreeview();
    statusPanel->SetText(kReady);
    controls.Command1.SetEnabled(true);
}

void Form1::ReportFailure(std::u16string_view prefix, const PlatformError& error, std::u16string_view subject) {
    const std::u16string_view what = error.path().empty() ? subject : std::u16string_view(error.path());
    services.shell.MsgBox(std::u16string(prefix) + std::u16string(what) + u"\r" + error.description(), kMsgBoxOkOnly,
                          std::nullopt);
}

}  // namespace clearstrand
