#include "core/removal_fixture.h"

namespace clearstrand::removal_test {
namespace {

using Strings = std::vector<std::string>;
using Names = std::vector<std::u16string>;

const std::string kQuery = "ExecQuery SELECT * FROM Win32_Product";

class ProductUninstall : public RemovalTest {
protected:
    void Row(std::u16string name, std::u16string location) {
        const auto key = u"{" + FromUtf8(std::to_string(form().installedProducts.size())) + u"}";
        form().installedProducts.push_back({key, std::move(name), u"13.0", std::move(location)});
    }
    int Count(const std::string& event) const {
        int n = 0;
        for (const auto& e : p.log.events) n += e == event;
        return n;
    }
};

TEST_F(ProductUninstall, NamesMustMatchExactlyAndAMissQueriesOnceAndChangesNothing) {
    p.installer.AddProduct(u"Veltramark 2005 SP1");
    form().installLocation = u"untouched";
    for (const char16_t* key : {u"Root", u"veltramark 2005 sp1", u"Veltramark 2005 SP1 ",
                                u" Veltramark 2005 SP1", u"Veltramark 2005"}) {
        form().CheckSoftwareInstall(key);
    }
    EXPECT_EQ(p.management.monikers, Names(5, kCimv2Moniker));
    EXPECT_EQ(p.installer.calls, Strings(5, kQuery));
    EXPECT_EQ(p.installer.ProductNames(), Names{u"Veltramark 2005 SP1"});
    EXPECT_EQ(form().installLocation, u"untouched");
    EXPECT_TRUE(Events({"status="}).empty());
    EXPECT_TRUE(p.shell.boxes.empty());

    // A product without a name matches nothing, not even an empty key.
    p.installer.AddProduct(u"");
    form().CheckSoftwareInstall(u"");
    EXPECT_EQ(p.installer.ProductNames().size(), 2u);
}

TEST_F(ProductUninstall, UninstallsThenErasesTheRecordedFolder) {
    p.installer.AddProduct(u"Tracemill 14");
    p.installer.AddProduct(u"Veltramark 2005 SP1");
    p.files.AddFile(u"C:\\Program Files\\Veltramark\\2005\\vm.exe");
    p.files.AddFile(u"C:\\Program Files\\Veltramark\\Shared\\keep.dll");
    Row(u"Tracemill 14", u"C:\\Program Files\\Tracemill");
    Row(u"Veltramark 2005 SP1", u"C:\\Program Files\\Veltramark\\2005");

    form().CheckSoftwareInstall(u"Veltramark 2005 SP1");

    EXPECT_EQ(Events({"status=", "installer:", "files: FolderExists"}),
              (Strings{"installer: " + kQuery, "status=Uninstalling Veltramark 2005 SP1",
                       "installer: UnInstall Veltramark 2005 SP1",
                       "status=Deleting C:\\Program Files\\Veltramark\\2005",
                       "files: FolderExists C:\\Program Files\\Veltramark\\2005"}));
    EXPECT_EQ(p.installer.ProductNames(), Names{u"Tracemill 14"});
    EXPECT_FALSE(p.files.Exists(u"C:\\Program Files\\Veltramark\\2005"));
    EXPECT_TRUE(p.files.Exists(u"C:\\Program Files\\Veltramark\\Shared\\keep.dll"));
    EXPECT_EQ(form().installLocation, u"C:\\Program Files\\Veltramark\\2005");
    EXPECT_EQ(form().resultCode, 0);
    EXPECT_TRUE(p.shell.boxes.empty());
}

TEST_F(ProductUninstall, EveryProductOfThatNameIsUninstalledAndTheFolderErasedAfterEach) {
    p.installer.AddProduct(u"Planoview 5");
    p.installer.AddProduct(u"Other");
    p.installer.AddProduct(u"Planoview 5");
    p.files.AddFile(u"D:\\Planoview\\pv.exe");
    Row(u"Planoview 5", u"D:\\Planoview");

    form().CheckSoftwareInstall(u"Planoview 5");

    EXPECT_EQ(p.installer.ProductNames(), Names{u"Other"});
    EXPECT_EQ(Count("installer: UnInstall Planoview 5"), 2);
    EXPECT_EQ(Count("status=Deleting D:\\Planoview"), 2);
    EXPECT_EQ(Count("files: FolderExists D:\\Planoview"), 2);
    EXPECT_EQ(Count("files: DeleteFolder D:\\Planoview"), 1);
    EXPECT_FALSE(p.files.Exists(u"D:\\Planoview"));
}

TEST_F(ProductUninstall, TheLastMatchingRowDecidesTheFolderEvenWhenEmpty) {
    p.files.AddFolder(u"D:\\First");
    p.files.AddFolder(u"D:\\Second");

    p.installer.AddProduct(u"Veltramark 2006");
    Row(u"Veltramark 2006", u"D:\\First");
    Row(u"Veltramark 2006", u"");
    form().CheckSoftwareInstall(u"Veltramark 2006");
    EXPECT_TRUE(p.files.Exists(u"D:\\First"));
    EXPECT_EQ(p.status(), u"Uninstalling Veltramark 2006");
    EXPECT_TRUE(p.files.calls.empty());

    p.installer.AddProduct(u"Veltramark 2007");
    Row(u"Veltramark 2007", u"");
    Row(u"Other", u"D:\\First");
    Row(u"Veltramark 2007", u"D:\\Second");
    form().CheckSoftwareInstall(u"Veltramark 2007");
    EXPECT_TRUE(p.files.Exists(u"D:\\First"));
    EXPECT_FALSE(p.files.Exists(u"D:\\Second"));
}

TEST_F(ProductUninstall, AProductWithoutARowIsUninstalledAndNoFolderErased) {
    p.installer.AddProduct(u"Tracemill 15");
    form().installLocation = u"D:\\Stale";
    p.files.AddFolder(u"D:\\Stale");
    form().CheckSoftwareInstall(u"Tracemill 15");

    EXPECT_TRUE(p.installer.ProductNames().empty());
    EXPECT_EQ(form().installLocation, u"");
    EXPECT_TRUE(p.files.Exists(u"D:\\Stale"));
    EXPECT_EQ(p.status(), u"Uninstalling Tracemill 15");
}

TEST_F(ProductUninstall, AFailedUninstallIsReportedAndTheNextProductStillTaken) {
    p.installer.AddProduct(u"Veltramark 2004", 1605);
    p.installer.AddProduct(u"Veltramark 2004");
    p.files.AddFolder(u"D:\\V2004");
    Row(u"Veltramark 2004", u"D:\\V2004");

    form().CheckSoftwareInstall(u"Veltramark 2004");

    ExpectBoxes({u"Failed to uninstall Veltramark 2004"});
    // Reported before the second product is taken; only a success erases the folder.
    EXPECT_EQ(Events({"installer: UnInstall", "MsgBox", "files: FolderExists"}),
              (Strings{"installer: UnInstall Veltramark 2004", "MsgBox Failed to uninstall Veltramark 2004",
                       "installer: UnInstall Veltramark 2004", "files: FolderExists D:\\V2004"}));
    EXPECT_EQ(p.installer.ProductNames(), Names{u"Veltramark 2004"});
    EXPECT_FALSE(p.files.Exists(u"D:\\V2004"));
}

TEST_F(ProductUninstall, ARestartPendingIsASuccess) {
    p.installer.AddProduct(u"Planoview 6", 3010);
    p.installer.AddProduct(u"Planoview 7", 1641);
    p.files.AddFolder(u"D:\\PV6");
    p.files.AddFolder(u"D:\\PV7");
    Row(u"Planoview 6", u"D:\\PV6");
    Row(u"Planoview 7", u"D:\\PV7");

    form().CheckSoftwareInstall(u"Planoview 6");
    form().CheckSoftwareInstall(u"Planoview 7");

    EXPECT_TRUE(p.shell.boxes.empty());
    EXPECT_FALSE(p.files.Exists(u"D:\\PV6"));
    EXPECT_FALSE(p.files.Exists(u"D:\\PV7"));
}

TEST_F(ProductUninstall, ADangerousFolderIsRefusedWithABoxAndTheRestGoesOn) {
    p.files.AddFile(u"C:\\Program Files\\Other\\keep.exe");
    p.files.AddFile(u"C:\\Windows\\System32\\kernel32.dll");
    p.files.AddFile(u"E:\\Work\\Shared\\data.db");
    p.files.protectedFolders.shell.push_back(u"E:\\Work\\Shared");
    const std::vector<std::u16string> dangerous{u"C:\\Program Files", u"C:\\", u"C:\\Windows\\System32",
                                                u"Program Files\\Veltramark", u"E:\\Work",
                                                u"C:\\Program Files\\Veltramark\\..\\.."};
    for (size_t i = 0; i < dangerous.size(); ++i) {
        const std::u16string name = u"Bad " + FromUtf8(std::to_string(i));
        p.installer.AddProduct(name);
        Row(name, dangerous[i]);
    }
    p.installer.AddProduct(u"Bad 0");  // a second product under the same bad entry
    const auto before = p.files.AllPaths();

    for (size_t i = 0; i < dangerous.size(); ++i) {
        form().CheckSoftwareInstall(u"Bad " + FromUtf8(std::to_string(i)));
    }

    std::vector<std::u16string> expected;
    expected.push_back(u"Failed to delete " + dangerous[0]);
    for (const auto& path : dangerous) expected.push_back(u"Failed to delete " + path);
    ExpectBoxes(expected);
    EXPECT_EQ(p.files.AllPaths(), before);
    EXPECT_TRUE(p.files.calls.empty());
    EXPECT_TRUE(p.installer.ProductNames().empty());
}

TEST_F(ProductUninstall, RaisedFailuresEndTheOperation) {
    const auto seed = [&](const std::u16string& name) {
        p.installer.AddProduct(name);
        p.installer.AddProduct(name);
        Row(name, u"D:\\" + name);
        p.files.AddFile(u"D:\\" + name + u"\\a.dat");
    };

    seed(u"Conn");
    p.management.failingMonikers.insert(kCimv2Moniker);
    EXPECT_THROW(form().CheckSoftwareInstall(u"Conn"), PlatformError);
    EXPECT_TRUE(p.installer.calls.empty());
    p.management.failingMonikers.clear();

    p.management.failQuery = true;
    EXPECT_THROW(form().CheckSoftwareInstall(u"Conn"), PlatformError);
    EXPECT_EQ(p.installer.calls, Strings{kQuery});
    p.management.failQuery = false;

    // An unreadable name of a later product: the earlier one stays uninstalled.
    seed(u"Named");
    p.installer.AddProduct(u"Unreadable");
    p.installer.unreadableNames.insert(u"Unreadable");
    EXPECT_THROW(form().CheckSoftwareInstall(u"Named"), PlatformError);
    EXPECT_EQ(p.installer.ProductNames(), (Names{u"Conn", u"Conn", u"Unreadable"}));
    EXPECT_FALSE(p.files.Exists(u"D:\\Named"));
    p.installer.unreadableNames.clear();

    seed(u"Raising");
    p.installer.raisingUninstalls.insert(u"Raising");
    EXPECT_THROW(form().CheckSoftwareInstall(u"Raising"), PlatformError);
    EXPECT_EQ(Count("installer: UnInstall Raising"), 1);
    EXPECT_TRUE(p.files.Exists(u"D:\\Raising\\a.dat"));
    p.installer.raisingUninstalls.clear();

    // The eraser's failure passes through: the second product is not taken.
    seed(u"Locked");
    p.files.SetInUse(u"D:\\Locked\\a.dat");
    EXPECT_THROW(form().CheckSoftwareInstall(u"Locked"), PlatformError);
    EXPECT_EQ(Count("installer: UnInstall Locked"), 1);

    seed(u"Guarded");
    p.files.onCall = FailNth("GetProtectedFolders", 1);
    EXPECT_THROW(form().CheckSoftwareInstall(u"Guarded"), PlatformError);
    EXPECT_TRUE(p.files.Exists(u"D:\\Guarded\\a.dat"));
    EXPECT_TRUE(p.shell.boxes.empty());
}

}  // namespace
}  // namespace clearstrand::removal_test
