#pragma once

// The tree control's contract as typed tests, run against every
// implementation. Instantiate with a traits type T that has:
//   static std::unique_ptr<TreeView> Make();
//   static void UserToggle(TreeView&, TreeNode&);  // as a user's click would

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/tree.h"

namespace clearstrand::contract {

template <typename T>
class TreeContract : public ::testing::Test {
protected:
    void SetUp() override { view = T::Make(); }

    TreeNodes& nodes() { return view->Nodes(); }

    // Keys of every node in index order.
    std::vector<std::u16string> Keys() {
        std::vector<std::u16string> keys;
        for (int32_t i = 1; i <= nodes().Count(); ++i) keys.push_back(nodes().Item(i).Key());
        return keys;
    }

    // Keys of a node's children, walked through Child and Next.
    static std::vector<std::u16string> ChildKeys(TreeNode& node) {
        std::vector<std::u16string> keys;
        for (TreeNode* c = node.Child(); c; c = c->Next()) keys.push_back(c->Key());
        return keys;
    }

    // Root
    //   A
    //     A1
    //     A2
    //   B
    //     B1
    void BuildSample() {
        nodes().Add(u"Root", u"All");
        nodes().Add(u"Root", Relationship::Child, u"A", u"Caption A");
        nodes().Add(u"A", Relationship::Child, u"A1", u"Caption A1");
        nodes().Add(u"Root", Relationship::Child, u"B", u"Caption B");
        nodes().Add(u"A", Relationship::Child, u"A2", u"Caption A2");
        nodes().Add(u"B", Relationship::Child, u"B1", u"Caption B1");
    }

    std::unique_ptr<TreeView> view;
};

TYPED_TEST_SUITE_P(TreeContract);

TYPED_TEST_P(TreeContract, IndexesFollowOrderOfAdditionAndChildrenAreAppended) {
    this->BuildSample();
    using V = std::vector<std::u16string>;
    EXPECT_EQ(this->Keys(), (V{u"Root", u"A", u"A1", u"B", u"A2", u"B1"}));
    EXPECT_EQ(this->nodes().Count(), 6);

    TreeNode& a = this->nodes().Item(2);
    EXPECT_EQ(a.Text(), u"Caption A");
    EXPECT_EQ(a.Children(), 2);
    EXPECT_EQ(this->ChildKeys(a), (V{u"A1", u"A2"}));
    EXPECT_EQ(this->ChildKeys(this->nodes().Item(1)), (V{u"A", u"B"}));

    TreeNode& added = this->nodes().Add(u"A", Relationship::Child, u"A3", u"Caption A3");
    EXPECT_EQ(added.Key(), u"A3");
    EXPECT_EQ(&this->nodes().Item(7), &added);
    EXPECT_EQ(this->ChildKeys(a), (V{u"A1", u"A2", u"A3"}));
}

TYPED_TEST_P(TreeContract, NavigationLinksParentsChildrenAndSiblings) {
    this->BuildSample();
    TreeNode& root = this->nodes().Item(1);
    TreeNode& a = this->nodes().Item(2);
    TreeNode& a1 = this->nodes().Item(3);
    TreeNode& b = this->nodes().Item(4);
    TreeNode& a2 = this->nodes().Item(5);

    EXPECT_EQ(root.Parent(), nullptr);
    EXPECT_EQ(a.Parent(), &root);
    EXPECT_EQ(a2.Parent(), &a);
    EXPECT_EQ(a.Parent()->Parent(), nullptr);
    EXPECT_EQ(root.Child(), &a);
    EXPECT_EQ(a.Next(), &b);
    EXPECT_EQ(b.Next(), nullptr);
    EXPECT_EQ(a1.Next(), &a2);
    EXPECT_EQ(a2.Next(), nullptr);
    EXPECT_EQ(a1.Child(), nullptr);
    EXPECT_EQ(a1.Children(), 0);
    EXPECT_EQ(root.Next(), nullptr);
}

TYPED_TEST_P(TreeContract, DuplicateKeyOrUnknownRelativeRaisesAndAddsNothing) {
    this->BuildSample();
    EXPECT_THROW(this->nodes().Add(u"B", Relationship::Child, u"A1", u"again"), PlatformError);
    EXPECT_THROW(this->nodes().Add(u"Root", u"again"), PlatformError);
    EXPECT_THROW(this->nodes().Add(u"Missing", Relationship::Child, u"New", u"x"), PlatformError);
    // Keys are compared exactly: another letter case is another key.
    EXPECT_THROW(this->nodes().Add(u"b", Relationship::Child, u"New", u"x"), PlatformError);
    EXPECT_EQ(this->nodes().Count(), 6);
    EXPECT_EQ(this->nodes().Item(4).Children(), 1);
    EXPECT_EQ(this->nodes().Item(1).Next(), nullptr);
    EXPECT_THROW(this->nodes().Item(7), PlatformError);
    EXPECT_THROW(this->nodes().Item(0), PlatformError);
}

TYPED_TEST_P(TreeContract, RemoveTakesTheSubtreeAndShiftsLaterIndexes) {
    this->BuildSample();
    using V = std::vector<std::u16string>;
    this->nodes().Remove(2);  // A with A1 and A2
    EXPECT_EQ(this->Keys(), (V{u"Root", u"B", u"B1"}));
    TreeNode& root = this->nodes().Item(1);
    EXPECT_EQ(root.Children(), 1);
    EXPECT_EQ(root.Child(), &this->nodes().Item(2));
    EXPECT_EQ(this->ChildKeys(root), (V{u"B"}));
    // The removed keys are free again.
    this->nodes().Add(u"B", Relationship::Child, u"A1", u"back");
    EXPECT_EQ(this->Keys(), (V{u"Root", u"B", u"B1", u"A1"}));

    this->nodes().Remove(3);  // a leaf: B1
    EXPECT_EQ(this->Keys(), (V{u"Root", u"B", u"A1"}));
    EXPECT_EQ(this->ChildKeys(this->nodes().Item(2)), (V{u"A1"}));
    EXPECT_EQ(this->nodes().Item(3).Parent(), &this->nodes().Item(2));
}

TYPED_TEST_P(TreeContract, ClearEmptiesTheTreeAndRestartsIndexes) {
    this->BuildSample();
    this->nodes().Clear();
    EXPECT_EQ(this->nodes().Count(), 0);
    TreeNode& again = this->nodes().Add(u"A", u"new");  // a key that was in use
    EXPECT_EQ(&this->nodes().Item(1), &again);
    EXPECT_EQ(again.Children(), 0);
    EXPECT_EQ(again.Parent(), nullptr);
}

TYPED_TEST_P(TreeContract, CheckMarksStartClearAndOnlyUserTogglesRaiseNodeCheck) {
    this->BuildSample();
    std::vector<std::pair<std::u16string, bool>> raised;
    this->view->SetNodeCheckHandler(
        [&](TreeNode& node) { raised.emplace_back(node.Key(), node.Checked()); });
    for (int32_t i = 1; i <= this->nodes().Count(); ++i) {
        EXPECT_FALSE(this->nodes().Item(i).Checked()) << i;
    }

    TreeNode& a1 = this->nodes().Item(3);
    a1.SetChecked(true);
    EXPECT_TRUE(a1.Checked());
    a1.SetChecked(false);
    EXPECT_TRUE(raised.empty());

    TypeParam::UserToggle(*this->view, a1);
    ASSERT_EQ(raised.size(), 1u);
    EXPECT_EQ(raised[0], (std::pair<std::u16string, bool>{u"A1", true}));
    EXPECT_TRUE(a1.Checked());
    TypeParam::UserToggle(*this->view, a1);
    ASSERT_EQ(raised.size(), 2u);
    EXPECT_EQ(raised[1], (std::pair<std::u16string, bool>{u"A1", false}));
    // Neither the parent nor a sibling is touched by the control itself.
    EXPECT_FALSE(this->nodes().Item(2).Checked());
    EXPECT_FALSE(this->nodes().Item(5).Checked());
}

TYPED_TEST_P(TreeContract, CountsAreNotSixteenBit) {
    this->nodes().Add(u"Root", u"All");
    constexpr int32_t kChildren = 40000;
    for (int32_t i = 0; i < kChildren; ++i) {
        const std::u16string key = u"n" + FromUtf8(std::to_string(i));
        this->nodes().Add(u"Root", Relationship::Child, key, key);
    }
    EXPECT_EQ(this->nodes().Count(), kChildren + 1);
    TreeNode& root = this->nodes().Item(1);
    EXPECT_EQ(root.Children(), kChildren);
    EXPECT_EQ(this->nodes().Item(kChildren + 1).Key(), u"n39999");
    int32_t walked = 0;
    for (TreeNode* c = root.Child(); c; c = c->Next()) ++walked;
    EXPECT_EQ(walked, kChildren);
}

REGISTER_TYPED_TEST_SUITE_P(TreeContract, IndexesFollowOrderOfAdditionAndChildrenAreAppended,
                            NavigationLinksParentsChildrenAndSiblings,
                            DuplicateKeyOrUnknownRelativeRaisesAndAddsNothing,
                            RemoveTakesTheSubtreeAndShiftsLaterIndexes,
                            ClearEmptiesTheTreeAndRestartsIndexes,
                            CheckMarksStartClearAndOnlyUserTogglesRaiseNodeCheck,
                            CountsAreNotSixteenBit);

}  // namespace clearstrand::contract
