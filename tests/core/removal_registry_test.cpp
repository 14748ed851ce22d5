#include "core/removal_fixture.h"

namespace clearstrand::removal_test {
namespace {

using Strings = std::vector<std::string>;

constexpr int32_t kHklmHive = kHiveLocalMachine;
constexpr int32_t kHkcuHive = kHiveCurrentUser;

class RegistryRemoval : public RemovalTest {
protected:
    std::vector<std::string> StatusTexts() const { return Events({"status="}); }
};

TEST_F(RegistryRemoval, KeyFoundNowhereChangesNothingAndShowsNothing) {
    p.registry.CreateKey(kHklmHive, u"SOFTWARE\\Veltramark\\Veltramark 2003");
    p.registry.CreateKey(kHklmHive, u"SOFTWARE\\Other");
    // HKEY_CURRENT_USER has no SOFTWARE key at all: its listing is empty.
    form().CheckRegistryKey(u"Veltramark 2005");

    EXPECT_EQ(p.registry.calls, (Strings{"EnumKey " + kHklm + " SOFTWARE",
                                         "EnumKey " + kHklm + " SOFTWARE\\Veltramark",
                                         "EnumKey " + kHkcu + " SOFTWARE"}));
    EXPECT_EQ(p.management.monikers, std::vector<std::u16string>{kRegistryMonikerImpersonate});
    EXPECT_TRUE(StatusTexts().empty());
    EXPECT_TRUE(p.shell.boxes.empty());
    EXPECT_TRUE(p.registry.KeyExists(kHklmHive, u"SOFTWARE\\Veltramark\\Veltramark 2003"));
}

TEST_F(RegistryRemoval, DeletesInLocalMachineThenCurrentUserShowingPathThenHiveNumber) {
    for (int32_t hive : {kHklmHive, kHkcuHive}) {
        p.registry.CreateKey(hive, u"SOFTWARE\\Veltramark\\Veltramark 2005");
        p.registry.CreateKey(hive, u"SOFTWARE\\Veltramark\\Veltramark 2006");
    }
    form().CheckRegistryKey(u"Veltramark 2005");

    EXPECT_EQ(StatusTexts(),
              (Strings{"status=Deleting HKEY_LOCAL_MACHINE\\SOFTWARE\\Veltramark\\Veltramark 2005",
                       "status=Deleting -2147483646\\SOFTWARE\\Veltramark\\Veltramark 2005",
                       "status=Deleting HKEY_CURRENT_USER\\SOFTWARE\\Veltramark\\Veltramark 2005",
                       "status=Deleting -2147483647\\SOFTWARE\\Veltramark\\Veltramark 2005"}));
    // One search connection for the call, one plain connection per deletion.
    EXPECT_EQ(p.management.monikers,
              (std::vector<std::u16string>{kRegistryMonikerImpersonate, kRegistryMonikerPlain,
                                           kRegistryMonikerPlain}));
    for (int32_t hive : {kHklmHive, kHkcuHive}) {
        EXPECT_FALSE(p.registry.KeyExists(hive, u"SOFTWARE\\Veltramark\\Veltramark 2005"));
        EXPECT_TRUE(p.registry.KeyExists(hive, u"SOFTWARE\\Veltramark\\Veltramark 2006"));
    }
    EXPECT_TRUE(p.shell.boxes.empty());
    EXPECT_EQ(p.status(), u"Deleting -2147483647\\SOFTWARE\\Veltramark\\Veltramark 2005");
}

TEST_F(RegistryRemoval, AllThreePlacesAreSearchedInListingOrderFromOneListing) {
    // Listed case-insensitively sorted: Planoview, Shared, Veltramark.
    p.registry.CreateKey(kHklmHive, u"SOFTWARE\\Shared");
    p.registry.CreateKey(kHklmHive, u"SOFTWARE\\Veltramark\\Shared");
    p.registry.CreateKey(kHklmHive, u"SOFTWARE\\Planoview\\Shared");
    form().CheckRegistryKey(u"Shared");

    EXPECT_EQ(StatusTexts(), (Strings{"status=Deleting HKEY_LOCAL_MACHINE\\SOFTWARE\\Planoview\\Shared",
                                      "status=Deleting -2147483646\\SOFTWARE\\Planoview\\Shared",
                                      "status=Deleting HKEY_LOCAL_MACHINE\\SOFTWARE\\Shared",
                                      "status=Deleting -2147483646\\SOFTWARE\\Shared",
                                      "status=Deleting HKEY_LOCAL_MACHINE\\SOFTWARE\\Veltramark\\Shared",
                                      "status=Deleting -2147483646\\SOFTWARE\\Veltramark\\Shared"}));
    EXPECT_EQ(p.registry.calls, (Strings{"EnumKey " + kHklm + " SOFTWARE",
                                         "EnumKey " + kHklm + " SOFTWARE\\Planoview",
                                         "DeleteKey " + kHklm + " SOFTWARE\\Planoview\\Shared",
                                         "DeleteKey " + kHklm + " SOFTWARE\\Shared",
                                         "EnumKey " + kHklm + " SOFTWARE\\Veltramark",
                                         "DeleteKey " + kHklm + " SOFTWARE\\Veltramark\\Shared",
                                         "EnumKey " + kHkcu + " SOFTWARE"}));
    EXPECT_EQ(p.registry.SubKeys(kHklmHive, u"SOFTWARE"), (std::vector<std::u16string>{u"Planoview", u"Veltramark"}));
}

TEST_F(RegistryRemoval, AContainerNamedByTheKeyIsDeletedWholeWithoutSearchingInside) {
    p.registry.deleteKeyRemovesSubtree = true;
    p.registry.CreateKey(kHklmHive, u"SOFTWARE\\Veltramark\\Veltramark");
    p.registry.CreateKey(kHklmHive, u"SOFTWARE\\Veltramark\\Veltramark 2005");
    p.registry.CreateKey(kHkcuHive, u"SOFTWARE\\Veltramark\\Veltramark 2001");
    p.registry.CreateKey(kHkcuHive, u"SOFTWARE\\Planoview\\p2005");
    form().CheckRegistryKey(u"Veltramark");

    EXPECT_EQ(p.registry.calls, (Strings{"EnumKey " + kHklm + " SOFTWARE",
                                         "DeleteKey " + kHklm + " SOFTWARE\\Veltramark",
                                         "EnumKey " + kHkcu + " SOFTWARE",
                                         "EnumKey " + kHkcu + " SOFTWARE\\Planoview",
                                         "DeleteKey " + kHkcu + " SOFTWARE\\Veltramark"}));
    EXPECT_FALSE(p.registry.KeyExists(kHklmHive, u"SOFTWARE\\Veltramark"));
    EXPECT_FALSE(p.registry.KeyExists(kHkcuHive, u"SOFTWARE\\Veltramark"));
    EXPECT_TRUE(p.registry.KeyExists(kHkcuHive, u"SOFTWARE\\Planoview\\p2005"));
}

TEST_F(RegistryRemoval, NamesDifferingOnlyInCaseAreLeftAlone) {
    p.registry.CreateKey(kHklmHive, u"SOFTWARE\\Lanternix Software");
    p.registry.CreateKey(kHklmHive, u"SOFTWARE\\Veltramark\\Veltramark 2005");
    p.registry.CreateKey(kHkcuHive, u"SOFTWARE\\veltramark\\p2005");  // a container spelled otherwise
    form().CheckRegistryKey(u"lanternix software");
    form().CheckRegistryKey(u"veltramark 2005");
    form().CheckRegistryKey(u"p2005");

    EXPECT_TRUE(StatusTexts().empty());
    EXPECT_TRUE(p.registry.KeyExists(kHklmHive, u"SOFTWARE\\Lanternix Software"));
    EXPECT_TRUE(p.registry.KeyExists(kHklmHive, u"SOFTWARE\\Veltramark\\Veltramark 2005"));
    EXPECT_TRUE(p.registry.KeyExists(kHkcuHive, u"SOFTWARE\\veltramark\\p2005"));
}

TEST_F(RegistryRemoval, RefusedInBothHivesGivesTwoBoxesWithTheNodeKeyAndTwoDeletesEach) {
    for (int32_t hive : {kHklmHive, kHkcuHive}) {
        p.registry.CreateKey(hive, u"SOFTWARE\\Planoview\\p2005");
        p.registry.SetDeleteRefused(hive, u"SOFTWARE\\Planoview\\p2005", kRegAccessDenied);
    }
    form().CheckRegistryKey(u"p2005");

    ExpectBoxes({u"Failed to delete p2005", u"Failed to delete p2005"});
    const std::string path = " SOFTWARE\\Planoview\\p2005";
    EXPECT_EQ(p.registry.calls,
              (Strings{"EnumKey " + kHklm + " SOFTWARE", "EnumKey " + kHklm + " SOFTWARE\\Planoview",
                       "DeleteKey " + kHklm + path, "EnumKey " + kHklm + path, "DeleteKey " + kHklm + path,
                       "EnumKey " + kHkcu + " SOFTWARE", "EnumKey " + kHkcu + " SOFTWARE\\Planoview",
                       "DeleteKey " + kHkcu + path, "EnumKey " + kHkcu + path, "DeleteKey " + kHkcu + path}));
    EXPECT_EQ(form().resultCode, kRegAccessDenied);
    // The box comes right after the failed deletion, before the next hive is searched.
    EXPECT_EQ(Events({"MsgBox", "status=Deleting HKEY"}),
              (Strings{"status=Deleting HKEY_LOCAL_MACHINE\\SOFTWARE\\Planoview\\p2005", "MsgBox Failed to delete p2005",
                       "status=Deleting HKEY_CURRENT_USER\\SOFTWARE\\Planoview\\p2005", "MsgBox Failed to delete p2005"}));
}

class SubtreeDeletion : public RegistryRemoval {
protected:
    const std::u16string key = u"SOFTWARE\\Veltramark\\Veltramark 2005";
    const std::string k = "SOFTWARE\\Veltramark\\Veltramark 2005";

    SubtreeDeletion() {
        p.registry.CreateKey(kHklmHive, key + u"\\A\\A1");
        p.registry.CreateKey(kHklmHive, key + u"\\A\\A2");
        p.registry.CreateKey(kHklmHive, key + u"\\B");
        p.registry.CreateKey(kHklmHive, u"SOFTWARE\\Veltramark\\Veltramark 2006");
    }
    std::string Delete(const std::string& path) const { return "DeleteKey " + kHklm + " " + path; }
    std::string Enum(const std::string& path) const { return "EnumKey " + kHklm + " " + path; }
};

TEST_F(SubtreeDeletion, EmptiesTheSubtreeDepthFirstAndDeletesTheKeyLast) {
    EXPECT_EQ(form().DeleteRegistryKey(kHklmHive, key), 0);

    EXPECT_EQ(p.registry.calls,
              (Strings{Delete(k), Enum(k), Delete(k + "\\A"), Enum(k + "\\A"), Delete(k + "\\A\\A1"),
                       Delete(k + "\\A\\A2"), Delete(k + "\\A"), Delete(k + "\\B"), Delete(k)}));
    EXPECT_EQ(StatusTexts(), (Strings{"status=Deleting -2147483646\\" + k, "status=Deleting -2147483646\\" + k + "\\A",
                                      "status=Deleting -2147483646\\" + k + "\\A\\A1",
                                      "status=Deleting -2147483646\\" + k + "\\A\\A2",
                                      "status=Deleting -2147483646\\" + k + "\\B"}));
    // Every level connects on its own, without impersonation.
    EXPECT_EQ(p.management.monikers, std::vector<std::u16string>(5, kRegistryMonikerPlain));
    EXPECT_FALSE(p.registry.KeyExists(kHklmHive, key));
    EXPECT_TRUE(p.registry.KeyExists(kHklmHive, u"SOFTWARE\\Veltramark\\Veltramark 2006"));
}

TEST_F(SubtreeDeletion, SearchShowsNoBoxWhenTheLastDeleteSucceeds) {
    form().CheckRegistryKey(u"Veltramark 2005");
    EXPECT_TRUE(p.shell.boxes.empty());
    EXPECT_FALSE(p.registry.KeyExists(kHklmHive, key));
}

TEST_F(SubtreeDeletion, AKeyThatStaysKeepsItsSubkeysRemovedAndReportsTheLastCode) {
    p.registry.SetDeleteRefused(kHklmHive, key, kRegAccessDenied);
    form().CheckRegistryKey(u"Veltramark 2005");

    ExpectBoxes({u"Failed to delete Veltramark 2005"});
    EXPECT_TRUE(p.registry.KeyExists(kHklmHive, key));
    EXPECT_TRUE(p.registry.SubKeys(kHklmHive, key).empty());
    int deletesOfKey = 0;
    for (const auto& call : p.registry.calls) deletesOfKey += call == Delete(k);
    EXPECT_EQ(deletesOfKey, 2);
}

TEST_F(SubtreeDeletion, RaisedFailuresBetweenTheTwoDeletesAreSkipped) {
    // A child that raises is left behind; its sibling and the rest go on.
    p.registry.FailCall(Delete(k + "\\A"));
    EXPECT_EQ(form().DeleteRegistryKey(kHklmHive, key), kRegAccessDenied);
    EXPECT_TRUE(p.registry.KeyExists(kHklmHive, key + u"\\A\\A1"));
    EXPECT_FALSE(p.registry.KeyExists(kHklmHive, key + u"\\B"));
    EXPECT_EQ(p.registry.calls.back(), Delete(k));

    // A listing that raises leaves no children to visit; the last delete still runs.
    p.registry.failingCalls.clear();
    p.registry.calls.clear();
    p.registry.FailCall(Enum(k));
    EXPECT_EQ(form().DeleteRegistryKey(kHklmHive, key), kRegAccessDenied);
    EXPECT_EQ(p.registry.calls, (Strings{Delete(k), Enum(k), Delete(k)}));
}

TEST_F(SubtreeDeletion, TheFirstAndTheLastDeleteAreNotSkipped) {
    p.registry.onCall = FailNth(Delete(k), 1);
    EXPECT_THROW(form().DeleteRegistryKey(kHklmHive, key), PlatformError);
    EXPECT_EQ(p.registry.calls, Strings{Delete(k)});
    p.registry.calls.clear();

    p.registry.onCall = FailNth(Delete(k), 2);
    EXPECT_THROW(form().DeleteRegistryKey(kHklmHive, key), PlatformError);
    // The subtree was emptied before the last delete raised, and stays so.
    EXPECT_TRUE(p.registry.KeyExists(kHklmHive, key));
    EXPECT_TRUE(p.registry.SubKeys(kHklmHive, key).empty());
}

TEST_F(RegistryRemoval, RaisedFailuresOutsideTheRecursionEndTheSearch) {
    p.registry.deleteKeyRemovesSubtree = true;
    for (int32_t hive : {kHklmHive, kHkcuHive}) p.registry.CreateKey(hive, u"SOFTWARE\\KTRN");

    p.management.failingMonikers.insert(kRegistryMonikerImpersonate);
    EXPECT_THROW(form().CheckRegistryKey(u"KTRN"), PlatformError);
    EXPECT_TRUE(p.registry.calls.empty());
    p.management.failingMonikers.clear();

    p.registry.FailCall("EnumKey " + kHklm + " SOFTWARE");
    EXPECT_THROW(form().CheckRegistryKey(u"KTRN"), PlatformError);
    EXPECT_TRUE(p.registry.KeyExists(kHklmHive, u"SOFTWARE\\KTRN"));
    p.registry.failingCalls.clear();

    // Raised by the deletion in the second hive: the first hive's deletion stays.
    p.registry.FailCall("DeleteKey " + kHkcu + " SOFTWARE\\KTRN");
    EXPECT_THROW(form().CheckRegistryKey(u"KTRN"), PlatformError);
    EXPECT_FALSE(p.registry.KeyExists(kHklmHive, u"SOFTWARE\\KTRN"));
    EXPECT_TRUE(p.registry.KeyExists(kHkcuHive, u"SOFTWARE\\KTRN"));
    p.registry.failingCalls.clear();

    // A failing listing of a container raises too.
    p.registry.CreateKey(kHkcuHive, u"SOFTWARE\\Planoview\\p2001");
    p.registry.FailCall("EnumKey " + kHkcu + " SOFTWARE\\Planoview");
    EXPECT_THROW(form().CheckRegistryKey(u"p2001"), PlatformError);
    EXPECT_TRUE(p.registry.KeyExists(kHkcuHive, u"SOFTWARE\\Planoview\\p2001"));
    EXPECT_TRUE(p.shell.boxes.empty());
}

}  // namespace
}  // namespace clearstrand::removal_test
