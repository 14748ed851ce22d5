#include "app/form1.h"
#include "discovery/catalog.h"

namespace clearstrand {

namespace {

// Three levels below the node reach every descendant of the four-level tree.
constexpr int kDepth = 3;

// Depth-first, pre-order: each child is set before its own children, and
// its whole subtree before its next sibling.
void SetDescendants(TreeNode& node, int level) {
    const int32_t count = node.Children();
    TreeNode* child = node.Child();
    for (int32_t i = 0; i < count && child; ++i, child = child->Next()) {
        child->SetChecked(node.Checked());
        if (level < kDepth && child->Children() > 0) SetDescendants(*child, level + 1);
    }
}

}  // namespace

void Form1::TreeView1_NodeCheck(TreeNode& node) {
    controls.Command2.SetEnabled(false);

    if (node.Children() > 0) SetDescendants(node, 1);

    // A cleared node clears its line of ancestors, "Root" included; checking
    // never checks an ancestor.
    if (!node.Checked()) {
        TreeNode* current = &node;
        for (int step = 0; step < kDepth && current->Key() != catalog::kRootKey; ++step) {
            TreeNode* parent = current->Parent();
            if (!parent) break;
            parent->SetChecked(false);
            current = parent;
        }
    }

    bool anyChecked = false;
    controls.TreeView1.Nodes().ForEach([&](TreeNode& n) {
        if (n.Checked()) anyChecked = true;
    });
    controls.Command2.SetEnabled(anyChecked);
}

}  // namespace clearstrand
