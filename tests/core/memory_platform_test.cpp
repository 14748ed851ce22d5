#include <gtest/gtest.h>

#include "memory/memory_controls.h"
#include "platform/errors.h"

namespace clearstrand {
namespace {

using Names = std::vector<std::u16string>;
constexpr int32_t HKLM = kHiveLocalMachine;

TEST(MemoryRegistry, NamesAreFoundInAnyCaseAndListedSortedWithTheirOwnCase) {
    MemoryRegistry reg;
    MemoryRegistryProvider provider(reg);
    reg.CreateKey(HKLM, u"SOFTWARE\\zeta");
    reg.CreateKey(HKLM, u"SOFTWARE\\Alpha\\Inner");
    reg.CreateKey(HKLM, u"software\\BETA");
    reg.SetString(HKLM, u"Software\\ALPHA", u"Name", u"v");
    Names names{u"stale"};
    EXPECT_EQ(provider.EnumKey(HKLM, u"SOFTWARE", names), 0);
    EXPECT_EQ(names, (Names{u"Alpha", u"BETA", u"zeta"}));
    std::u16string value;
    EXPECT_EQ(provider.GetStringValue(HKLM, u"software\\alpha", u"NAME", value), 0);
    EXPECT_EQ(value, u"v");
    EXPECT_FALSE(reg.KeyExists(kHiveCurrentUser, u"SOFTWARE"));
    EXPECT_EQ(reg.calls, (std::vector<std::string>{"EnumKey -2147483646 SOFTWARE",
                                                   "GetStringValue -2147483646 software\\alpha NAME"}));
}

TEST(MemoryRegistry, FailedReadsReturnCodesAndLeaveTheOutputsAlone) {
    MemoryRegistry reg;
    MemoryRegistryProvider provider(reg);
    reg.SetDword(HKLM, u"K", u"Number", 7);
    std::u16string value = u"kept";
    EXPECT_NE(provider.GetStringValue(HKLM, u"K", u"Number", value), 0);
    EXPECT_NE(provider.GetStringValue(HKLM, u"K", u"Missing", value), 0);
    EXPECT_NE(provider.GetStringValue(HKLM, u"Nowhere", u"Number", value), 0);
    EXPECT_EQ(value, u"kept");
    Names names{u"stale"};
    EXPECT_EQ(provider.EnumKey(HKLM, u"Nowhere", names), 2);
    EXPECT_TRUE(names.empty());
    EXPECT_EQ(provider.EnumKey(HKLM, u"K", names), 0);  // a key without subkeys
    EXPECT_TRUE(names.empty());
}

TEST(MemoryRegistry, DeleteKeyRefusesKeysWithSubkeysAndRefusedKeys) {
    MemoryRegistry reg;
    MemoryRegistryProvider provider(reg);
    reg.CreateKey(HKLM, u"A\\B\\C");
    reg.CreateKey(HKLM, u"R");
    reg.SetDeleteRefused(HKLM, u"r", 5);
    EXPECT_EQ(provider.DeleteKey(HKLM, u"A"), 5);
    EXPECT_EQ(provider.DeleteKey(HKLM, u"A\\B\\C"), 0);
    EXPECT_EQ(provider.DeleteKey(HKLM, u"A\\B\\C"), 2);
    EXPECT_EQ(provider.DeleteKey(HKLM, u"R"), 5);
    EXPECT_TRUE(reg.KeyExists(HKLM, u"R"));
    EXPECT_EQ(reg.SubKeys(HKLM, u"A"), (Names{u"B"}));
    reg.deleteKeyRemovesSubtree = true;
    EXPECT_EQ(provider.DeleteKey(HKLM, u"A"), 0);
    EXPECT_FALSE(reg.KeyExists(HKLM, u"A\\B"));

    reg.CreateKey(HKLM, u"X");
    reg.FailCall("DeleteKey -2147483646 X");
    EXPECT_THROW(provider.DeleteKey(HKLM, u"X"), PlatformError);
    EXPECT_TRUE(reg.KeyExists(HKLM, u"X"));
}

TEST(MemoryManagement, OnlyTheProgramsMonikersConnect) {
    MemoryRegistry reg;
    MemoryInstaller installer;
    MemoryManagementService service(reg, installer);
    EXPECT_NE(service.GetRegistryProvider(kRegistryMonikerImpersonate), nullptr);
    EXPECT_NE(service.GetRegistryProvider(kRegistryMonikerPlain), nullptr);
    EXPECT_NE(service.GetServices(kCimv2Moniker), nullptr);
    EXPECT_THROW(service.GetRegistryProvider(kCimv2Moniker), PlatformError);
    EXPECT_THROW(service.GetServices(u"winmgmts:{impersonationLevel=Impersonate}!\\\\.\\root\\cimv2"),
                 PlatformError);
    EXPECT_THROW(service.GetRegistryProvider(u"winmgmts:\\.\\root\\default:StdRegProv"), PlatformError);
    EXPECT_EQ(service.monikers.size(), 6u);
    EXPECT_THROW(service.GetServices(kCimv2Moniker)->ExecQuery(u"SELECT Name FROM Win32_Product"),
                 PlatformError);
}

TEST(MemoryManagement, SuccessfulUninstallsRemoveProductsFromLaterQueries) {
    MemoryRegistry reg;
    MemoryInstaller installer;
    MemoryManagementService service(reg, installer);
    installer.AddProduct(u"A");
    installer.AddProduct(u"B", 1603);
    installer.AddProduct(u"C", 3010);
    installer.AddProduct(u"A");
    auto products = service.GetServices(kCimv2Moniker)->ExecQuery(u"SELECT * FROM Win32_Product");
    ASSERT_EQ(products.size(), 4u);
    EXPECT_EQ(products[3]->Name(), u"A");
    EXPECT_EQ(products[0]->UnInstall(), 0);
    EXPECT_EQ(products[1]->UnInstall(), 1603);
    EXPECT_EQ(products[2]->UnInstall(), 3010);
    EXPECT_EQ(installer.ProductNames(), (Names{u"B", u"A"}));
    EXPECT_NE(products[0]->UnInstall(), 0);  // already gone
    EXPECT_EQ(installer.calls, (std::vector<std::string>{"ExecQuery SELECT * FROM Win32_Product",
                                                         "UnInstall A", "UnInstall B", "UnInstall C",
                                                         "UnInstall A"}));
}

TEST(MemoryFiles, DeletionRulesAndLinks) {
    MemoryFileService files;
    files.AddFile(u"C:\\App\\a.txt");
    files.AddFile(u"C:\\App\\ro.txt", true);
    files.AddFile(u"C:\\App\\Sub\\busy.dll");
    files.SetInUse(u"C:\\App\\Sub\\busy.dll");
    files.AddFile(u"C:\\Data\\keep.txt");
    files.AddLink(u"C:\\App\\Link", u"C:\\Data");
    auto fs = files.CreateFileSystem();
    EXPECT_TRUE(fs->FolderExists(u"c:\\app\\LINK"));
    EXPECT_FALSE(fs->FolderExists(u"C:\\App\\a.txt"));
    EXPECT_THROW(fs->GetFolder(u"C:\\Missing"), PlatformError);

    auto app = fs->GetFolder(u"c:\\APP");
    EXPECT_EQ(app->Path(), u"C:\\App");
    auto appFiles = app->Files();
    ASSERT_EQ(appFiles.size(), 2u);
    EXPECT_THROW(appFiles[1]->Delete(false), PlatformError);  // read-only
    appFiles[1]->Delete(true);
    EXPECT_THROW(app->Delete(true), PlatformError);  // not empty
    auto subs = app->SubFolders();
    ASSERT_EQ(subs.size(), 2u);
    EXPECT_EQ(subs[0]->Path(), u"C:\\App\\Link");
    EXPECT_TRUE(subs[0]->Files().empty());
    EXPECT_TRUE(subs[0]->SubFolders().empty());
    subs[0]->Delete(true);
    EXPECT_THROW(subs[1]->Files()[0]->Delete(true), PlatformError);  // in use

    EXPECT_EQ(files.AllPaths(),
              (Names{u"C:", u"C:\\App", u"C:\\App\\Sub", u"C:\\App\\Sub\\busy.dll", u"C:\\App\\a.txt",
                     u"C:\\Data", u"C:\\Data\\keep.txt"}));
    EXPECT_EQ(files.calls.front(), "FolderExists c:\\app\\LINK");
    EXPECT_EQ(files.calls.back(), "DeleteFile C:\\App\\Sub\\busy.dll");
}

TEST(MemoryControls, StatusBarStartsWithOnePanelAndTheShellRecords) {
    EventLog log;
    MemoryStatusBar bar(log);
    EXPECT_EQ(bar.Count(), 1);
    bar.Add().SetText(u"x");
    EXPECT_THROW(bar.Item(3), PlatformError);
    MemoryShell shell(log);
    EXPECT_EQ(shell.MsgBox(u"Failed to delete X", kMsgBoxOkOnly, std::nullopt), kMsgBoxResultOk);
    shell.ReportError(u"boom");
    EXPECT_EQ(log.events, (std::vector<std::string>{"StatusBar1.Panels.Add", "status=x",
                                                    "MsgBox Failed to delete X", "Error boom"}));
    EXPECT_FALSE(shell.boxes[0].title.has_value());
}

}  // namespace
}  // namespace clearstrand
