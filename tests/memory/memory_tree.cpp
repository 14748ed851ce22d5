#include "memory/memory_tree.h"

#include <algorithm>
#include <unordered_set>

#include "platform/errors.h"

namespace clearstrand {

namespace {
// The control's own error numbers for these cases.
constexpr int32_t kKeyNotUnique = 35602;
constexpr int32_t kElementNotFound = 35601;
constexpr int32_t kInvalidIndex = 35600;
}  // namespace

class MemoryTreeNode : public TreeNode {
public:
    MemoryTreeNode(std::u16string key, std::u16string text)
        : key_(std::move(key)), text_(std::move(text)) {}

    std::u16string Key() const override { return key_; }
    std::u16string Text() const override { return text_; }
    bool Checked() const override { return checked_; }
    void SetChecked(bool checked) override { checked_ = checked; }
    bool Expanded() const override { return expanded_; }
    void SetExpanded(bool expanded) override { expanded_ = expanded; }
    bool Bold() const override { return bold_; }
    void SetBold(bool bold) override { bold_ = bold; }
    int32_t Children() const override { return children_; }
    TreeNode* Child() override { return first_; }
    TreeNode* Next() override { return next_; }
    TreeNode* Parent() override { return parent_ && parent_->parent_ ? parent_ : nullptr; }

    void Append(MemoryTreeNode& child) {
        child.parent_ = this;
        child.prev_ = last_;
        if (last_) last_->next_ = &child; else first_ = &child;
        last_ = &child;
        ++children_;
    }

    void Unlink() {
        if (prev_) prev_->next_ = next_; else parent_->first_ = next_;
        if (next_) next_->prev_ = prev_; else parent_->last_ = prev_;
        --parent_->children_;
        parent_ = prev_ = next_ = nullptr;
    }

    void CollectSubtree(std::unordered_set<const MemoryTreeNode*>& out) const {
        out.insert(this);
        for (const MemoryTreeNode* c = first_; c; c = c->next_) c->CollectSubtree(out);
    }

    void ResetChildren() { first_ = last_ = nullptr; children_ = 0; }

private:
    std::u16string key_;
    std::u16string text_;
    bool checked_ = false;
    bool expanded_ = false;
    bool bold_ = false;
    int32_t children_ = 0;
    MemoryTreeNode* parent_ = nullptr;  // the hidden top node for top-level nodes
    MemoryTreeNode* first_ = nullptr;
    MemoryTreeNode* last_ = nullptr;
    MemoryTreeNode* prev_ = nullptr;
    MemoryTreeNode* next_ = nullptr;
};

MemoryTreeView::MemoryTreeView() : top_(std::make_unique<MemoryTreeNode>(u"", u"")) {}

MemoryTreeView::~MemoryTreeView() = default;

void MemoryTreeView::UserToggle(TreeNode& node) {
    node.SetChecked(!node.Checked());
    if (handler_) handler_(node);
}

TreeNode* MemoryTreeView::Find(std::u16string_view key) {
    auto it = byKey_.find(key);
    return it == byKey_.end() ? nullptr : it->second;
}

void MemoryTreeView::Clear() {
    byKey_.clear();
    order_.clear();
    top_->ResetChildren();
}

TreeNode& MemoryTreeView::Insert(MemoryTreeNode& parent, std::u16string_view key,
                                 std::u16string_view text) {
    if (byKey_.count(key)) {
        throw PlatformError(kKeyNotUnique, u"Key is not unique in collection: " + std::u16string(key));
    }
    order_.push_back(std::make_unique<MemoryTreeNode>(std::u16string(key), std::u16string(text)));
    MemoryTreeNode& node = *order_.back();
    parent.Append(node);
    byKey_.emplace(std::u16string(key), &node);
    return node;
}

TreeNode& MemoryTreeView::Add(std::u16string_view key, std::u16string_view text) {
    return Insert(*top_, key, text);
}

TreeNode& MemoryTreeView::Add(std::u16string_view relative, Relationship relationship,
                              std::u16string_view key, std::u16string_view text) {
    auto it = byKey_.find(relative);
    if (it == byKey_.end()) {
        throw PlatformError(kElementNotFound, u"Element not found: " + std::u16string(relative));
    }
    if (relationship != Relationship::Child) {
        throw PlatformError(kInvalidIndex, u"Unsupported relationship");
    }
    return Insert(*it->second, key, text);
}

TreeNode& MemoryTreeView::Item(int32_t index) {
    if (index < 1 || index > Count()) {
        throw PlatformError(kInvalidIndex, u"Index out of bounds: " + FromUtf8(std::to_string(index)));
    }
    return *order_[static_cast<size_t>(index - 1)];
}

void MemoryTreeView::Remove(int32_t index) {
    auto& node = static_cast<MemoryTreeNode&>(Item(index));
    std::unordered_set<const MemoryTreeNode*> gone;
    node.CollectSubtree(gone);
    node.Unlink();
    for (const MemoryTreeNode* n : gone) byKey_.erase(n->Key());
    order_.erase(std::remove_if(order_.begin(), order_.end(),
                                [&](const auto& n) { return gone.count(n.get()) > 0; }),
                 order_.end());
}

}  // namespace clearstrand
