#include <gtest/gtest.h>

#include "core/discovery_support.h"

namespace clearstrand {
namespace {

using namespace testing_support;
using Keys = std::vector<std::u16string>;

// The full machine's tree after start-up; the user clicks through
// MemoryTreeView::UserToggle, which raises the form's handler.
class Propagation : public ::testing::Test {
protected:
    void SetUp() override {
        SeedFullMachine(p.registry);
        p.form().Form_Load();
        p.form().Form_Activate();
    }

    TreeNode& Node(std::u16string_view key) {
        TreeNode* node = p.tree.Find(key);
        if (!node) throw std::runtime_error("no node " + ToUtf8(key));
        return *node;
    }
    void Toggle(std::u16string_view key) { p.tree.UserToggle(Node(key)); }
    Keys Checked(bool checked = true) {
        Keys keys;
        p.tree.Nodes().ForEach([&](TreeNode& n) { if (n.Checked() == checked) keys.push_back(n.Key()); });
        return keys;
    }
    Keys Unchecked() { return Checked(false); }
    void CheckAll() {
        Toggle(u"Root");
        ASSERT_TRUE(Unchecked().empty());
    }

    MemoryPlatform p;
};

TEST_F(Propagation, RootCarriesItsStateToTheWholeTree) {
    Toggle(u"Root");
    EXPECT_TRUE(Unchecked().empty());
    EXPECT_TRUE(p.command2.Enabled());
    Toggle(u"Root");
    EXPECT_TRUE(Checked().empty());
    EXPECT_FALSE(p.command2.Enabled());
}

TEST_F(Propagation, CheckingALeafChecksItAlone) {
    p.log.events.clear();
    Toggle(u"Veltramark 2005 SP0.0");
    EXPECT_EQ(Checked(), (Keys{u"Veltramark 2005 SP0.0"}));
    EXPECT_EQ(p.log.events, (std::vector<std::string>{"Command2.Enabled=0", "Command2.Enabled=1"}));
}

TEST_F(Propagation, ClearingAProductClearsItsLineOfAncestorsOnly) {
    CheckAll();
    Toggle(u"Veltramark 2003 Tools");
    EXPECT_EQ(Unchecked(), (Keys{u"Root", u"VT", u"Veltramark 2003", u"Veltramark 2003 Tools"}));
    EXPECT_TRUE(p.command2.Enabled());
}

TEST_F(Propagation, ClearingACategoryClearsItsSubtreeAndRoot) {
    CheckAll();
    Toggle(u"pV");
    EXPECT_EQ(Unchecked(), (Keys{u"Root", u"pV", u"p2001", u"p2002", u"Planoview 1.4"}));
    // Checking it again restores the subtree but never an ancestor.
    Toggle(u"pV");
    EXPECT_EQ(Unchecked(), (Keys{u"Root"}));
}

TEST_F(Propagation, CheckingTheLastUncheckedChildLeavesTheParentUnchecked) {
    Toggle(u"Veltramark 2003 Tools");
    Toggle(u"Veltramark 2003 Viewer");
    EXPECT_EQ(Checked(), (Keys{u"Veltramark 2003 Tools", u"Veltramark 2003 Viewer"}));
}

TEST_F(Propagation, ClearingTheLastCheckedNodeDisablesStart) {
    Toggle(u"KTRN");
    Toggle(u"Castwell");
    Toggle(u"KTRN");
    EXPECT_TRUE(p.command2.Enabled());
    Toggle(u"Castwell");
    EXPECT_TRUE(Checked().empty());
    EXPECT_FALSE(p.command2.Enabled());
}

// A chain deeper than the form ever builds shows the walk's limits: three
// levels down, three ancestors up.
TEST(PropagationLimits, ReachesThreeLevelsEachWay) {
    MemoryPlatform p;
    TreeNodes& nodes = p.tree.Nodes();
    nodes.Add(u"Root", u"Root");
    const Keys chain{u"Root", u"L1", u"L2", u"L3", u"L4", u"L5"};
    for (size_t i = 1; i < chain.size(); ++i) nodes.Add(chain[i - 1], Relationship::Child, chain[i], chain[i]);
    auto checked = [&] {
        std::u16string s;
        nodes.ForEach([&](TreeNode& n) { s += n.Checked() ? u'x' : u'.'; });
        return s;
    };

    p.tree.UserToggle(nodes.Item(2));  // L1
    EXPECT_EQ(checked(), u".xxxx.");
    nodes.ForEach([](TreeNode& n) { n.SetChecked(true); });
    p.tree.UserToggle(nodes.Item(6));  // clear L5
    EXPECT_EQ(checked(), u"xx....");
    nodes.ForEach([](TreeNode& n) { n.SetChecked(true); });
    p.tree.UserToggle(nodes.Item(3));  // clear L2: its ancestors up to Root, where the climb stops
    EXPECT_EQ(checked(), u"......");
}

}  // namespace
}  // namespace clearstrand
