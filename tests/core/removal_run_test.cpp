#include "core/removal_fixture.h"

namespace clearstrand::removal_test {
namespace {

using Strings = std::vector<std::string>;

class RemovalRun : public RemovalTest {
protected:
    TreeNodes& nodes() { return p.tree.Nodes(); }

    // A node whose key is also an installed product and a key under
    // HKEY_LOCAL_MACHINE\SOFTWARE, so both operations show what they were given.
    TreeNode& Node(const std::u16string& parent, const std::u16string& key, bool checked) {
        TreeNode& node = parent.empty() ? nodes().Add(key, key) : nodes().Add(parent, Relationship::Child, key, key);
        node.SetChecked(checked);
        p.installer.AddProduct(key);
        p.registry.CreateKey(kHiveLocalMachine, u"SOFTWARE\\" + key);
        return node;
    }

    // For each taken node, in order: its uninstall, then its registry deletion.
    Strings Taken() const { return Events({"installer: UnInstall", "status=Deleting HKEY_LOCAL_MACHINE\\SOFTWARE\\"}); }
    static Strings Expected(std::initializer_list<std::string> keys) {
        Strings out;
        for (const auto& key : keys) {
            out.push_back("installer: UnInstall " + key);
            out.push_back("status=Deleting HKEY_LOCAL_MACHINE\\SOFTWARE\\" + key);
        }
        return out;
    }

    std::vector<std::u16string> TreeKeys() {
        std::vector<std::u16string> keys;
        nodes().ForEach([&](TreeNode& node) { keys.push_back(node.Key()); });
        return keys;
    }

    void ExpectFinished() {
        EXPECT_EQ(p.status(), u"Ready");
        EXPECT_TRUE(p.command1.Enabled());
        EXPECT_FALSE(p.command2.Enabled());
        EXPECT_TRUE(p.command3.Enabled());
        nodes().ForEach([](TreeNode& node) { EXPECT_FALSE(node.Checked()) << ToUtf8(node.Key()); });
    }
};

TEST_F(RemovalRun, AnEmptyTreeCallsNoOperationButIsStillRebuilt) {
    form().Command2_Click();

    EXPECT_EQ(Events({"Command", "status="}),
              (Strings{"Command1.Enabled=0", "Command2.Enabled=0", "status=Working", "status=Ready",
                       "Command1.Enabled=1"}));
    EXPECT_TRUE(p.installer.calls.empty());
    EXPECT_EQ(TreeKeys(), std::vector<std::u16string>{u"Root"});
    ExpectFinished();
}

TEST_F(RemovalRun, UncheckedNodesAreNeverTaken) {
    Node(u"", u"Root", false);
    Node(u"Root", u"registry", false);
    Node(u"registry", u"KTRN", false);
    form().Command2_Click();

    EXPECT_TRUE(p.installer.calls.empty());
    EXPECT_EQ(p.installer.ProductNames().size(), 3u);
    EXPECT_TRUE(p.registry.KeyExists(kHiveLocalMachine, u"SOFTWARE\\KTRN"));
    ExpectFinished();
}

TEST_F(RemovalRun, CheckedLeavesFirstThenCheckedParentsEachByItsOwnMark) {
    Node(u"", u"Root", true);
    Node(u"Root", u"P", true);
    Node(u"P", u"A", true);      // a checked leaf after its checked parent
    Node(u"P", u"B", false);
    Node(u"Root", u"Q", true);   // a checked parent whose only child is unchecked
    Node(u"Q", u"D", false);
    Node(u"Root", u"E", true);
    form().Command2_Click();

    EXPECT_EQ(Taken(), Expected({"A", "E", "Root", "P", "Q"}));
    // One product query for each taken node, whatever its key.
    int queries = 0;
    for (const auto& call : p.installer.calls) queries += call == "ExecQuery SELECT * FROM Win32_Product";
    EXPECT_EQ(queries, 5);
    EXPECT_EQ(p.installer.ProductNames(), (std::vector<std::u16string>{u"B", u"D"}));
    EXPECT_EQ(Events({"Command", "status=W", "status=R"}).front(), "Command1.Enabled=0");
    EXPECT_EQ(Events({"status=Working"}).size(), 1u);
    ExpectFinished();
}

TEST_F(RemovalRun, ACheckedNodeWithoutChildrenIsTakenInTheFirstPassWhateverItIs) {
    Node(u"", u"Root", true);
    form().Command2_Click();
    EXPECT_EQ(Taken(), Expected({"Root"}));
}

TEST_F(RemovalRun, TheWholeRoadFromACheckedReleaseToARebuiltTree) {
    const std::u16string uninstall = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\{V2005}";
    p.registry.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\Veltramark 2005\\Settings");
    p.registry.CreateKey(kHiveCurrentUser, u"SOFTWARE\\Veltramark\\Veltramark 2005");
    p.registry.CreateKey(kHiveLocalMachine, u"SOFTWARE\\KTRN");
    p.registry.SetString(kHiveLocalMachine, uninstall, u"DisplayName", u"Veltramark 2005 SP1");
    p.registry.SetString(kHiveLocalMachine, uninstall, u"DisplayVersion", u"13.0.4");
    p.registry.SetString(kHiveLocalMachine, uninstall, u"InstallLocation", u"C:\\Program Files\\Veltramark 2005\\");
    p.installer.AddProduct(u"Veltramark 2005 SP1");
    p.files.AddFile(u"C:\\Program Files\\Veltramark 2005\\vm.exe", true);
    p.files.AddFile(u"C:\\Program Files\\Veltramark 2005\\Samples\\one.vmk");

    form().Form_Activate();
    TreeNode* release = p.tree.Find(u"Veltramark 2005");
    ASSERT_NE(release, nullptr);
    ASSERT_NE(p.tree.Find(u"Veltramark 2005 SP1"), nullptr);
    p.tree.UserToggle(*release);
    ASSERT_TRUE(p.command2.Enabled());
    ClearLogs();

    form().Command2_Click();

    // The product under the release goes first, while its release key still exists.
    EXPECT_EQ(Events({"installer: UnInstall", "status=Deleting HKEY", "status=Deleting C"}),
              (Strings{"installer: UnInstall Veltramark 2005 SP1",
                       "status=Deleting C:\\Program Files\\Veltramark 2005\\",
                       "status=Deleting HKEY_LOCAL_MACHINE\\SOFTWARE\\Veltramark\\Veltramark 2005",
                       "status=Deleting HKEY_CURRENT_USER\\SOFTWARE\\Veltramark\\Veltramark 2005"}));
    EXPECT_TRUE(p.installer.ProductNames().empty());
    EXPECT_FALSE(p.files.Exists(u"C:\\Program Files\\Veltramark 2005"));
    EXPECT_TRUE(p.files.Exists(u"C:\\Program Files"));
    EXPECT_FALSE(p.registry.KeyExists(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\Veltramark 2005"));
    EXPECT_FALSE(p.registry.KeyExists(kHiveCurrentUser, u"SOFTWARE\\Veltramark\\Veltramark 2005"));
    EXPECT_TRUE(p.shell.boxes.empty());
    EXPECT_TRUE(p.shell.errors.empty());
    EXPECT_EQ(TreeKeys(), (std::vector<std::u16string>{u"Root", u"registry", u"KTRN"}));
    ExpectFinished();
}

TEST_F(RemovalRun, ARaisedFailureIsReportedAndTheRunGoesOn) {
    Node(u"", u"Root", false);
    Node(u"Root", u"A", true);
    Node(u"Root", u"B", true);
    Node(u"Root", u"C", true);
    form().installedProducts.push_back({u"{C}", u"C", u"1", u"D:\\C"});
    p.files.AddFile(u"D:\\C\\a.dat");
    p.files.AddFile(u"D:\\C\\b.dat");
    p.files.SetInUse(u"D:\\C\\b.dat");
    p.installer.raisingUninstalls.insert(u"A");
    p.registry.FailCall("DeleteKey " + kHklm + " SOFTWARE\\B");

    form().Command2_Click();

    EXPECT_EQ(Events({"Error", "installer: UnInstall", "status=Deleting HKEY"}),
              (Strings{"installer: UnInstall A", "Error UnInstall failed: A",
                       "status=Deleting HKEY_LOCAL_MACHINE\\SOFTWARE\\A",
                       "installer: UnInstall B", "status=Deleting HKEY_LOCAL_MACHINE\\SOFTWARE\\B",
                       "Error Injected failure: DeleteKey " + kHklm + " SOFTWARE\\B",
                       "installer: UnInstall C", "Error Permission denied: D:\\C\\b.dat",
                       "status=Deleting HKEY_LOCAL_MACHINE\\SOFTWARE\\C"}));
    EXPECT_FALSE(p.registry.KeyExists(kHiveLocalMachine, u"SOFTWARE\\A"));
    EXPECT_TRUE(p.registry.KeyExists(kHiveLocalMachine, u"SOFTWARE\\B"));
    EXPECT_FALSE(p.registry.KeyExists(kHiveLocalMachine, u"SOFTWARE\\C"));
    // The erase stopped at the locked file; what went before it stays gone.
    EXPECT_FALSE(p.files.Exists(u"D:\\C\\a.dat"));
    EXPECT_TRUE(p.files.Exists(u"D:\\C\\b.dat"));
    EXPECT_TRUE(p.shell.boxes.empty());
    EXPECT_EQ(TreeKeys(), std::vector<std::u16string>{u"Root"});
    ExpectFinished();
}

TEST_F(RemovalRun, AFailingRebuildAtTheEndIsNotCaught) {
    Node(u"", u"Root", true);
    p.management.failingMonikers.insert(kRegistryMonikerImpersonate);

    EXPECT_THROW(form().Command2_Click(), PlatformError);
    // The registry removal's own failure was reported; the rebuild's was not.
    EXPECT_EQ(p.shell.errors.size(), 1u);
    EXPECT_TRUE(p.installer.ProductNames().empty());
    EXPECT_NE(p.status(), u"Ready");
    EXPECT_FALSE(p.command1.Enabled());
}

}  // namespace
}  // namespace clearstrand::removal_test
