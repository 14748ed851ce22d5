#include <gtest/gtest.h>

#include "core/discovery_support.h"

namespace clearstrand {
namespace {

using namespace testing_support;
using Lines = std::vector<std::string>;

class Populate : public ::testing::Test {
protected:
    void Run() { p.form().PopulateTreeview(); }
    Lines Tree() { return Outline(p.tree); }

    MemoryPlatform p;
};

TEST_F(Populate, EmptyMachineLeavesRootAlone) {
    Run();
    EXPECT_EQ(Tree(), (Lines{"All Veltramark Software [+] [b]"}));
    EXPECT_TRUE(p.form().installedProducts.empty());
    EXPECT_EQ(p.management.monikers,
              (std::vector<std::u16string>{u"winmgmts:{impersonationLevel=Impersonate}!\\\\.\\root\\default:StdRegProv"}));
}

TEST_F(Populate, BuildsEveryCategoryFromBothHivesAndTheUninstallList) {
    SeedFullMachine(p.registry);
    Run();
    EXPECT_EQ(Tree(), (Lines{
                          "All Veltramark Software [+] [b]",
                          "  Miscellaneous Registry Keys [+] [b]",
                          "    KTRN",
                          "    QBEL",
                          "    Castwell",
                          "  Veltramark [+] [b]",
                          "    Veltramark 2003 (registry key) [+]",
                          "      Veltramark 2003 Tools",
                          "      Veltramark 2003 Viewer",
                          "    Veltramark 2005 (registry key) [+]",
                          "      Veltramark 2005 SP0.0",
                          "  Planoview [+] [b]",
                          "    p2001 (Registry Key) [+]",
                          "      Planoview 1.4",
                          "    p2002 (Registry Key) [+]",
                          "  Tracemill [+] [b]",
                          "    Tracemill 13",
                      }));
    // Categories hold positions 1 to 5; the rest follow in the order found.
    const auto keys = KeysInIndexOrder(p.tree);
    ASSERT_EQ(keys.size(), 17u);
    EXPECT_EQ(std::vector<std::u16string>(keys.begin(), keys.begin() + 8),
              (std::vector<std::u16string>{u"Root", u"registry", u"VT", u"pV", u"TML", u"KTRN",
                                           u"p2001", u"p2002"}));
    EXPECT_EQ(keys[9], u"Veltramark 2003");
    EXPECT_EQ(keys[11], u"Castwell");
}

TEST_F(Populate, RegistryReadsFollowTheFixedOrder) {
    p.registry.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\Veltramark 2005");
    p.registry.CreateKey(kHiveCurrentUser, u"SOFTWARE\\Planoview");
    AddEntry(p.registry, u"X", u"Veltramark 2005 SP1", u"13.1");
    Run();
    EXPECT_EQ(p.registry.calls,
              (std::vector<std::string>{
                  "EnumKey -2147483646 SOFTWARE",
                  "EnumKey -2147483646 SOFTWARE\\Veltramark",
                  "EnumKey -2147483647 SOFTWARE",
                  "EnumKey -2147483647 SOFTWARE\\Planoview",
                  "EnumKey -2147483646 SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",
                  "GetStringValue -2147483646 SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\X DisplayName",
                  "GetStringValue -2147483646 SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\X DisplayVersion",
                  "GetStringValue -2147483646 SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\X InstallLocation",
              }));
    EXPECT_EQ(p.management.monikers.size(), 1u);  // one connection serves the run
}

TEST_F(Populate, KeysPresentInBothHivesYieldOneNodeAndUserOnlyReleasesTakeProducts) {
    for (int32_t hive : {kHiveLocalMachine, kHiveCurrentUser}) {
        p.registry.CreateKey(hive, u"SOFTWARE\\ModelHarbor");
        p.registry.CreateKey(hive, u"SOFTWARE\\Veltramark\\Veltramark 2004");
    }
    p.registry.CreateKey(kHiveCurrentUser, u"SOFTWARE\\Planoview\\p2006");
    AddEntry(p.registry, u"1", u"Planoview 6", u"6.0");
    AddEntry(p.registry, u"2", u"Veltramark 2004", u"12.0");  // the release key itself
    AddEntry(p.registry, u"3", u"Veltramark 2004 Extra", u"12.5");
    Run();
    EXPECT_EQ(Tree(), (Lines{
                          "All Veltramark Software [+] [b]",
                          "  Miscellaneous Registry Keys [+] [b]",
                          "    ModelHarbor",
                          "  Veltramark [+] [b]",
                          "    Veltramark 2004 (registry key) [+]",
                          "      Veltramark 2004 Extra",
                          "  Planoview [+] [b]",
                          "    p2006 (Registry Key) [+]",
                          "      Planoview 6",
                      }));
}

TEST_F(Populate, NamesMustMatchExactlyAndUnknownReleasesArePassedOver) {
    p.registry.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\veltramark 2005");
    p.registry.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\Veltramark 2008");
    p.registry.CreateKey(kHiveLocalMachine, u"SOFTWARE\\qbel");
    p.registry.CreateKey(kHiveCurrentUser, u"SOFTWARE\\planoview\\p2001");
    AddEntry(p.registry, u"1", u"Veltramark 2005 SP0.0", u"13.0.1");  // no release node for it
    AddEntry(p.registry, u"2", u"Tracemill", u"12.0");
    Run();
    EXPECT_EQ(Tree(), (Lines{"All Veltramark Software [+] [b]"}));
    EXPECT_EQ(p.form().installedProducts.size(), 2u);
}

TEST_F(Populate, CollidingDisplayNamesGetNoNodeButKeepTheirRowsAndTheRunGoesOn) {
    p.registry.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Veltramark Stockroom");
    p.registry.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\Veltramark 2005");
    AddEntry(p.registry, u"a", u"Veltramark 2005", u"13.0");       // release key
    AddEntry(p.registry, u"b", u"Veltramark Stockroom", u"13.0");  // miscellaneous key
    AddEntry(p.registry, u"c", u"Veltramark 2005 Pro", u"13.0", u"C:\\First");
    AddEntry(p.registry, u"d", u"Veltramark 2005 Pro", u"13.1", u"C:\\Second");
    AddEntry(p.registry, u"e", u"Tracemill", u"13.0");
    Run();
    EXPECT_EQ(Tree(), (Lines{
                          "All Veltramark Software [+] [b]",
                          "  Miscellaneous Registry Keys [+] [b]",
                          "    Veltramark Stockroom",
                          "  Veltramark [+] [b]",
                          "    Veltramark 2005 (registry key) [+]",
                          "      Veltramark 2005 Pro",
                          "  Tracemill [+] [b]",
                          "    Tracemill",
                      }));
    const auto& rows = p.form().installedProducts;
    ASSERT_EQ(rows.size(), 5u);
    EXPECT_EQ(rows[3], (ProductRow{u"d", u"Veltramark 2005 Pro", u"13.1", u"C:\\Second"}));
}

TEST_F(Populate, RowsHoldEveryEntryWithMissingOrUnreadableValuesEmpty) {
    AddEntry(p.registry, u"{1}", u"First", u"1.0", u"C:\\One");
    AddEntry(p.registry, u"{2}", u"", u"");  // no values at all
    AddEntry(p.registry, u"{3}", u"Third", u"3.0", u"C:\\Three");
    p.registry.SetDword(kHiveLocalMachine, std::u16string(kUninstall) + u"\\{3}", u"DisplayVersion", 3);
    AddEntry(p.registry, u"{4}", u"Fourth", u"4.0", u"C:\\Four");
    p.registry.FailCall("GetStringValue -2147483646 " + ToUtf8(kUninstall) + "\\{4} DisplayName");
    Run();
    EXPECT_EQ(p.form().installedProducts,
              (std::vector<ProductRow>{
                  {u"{1}", u"First", u"1.0", u"C:\\One"},
                  {u"{2}", u"", u"", u""},
                  {u"{3}", u"Third", u"", u"C:\\Three"},
                  {u"{4}", u"", u"4.0", u"C:\\Four"},
              }));
    // The holders keep the last row.
    EXPECT_EQ(p.form().entryKeyName, u"{4}");
    EXPECT_EQ(p.form().displayName, u"");
    EXPECT_EQ(p.form().installLocation, u"C:\\Four");
}

TEST_F(Populate, EachRunStartsAfreshFromTheRegistry) {
    SeedFullMachine(p.registry);
    Run();
    p.tree.Nodes().Item(1).SetChecked(true);
    p.registry.DeleteTree(kHiveLocalMachine, u"SOFTWARE\\Veltramark");
    p.registry.DeleteTree(kHiveLocalMachine, kUninstall);
    p.registry.DeleteTree(kHiveLocalMachine, u"SOFTWARE\\Planoview");
    Run();
    EXPECT_EQ(Tree(), (Lines{
                          "All Veltramark Software [+] [b]",
                          "  Miscellaneous Registry Keys [+] [b]",
                          "    KTRN",
                          "    QBEL",
                          "    Castwell",
                      }));
    // A missing uninstall root lists nothing: the old rows are gone.
    EXPECT_TRUE(p.form().installedProducts.empty());
}

TEST_F(Populate, EmptyContainersArePruned) {
    p.registry.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Planoview\\Other");
    p.registry.CreateKey(kHiveCurrentUser, u"SOFTWARE\\Veltramark");
    p.registry.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\Veltramark 2002");
    AddEntry(p.registry, u"1", u"Veltramark 2002", u"11.0");  // 11 is 2003's
    Run();
    EXPECT_EQ(Tree(), (Lines{
                          "All Veltramark Software [+] [b]",
                          "  Veltramark [+] [b]",
                          "    Veltramark 2002 (registry key) [+]",
                      }));
}

TEST_F(Populate, FailuresBeforeTheUninstallScanReachTheCaller) {
    SeedFullMachine(p.registry);
    p.management.failingMonikers.insert(
        u"winmgmts:{impersonationLevel=Impersonate}!\\\\.\\root\\default:StdRegProv");
    EXPECT_THROW(Run(), PlatformError);
    EXPECT_EQ(KeysInIndexOrder(p.tree),
              (std::vector<std::u16string>{u"Root", u"registry", u"VT", u"pV", u"TML"}));

    MemoryPlatform q;
    SeedFullMachine(q.registry);
    q.registry.FailCall("EnumKey -2147483647 SOFTWARE");
    EXPECT_THROW(q.form().PopulateTreeview(), PlatformError);
    EXPECT_EQ(q.tree.Nodes().Count(), 11);  // the machine pass's nodes stay, nothing pruned
}

}  // namespace
}  // namespace clearstrand
