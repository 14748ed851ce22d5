#include "contract/tree_contract.h"

#include "memory/memory_tree.h"

namespace clearstrand::contract {
namespace {

struct MemoryTreeTraits {
    static std::unique_ptr<TreeView> Make() { return std::make_unique<MemoryTreeView>(); }
    static void UserToggle(TreeView& view, TreeNode& node) {
        static_cast<MemoryTreeView&>(view).UserToggle(node);
    }
};

INSTANTIATE_TYPED_TEST_SUITE_P(Memory, TreeContract, MemoryTreeTraits);

}  // namespace
}  // namespace clearstrand::contract
