// The tree view over a real SysTreeView32 in a visible window: the contract
// every tree implementation meets, with check boxes ticked by real mouse
// clicks and by the Space key, then what only the real control shows.

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "contract/tree_contract.h"
#include "platform/windows/tree_view.h"
#include "wine/driver/driver.h"

namespace clearstrand::win32 {
namespace {

using namespace std::chrono_literals;
namespace drv = clearstrand::driver;

// A top-level window holding one tree view, forwarding to it what a parent
// forwards.
class TreeHost final : public TreeView {
public:
    TreeHost() {
        static const ATOM atom = [] {
            INITCOMMONCONTROLSEX icc{sizeof(icc), ICC_TREEVIEW_CLASSES};
            InitCommonControlsEx(&icc);
            WNDCLASSEXW wc{};
            wc.cbSize = sizeof(wc);
            wc.lpfnWndProc = &TreeHost::Proc;
            wc.hInstance = GetModuleHandleW(nullptr);
            wc.hbrBackground = reinterpret_cast<HBRUSH>(COLOR_BTNFACE + 1);
            wc.lpszClassName = L"ClearstrandTreeHost";
            return RegisterClassExW(&wc);
        }();
        EXPECT_NE(atom, 0);
        host_ = CreateWindowExW(0, L"ClearstrandTreeHost", L"tree host", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                40, 40, 420, 520, nullptr, nullptr, GetModuleHandleW(nullptr), nullptr);
        SetWindowLongPtrW(host_, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
        HWND tree = CreateWindowExW(WS_EX_CLIENTEDGE, WC_TREEVIEWW, L"",
                                    WS_CHILD | WS_VISIBLE | WS_TABSTOP | TVS_HASLINES | TVS_HASBUTTONS |
                                        TVS_LINESATROOT | TVS_SHOWSELALWAYS,
                                    10, 10, 380, 450, host_, nullptr, GetModuleHandleW(nullptr), nullptr);
        control_ = std::make_unique<TreeViewControl>(tree);
        control_->SetNodeCheckHandler([this](TreeNode& node) {
            ++raised_;
            if (handler_) handler_(node);
        });
        SetForegroundWindow(host_);
        drv::PumpFor(30ms);
    }
    ~TreeHost() override {
        control_.reset();
        DestroyWindow(host_);
        drv::PumpFor(10ms);
    }

    TreeNodes& Nodes() override { return control_->Nodes(); }
    void SetNodeCheckHandler(std::function<void(TreeNode&)> handler) override { handler_ = std::move(handler); }

    TreeViewControl& Control() { return *control_; }
    HWND Tree() const { return control_->Hwnd(); }
    int Raised() const { return raised_; }

    // Acts like the user and waits until the tree has reported it.
    void Toggle(TreeNode& node, bool bySpace) {
        const int before = raised_;
        const HTREEITEM item = control_->ItemHandle(node);
        if (bySpace)
            drv::PressSpaceOn(Tree(), item);
        else
            drv::ClickCheckBox(Tree(), item);
        EXPECT_TRUE(drv::PumpUntil([&] { return raised_ > before; }, 5s)) << "no NodeCheck arrived";
    }

private:
    static LRESULT CALLBACK Proc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
        auto* self = reinterpret_cast<TreeHost*>(GetWindowLongPtrW(hwnd, GWLP_USERDATA));
        if (self && self->control_) {
            switch (message) {
            case WM_NOTIFY:
                self->control_->HandleNotify(*reinterpret_cast<NMHDR*>(lParam));
                return 0;
            case kNodeCheckMessage:
                self->control_->HandleNodeCheckMessage(wParam, lParam);
                return 0;
            case kTreeRedrawMessage:
                self->control_->HandleRedrawMessage();
                return 0;
            default:
                break;
            }
        }
        return DefWindowProcW(hwnd, message, wParam, lParam);
    }

    HWND host_ = nullptr;
    std::unique_ptr<TreeViewControl> control_;
    std::function<void(TreeNode&)> handler_;
    int raised_ = 0;
};

struct ClickTraits {
    static std::unique_ptr<TreeView> Make() { return std::make_unique<TreeHost>(); }
    static void UserToggle(TreeView& view, TreeNode& node) { static_cast<TreeHost&>(view).Toggle(node, false); }
};

struct SpaceTraits {
    static std::unique_ptr<TreeView> Make() { return std::make_unique<TreeHost>(); }
    static void UserToggle(TreeView& view, TreeNode& node) { static_cast<TreeHost&>(view).Toggle(node, true); }
};

}  // namespace
}  // namespace clearstrand::win32

namespace clearstrand::contract {
INSTANTIATE_TYPED_TEST_SUITE_P(MouseClick, TreeContract, clearstrand::win32::ClickTraits);
INSTANTIATE_TYPED_TEST_SUITE_P(SpaceKey, TreeContract, clearstrand::win32::SpaceTraits);
}  // namespace clearstrand::contract

namespace clearstrand::win32 {
namespace {

class TreeControlTest : public ::testing::Test {
protected:
    TreeHost host;
    TreeNodes& nodes = host.Nodes();

    drv::TreeItem Shown(const std::wstring& caption) {
        auto item = drv::FindItem(host.Tree(), caption);
        EXPECT_TRUE(item) << "no single item shows " << std::string(caption.begin(), caption.end());
        return item.value_or(drv::TreeItem{});
    }
    size_t ItemCount() const { return static_cast<size_t>(SendMessageW(host.Tree(), TVM_GETCOUNT, 0, 0)); }
};

TEST_F(TreeControlTest, ControlShowsCaptionsStructureCheckBoldAndExpanded) {
    TreeNode& root = nodes.Add(u"Root", u"All Items");
    root.SetBold(true);
    root.SetExpanded(true);  // before it has children: kept until the first arrives
    nodes.Add(u"Root", Relationship::Child, u"a", u"First (registry key)");
    TreeNode& b = nodes.Add(u"Root", Relationship::Child, u"b", u"Second");
    nodes.Add(u"b", Relationship::Child, u"b1", u"Grandchild");
    b.SetChecked(true);

    const std::vector<drv::TreeItem> items = drv::ReadTree(host.Tree());
    ASSERT_EQ(items.size(), 4u);
    std::vector<std::wstring> texts;
    for (const auto& item : items) texts.push_back(item.text);
    EXPECT_EQ(texts, (std::vector<std::wstring>{L"All Items", L"First (registry key)", L"Second", L"Grandchild"}));
    EXPECT_EQ(items[3].depth, 2);
    EXPECT_EQ(items[3].parent, items[2].item);
    EXPECT_TRUE(items[0].bold && root.Bold());
    EXPECT_FALSE(items[1].bold);
    EXPECT_TRUE(items[0].expanded && root.Expanded());
    EXPECT_FALSE(items[2].expanded || b.Expanded());
    EXPECT_TRUE(items[2].checked);
    EXPECT_FALSE(items[1].checked || items[3].checked);

    b.SetChecked(false);
    b.SetExpanded(true);
    root.SetExpanded(false);
    EXPECT_FALSE(Shown(L"Second").checked || b.Checked());
    EXPECT_TRUE(Shown(L"Second").expanded);
    EXPECT_FALSE(Shown(L"All Items").expanded || root.Expanded());
}

TEST_F(TreeControlTest, RemoveAndClearTakeTheItemsOutOfTheControl) {
    nodes.Add(u"Root", u"All");
    nodes.Add(u"Root", Relationship::Child, u"a", u"A");
    nodes.Add(u"a", Relationship::Child, u"a1", u"A1");
    nodes.Add(u"Root", Relationship::Child, u"b", u"B");
    ASSERT_EQ(ItemCount(), 4u);

    nodes.Remove(2);
    EXPECT_EQ(ItemCount(), 2u);
    EXPECT_FALSE(drv::FindItem(host.Tree(), L"A1"));
    EXPECT_TRUE(drv::FindItem(host.Tree(), L"B"));
    // A failed add leaves the control as it was.
    EXPECT_THROW(nodes.Add(u"a", Relationship::Child, u"x", u"X"), PlatformError);
    EXPECT_THROW(nodes.Add(u"Root", Relationship::Child, u"b", u"B again"), PlatformError);
    EXPECT_EQ(ItemCount(), 2u);

    nodes.Clear();
    EXPECT_EQ(ItemCount(), 0u);
    nodes.Add(u"Root", u"Again");
    EXPECT_EQ(ItemCount(), 1u);
}

TEST_F(TreeControlTest, ClickOnTheCaptionOrTheProgramsOwnChangeRaisesNothing) {
    nodes.Add(u"Root", u"All");
    TreeNode& a = nodes.Add(u"Root", Relationship::Child, u"a", u"Some caption");
    drv::PumpFor(20ms);  // the tree draws once the program is idle
    SendMessageW(host.Tree(), TVM_ENSUREVISIBLE, 0, reinterpret_cast<LPARAM>(host.Control().ItemHandle(a)));
    // TVM_GETITEMRECT takes the item in the RECT it fills.
    RECT text{};
    const HTREEITEM item = host.Control().ItemHandle(a);
    std::memcpy(&text, &item, sizeof item);
    ASSERT_TRUE(SendMessageW(host.Tree(), TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&text)));
    POINT caption{(text.left + text.right) / 2, (text.top + text.bottom) / 2};
    ClientToScreen(host.Tree(), &caption);
    drv::ClickAt(caption);
    a.SetChecked(true);
    drv::PumpFor(300ms);
    EXPECT_EQ(host.Raised(), 0);
    EXPECT_TRUE(a.Checked());
}

TEST_F(TreeControlTest, ACheckForANodeThatIsGoneIsDropped) {
    nodes.Add(u"Root", u"All");
    TreeNode& a = nodes.Add(u"Root", Relationship::Child, u"a", u"A");
    // Hold back the tree's posted check, rebuild the tree, then deliver it.
    std::optional<MSG> held;
    drv::SetMessageFilter([&](MSG& msg) {
        if (msg.message != kNodeCheckMessage || held) return false;
        held = msg;
        return true;
    });
    drv::ClickCheckBox(host.Tree(), host.Control().ItemHandle(a));
    const bool arrived = drv::PumpUntil([&] { return held.has_value(); }, 3s);
    drv::SetMessageFilter({});
    ASSERT_TRUE(arrived);
    nodes.Clear();
    nodes.Add(u"Root", u"All");
    nodes.Add(u"Root", Relationship::Child, u"a", u"A");
    DispatchMessageW(&*held);
    drv::PumpFor(100ms);
    EXPECT_EQ(host.Raised(), 0);
    EXPECT_FALSE(nodes.Item(2).Checked());
}

}  // namespace
}  // namespace clearstrand::win32
