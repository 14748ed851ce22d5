#pragma once

#include <windows.h>

#include <commctrl.h>

#include <functional>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "platform/tree.h"
#include "platform/windows/system_library.h"

namespace clearstrand::win32 {

// State images of a check-box tree view.
inline constexpr UINT kStateImageUnchecked = 1;
inline constexpr UINT kStateImageChecked = 2;

// The selection tree over a SysTreeView32 that the window owns. The nodes'
// keys and links live here; the control holds captions and states.
class TreeViewControl final : public TreeView, private TreeNodes {
public:
    // Turns on the check boxes, which must happen before the first item.
    explicit TreeViewControl(HWND hwnd);
    // Destroys the check boxes' images, which the control leaves to its owner;
    // the window destroys the control first.
    ~TreeViewControl() override;
    TreeViewControl(const TreeViewControl&) = delete;
    TreeViewControl& operator=(const TreeViewControl&) = delete;

    TreeNodes& Nodes() override { return *this; }
    void SetNodeCheckHandler(std::function<void(TreeNode&)> handler) override;

    // The parent forwards the tree's WM_NOTIFY and the two posted messages.
    void HandleNotify(const NMHDR& header);
    void HandleNodeCheckMessage(WPARAM wParam, LPARAM lParam);
    void HandleRedrawMessage();

    class Node;

private:
    // TreeNodes
    void Clear() override;
    TreeNode& Add(std::u16string_view key, std::u16string_view text) override;
    TreeNode& Add(std::u16string_view relative, Relationship relationship, std::u16string_view key,
                  std::u16string_view text) override;
    TreeNode& Item(int32_t index) override;
    void Remove(int32_t index) override;
    int32_t Count() const override;

    TreeNode& Insert(Node* parent, std::u16string_view key, std::u16string_view text);
    void Unlink(Node& node);
    void PostCheck(HTREEITEM item);
    void SuspendRedraw();

    HWND hwnd_;
    // The common controls are not imported: the list goes through the library's own loader.
    SystemLibrary commonControls_{L"comctl32.dll"};
    decltype(&ImageList_Destroy) destroyImageList_ = nullptr;
    HIMAGELIST stateImages_ = nullptr;  // made by the control with its check boxes
    std::vector<std::unique_ptr<Node>> nodes_;  // in order of addition
    std::unordered_map<std::u16string, Node*> byKey_;
    std::unordered_map<HTREEITEM, Node*> byItem_;
    std::function<void(TreeNode&)> nodeCheck_;
    // Changes whenever nodes go away, so a posted check for a node that no
    // longer exists is dropped.
    LPARAM generation_ = 0;
    bool redrawSuspended_ = false;
};

}  // namespace clearstrand::win32
