#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "platform/tree.h"

namespace clearstrand {

class MemoryTreeNode;

// The selection tree in memory: keys are unique and compared exactly.
class MemoryTreeView : public TreeView, private TreeNodes {
public:
    MemoryTreeView();
    ~MemoryTreeView() override;
    MemoryTreeView(const MemoryTreeView&) = delete;
    MemoryTreeView& operator=(const MemoryTreeView&) = delete;

    TreeNodes& Nodes() override { return *this; }
    void SetNodeCheckHandler(std::function<void(TreeNode&)> handler) override {
        handler_ = std::move(handler);
    }

    // Flips the node's check box and raises NodeCheck, as a user's click does.
    void UserToggle(TreeNode& node);

    // The node with this key, or nullptr; for tests.
    TreeNode* Find(std::u16string_view key);

private:
    void Clear() override;
    TreeNode& Add(std::u16string_view key, std::u16string_view text) override;
    TreeNode& Add(std::u16string_view relative, Relationship relationship, std::u16string_view key,
                  std::u16string_view text) override;
    TreeNode& Item(int32_t index) override;
    void Remove(int32_t index) override;
    int32_t Count() const override { return static_cast<int32_t>(order_.size()); }

    TreeNode& Insert(MemoryTreeNode& parent, std::u16string_view key, std::u16string_view text);

    std::unique_ptr<MemoryTreeNode> top_;  // holds the top-level nodes as its children
    std::vector<std::unique_ptr<MemoryTreeNode>> order_;  // order of addition
    std::map<std::u16string, MemoryTreeNode*, std::less<>> byKey_;
    std::function<void(TreeNode&)> handler_;
};

}  // namespace clearstrand
