#include "platform/windows/tree_view.h"

#include <algorithm>
#include <unordered_set>

#include "platform/controls.h"
#include "platform/errors.h"
#include "platform/windows/messages.h"

namespace clearstrand::win32 {

namespace {

UINT ItemState(HWND tree, HTREEITEM item, UINT mask) {
    return static_cast<UINT>(
        SendMessageW(tree, TVM_GETITEMSTATE, reinterpret_cast<WPARAM>(item), mask));
}

void SetItemState(HWND tree, HTREEITEM item, UINT state, UINT mask) {
    TVITEMW tvi{};
    tvi.mask = TVIF_HANDLE | TVIF_STATE;
    tvi.hItem = item;
    tvi.state = state;
    tvi.stateMask = mask;
    SendMessageW(tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tvi));
}

bool IsChecked(HWND tree, HTREEITEM item) {
    return (ItemState(tree, item, TVIS_STATEIMAGEMASK) >> 12) == kStateImageChecked;
}

}  // namespace

class TreeViewControl::Node final : public TreeNode {
public:
    Node(HWND tree, std::u16string key, std::u16string text, Node* parent)
        : tree_(tree), key_(std::move(key)), text_(std::move(text)), parent_(parent) {}

    std::u16string Key() const override { return key_; }
    std::u16string Text() const override { return text_; }

    bool Checked() const override { return IsChecked(tree_, item_); }
    void SetChecked(bool checked) override {
        SetItemState(tree_, item_,
                     INDEXTOSTATEIMAGEMASK(checked ? kStateImageChecked : kStateImageUnchecked),
                     TVIS_STATEIMAGEMASK);
    }

    bool Expanded() const override {
        // A node without children cannot be expanded in the control yet;
        // the wish is kept until its first child arrives.
        if (children_ == 0) return expandWanted_;
        return (ItemState(tree_, item_, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
    }
    void SetExpanded(bool expanded) override {
        expandWanted_ = expanded;
        if (children_ > 0)
            SendMessageW(tree_, TVM_EXPAND, expanded ? TVE_EXPAND : TVE_COLLAPSE,
                         reinterpret_cast<LPARAM>(item_));
    }

    bool Bold() const override { return (ItemState(tree_, item_, TVIS_BOLD) & TVIS_BOLD) != 0; }
    void SetBold(bool bold) override { SetItemState(tree_, item_, bold ? TVIS_BOLD : 0, TVIS_BOLD); }

    int32_t Children() const override { return children_; }
    TreeNode* Child() override { return firstChild_; }
    TreeNode* Next() override { return next_; }
    TreeNode* Parent() override { return parent_; }

private:
    friend class TreeViewControl;

    HWND tree_;
    std::u16string key_;
    std::u16string text_;
    Node* parent_;
    Node* firstChild_ = nullptr;
    Node* lastChild_ = nullptr;
    Node* next_ = nullptr;
    Node* previous_ = nullptr;
    int32_t children_ = 0;
    HTREEITEM item_ = nullptr;
    bool expandWanted_ = false;
};

TreeViewControl::TreeViewControl(HWND hwnd) : hwnd_(hwnd) {
    // Set after creation and before the first item, or the check boxes may
    // show the wrong state.
    const LONG_PTR style = GetWindowLongPtrW(hwnd_, GWL_STYLE);
    SetWindowLongPtrW(hwnd_, GWL_STYLE, style | TVS_CHECKBOXES);
    commonControls_.Get(destroyImageList_, "ImageList_Destroy");
    stateImages_ = reinterpret_cast<HIMAGELIST>(SendMessageW(hwnd_, TVM_GETIMAGELIST, TVSIL_STATE, 0));
}

TreeViewControl::~TreeViewControl() {
    if (stateImages_) destroyImageList_(stateImages_);
}

void TreeViewControl::SetNodeCheckHandler(std::function<void(TreeNode&)> handler) {
    nodeCheck_ = std::move(handler);
}

void TreeViewControl::Clear() {
    SuspendRedraw();
    SendMessageW(hwnd_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    byKey_.clear();
    byItem_.clear();
    nodes_.clear();
    ++generation_;
}

TreeNode& TreeViewControl::Add(std::u16string_view key, std::u16string_view text) {
    return Insert(nullptr, key, text);
}

TreeNode& TreeViewControl::Add(std::u16string_view relative, Relationship relationship,
                               std::u16string_view key, std::u16string_view text) {
    if (relationship != Relationship::Child)
        throw PlatformError(kErrElementNotFound, u"Invalid relationship");
    const auto parent = byKey_.find(std::u16string(relative));
    if (parent == byKey_.end()) throw PlatformError(kErrElementNotFound, u"Element not found");
    return Insert(parent->second, key, text);
}

TreeNode& TreeViewControl::Insert(Node* parent, std::u16string_view key, std::u16string_view text) {
    std::u16string ownKey(key);
    if (byKey_.count(ownKey) != 0)
        throw PlatformError(kErrKeyNotUnique, u"Key is not unique in collection");

    auto node = std::make_unique<Node>(hwnd_, ownKey, std::u16string(text), parent);
    SuspendRedraw();
    TVINSERTSTRUCTW insert{};
    insert.hParent = parent ? parent->item_ : TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_STATE;
    insert.item.pszText = const_cast<LPWSTR>(reinterpret_cast<LPCWSTR>(node->text_.c_str()));
    insert.item.state = INDEXTOSTATEIMAGEMASK(kStateImageUnchecked);
    insert.item.stateMask = TVIS_STATEIMAGEMASK;
    const auto item = reinterpret_cast<HTREEITEM>(
        SendMessageW(hwnd_, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&insert)));
    if (!item) throw PlatformError(kErrControlFailed, u"The tree view could not add the node");
    node->item_ = item;

    // Bookkeeping cannot fail from here on except for memory, so the
    // collections and the control stay in step.
    Node* raw = node.get();
    nodes_.push_back(std::move(node));
    byKey_.emplace(std::move(ownKey), raw);
    byItem_.emplace(item, raw);
    if (parent) {
        if (parent->lastChild_) {
            parent->lastChild_->next_ = raw;
            raw->previous_ = parent->lastChild_;
        } else {
            parent->firstChild_ = raw;
        }
        parent->lastChild_ = raw;
        ++parent->children_;
        if (parent->children_ == 1 && parent->expandWanted_)
            SendMessageW(hwnd_, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(parent->item_));
    }
    return *raw;
}

TreeNode& TreeViewControl::Item(int32_t index) {
    if (index < 1 || index > Count()) throw PlatformError(kErrIndexOutOfBounds, u"Index out of bounds");
    return *nodes_[static_cast<size_t>(index - 1)];
}

int32_t TreeViewControl::Count() const {
    return static_cast<int32_t>(nodes_.size());
}

void TreeViewControl::Unlink(Node& node) {
    if (node.previous_)
        node.previous_->next_ = node.next_;
    else if (node.parent_)
        node.parent_->firstChild_ = node.next_;
    if (node.next_)
        node.next_->previous_ = node.previous_;
    else if (node.parent_)
        node.parent_->lastChild_ = node.previous_;
    if (node.parent_) --node.parent_->children_;
}

void TreeViewControl::Remove(int32_t index) {
    Node& node = static_cast<Node&>(Item(index));
    SuspendRedraw();
    SendMessageW(hwnd_, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(node.item_));
    Unlink(node);

    std::unordered_set<const Node*> gone;
    std::vector<Node*> pending{&node};
    while (!pending.empty()) {
        Node* current = pending.back();
        pending.pop_back();
        gone.insert(current);
        byKey_.erase(current->key_);
        byItem_.erase(current->item_);
        for (Node* child = current->firstChild_; child; child = child->next_) pending.push_back(child);
    }
    std::erase_if(nodes_, [&](const std::unique_ptr<Node>& n) { return gone.count(n.get()) != 0; });
    ++generation_;
}

void TreeViewControl::HandleNotify(const NMHDR& header) {
    if (header.hwndFrom != hwnd_) return;
    if (header.code == NM_CLICK) {
        // The click arrives before the box flips and carries no position.
        const DWORD pos = GetMessagePos();
        TVHITTESTINFO hit{};
        hit.pt = {static_cast<short>(LOWORD(pos)), static_cast<short>(HIWORD(pos))};
        ScreenToClient(hwnd_, &hit.pt);
        SendMessageW(hwnd_, TVM_HITTEST, 0, reinterpret_cast<LPARAM>(&hit));
        if (hit.hItem && (hit.flags & TVHT_ONITEMSTATEICON)) PostCheck(hit.hItem);
    } else if (header.code == TVN_KEYDOWN) {
        const auto& key = reinterpret_cast<const NMTVKEYDOWN&>(header);
        if (key.wVKey == VK_SPACE) {
            const auto item = reinterpret_cast<HTREEITEM>(
                SendMessageW(hwnd_, TVM_GETNEXTITEM, TVGN_CARET, 0));
            if (item) PostCheck(item);
        }
    }
}

void TreeViewControl::PostCheck(HTREEITEM item) {
    // The state before the flip rides along, so that a box that did not flip
    // raises nothing.
    const WPARAM wParam = reinterpret_cast<WPARAM>(item);
    const LPARAM lParam = (generation_ << 1) | (IsChecked(hwnd_, item) ? 1 : 0);
    PostMessageW(GetParent(hwnd_), kNodeCheckMessage, wParam, lParam);
}

void TreeViewControl::HandleNodeCheckMessage(WPARAM wParam, LPARAM lParam) {
    if ((lParam >> 1) != generation_) return;
    const auto found = byItem_.find(reinterpret_cast<HTREEITEM>(wParam));
    if (found == byItem_.end()) return;
    Node& node = *found->second;
    const bool wasChecked = (lParam & 1) != 0;
    if (node.Checked() != wasChecked && nodeCheck_) nodeCheck_(node);
}

void TreeViewControl::SuspendRedraw() {
    // Many changes in a row (a whole population) are drawn once, when the
    // running handler has returned to the message loop.
    if (redrawSuspended_) return;
    redrawSuspended_ = true;
    SendMessageW(hwnd_, WM_SETREDRAW, FALSE, 0);
    PostMessageW(GetParent(hwnd_), kTreeRedrawMessage, 0, 0);
}

void TreeViewControl::HandleRedrawMessage() {
    if (!redrawSuspended_) return;
    redrawSuspended_ = false;
    SendMessageW(hwnd_, WM_SETREDRAW, TRUE, 0);
    InvalidateRect(hwnd_, nullptr, TRUE);
}

}  // namespace clearstrand::win32
