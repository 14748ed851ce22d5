#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace clearstrand {

// One node of the selection tree. References stay valid until the node is
// removed or the tree is cleared.
class TreeNode {
public:
    virtual ~TreeNode() = default;

    virtual std::u16string Key() const = 0;
    virtual std::u16string Text() const = 0;

    // Setting Checked from the program never raises NodeCheck.
    virtual bool Checked() const = 0;
    virtual void SetChecked(bool checked) = 0;

    // Display only.
    virtual bool Expanded() const = 0;
    virtual void SetExpanded(bool expanded) = 0;
    virtual bool Bold() const = 0;
    virtual void SetBold(bool bold) = 0;

    virtual int32_t Children() const = 0;  // number of direct children
    virtual TreeNode* Child() = 0;         // first child, or nullptr
    virtual TreeNode* Next() = 0;          // next sibling, or nullptr
    virtual TreeNode* Parent() = 0;        // nullptr for a top-level node
};

// The only relationship the system uses: the new node becomes the last child
// of the relative node.
enum class Relationship : int32_t { Child = 4 };

// Every node of the tree at every level, indexed from 1 in order of addition.
class TreeNodes {
public:
    virtual ~TreeNodes() = default;

    virtual void Clear() = 0;

    // A new top-level node. A key already in the tree raises PlatformError
    // and adds nothing.
    virtual TreeNode& Add(std::u16string_view key, std::u16string_view text) = 0;
    // A new last child of the node keyed `relative`. An unknown relative or a
    // key already in the tree raises PlatformError and adds nothing.
    virtual TreeNode& Add(std::u16string_view relative, Relationship relationship,
                          std::u16string_view key, std::u16string_view text) = 0;

    // 1-based; an index outside 1..Count raises PlatformError.
    virtual TreeNode& Item(int32_t index) = 0;
    // Removes that node and its subtree; nodes added before it keep their
    // indexes, later ones move down.
    virtual void Remove(int32_t index) = 0;
    virtual int32_t Count() const = 0;

    // Every node once, in index order, whatever its level. The visitor must
    // not change the tree.
    void ForEach(const std::function<void(TreeNode&)>& visit) {
        const int32_t count = Count();
        for (int32_t i = 1; i <= count; ++i) visit(Item(i));
    }
};

class TreeView {
public:
    virtual ~TreeView() = default;

    virtual TreeNodes& Nodes() = 0;
    // Raised after the user changed a node's check box, with the node already
    // holding its new state.
    virtual void SetNodeCheckHandler(std::function<void(TreeNode&)> handler) = 0;
};

}  // namespace clearstrand
