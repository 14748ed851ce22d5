// What the contract suites cannot ask of the in-memory platform: the set-up
// knobs the core tests lean on, and the records they read.

#include <gtest/gtest.h>

#include "memory/memory_controls.h"
#include "platform/errors.h"

namespace clearstrand {
namespace {

using Names = std::vector<std::u16string>;
constexpr int32_t HKLM = kHiveLocalMachine;

TEST(MemoryRegistry, CaseInsensitiveNamesRefusalsAndInjectedFailures) {
    MemoryRegistry reg;
    MemoryRegistryProvider provider(reg);
    reg.CreateKey(HKLM, u"SOFTWARE\\zeta");
    reg.CreateKey(HKLM, u"SOFTWARE\\Alpha\\Inner");
    reg.CreateKey(HKLM, u"software\\BETA");
    reg.SetString(HKLM, u"Software\\ALPHA", u"Name", u"v");
    Names names;
    EXPECT_EQ(provider.EnumKey(HKLM, u"SOFTWARE", names), 0);
    EXPECT_EQ(names, (Names{u"Alpha", u"BETA", u"zeta"}));
    std::u16string value;
    EXPECT_EQ(provider.GetStringValue(HKLM, u"software\\alpha", u"NAME", value), 0);
    EXPECT_EQ(value, u"v");

    reg.SetDeleteRefused(HKLM, u"software\\zeta", kRegAccessDenied);
    EXPECT_EQ(provider.DeleteKey(HKLM, u"SOFTWARE\\Zeta"), kRegAccessDenied);
    EXPECT_EQ(provider.DeleteKey(HKLM, u"SOFTWARE\\Alpha"), kRegAccessDenied);  // has a subkey
    reg.deleteKeyRemovesSubtree = true;
    EXPECT_EQ(provider.DeleteKey(HKLM, u"SOFTWARE\\Alpha"), 0);
    EXPECT_FALSE(reg.KeyExists(HKLM, u"SOFTWARE\\Alpha\\Inner"));
    reg.FailCall("DeleteKey -2147483646 SOFTWARE\\beta");
    EXPECT_THROW(provider.DeleteKey(HKLM, u"SOFTWARE\\beta"), PlatformError);
    EXPECT_TRUE(reg.KeyExists(HKLM, u"SOFTWARE\\BETA"));
    EXPECT_EQ(reg.calls.front(), "EnumKey -2147483646 SOFTWARE");
    EXPECT_EQ(reg.calls.size(), 6u);
}

TEST(MemoryInstaller, EachProductIsItsOwnAndOnlySuccessCodesRemoveIt) {
    MemoryRegistry reg;
    MemoryInstaller installer;
    MemoryManagementService service(reg, installer);
    installer.AddProduct(u"A");
    installer.AddProduct(u"B", 1603);
    installer.AddProduct(u"C", 3010);
    installer.AddProduct(u"A");
    auto products = service.GetServices(kCimv2Moniker)->ExecQuery(u"SELECT * FROM Win32_Product");
    ASSERT_EQ(products.size(), 4u);
    EXPECT_EQ(products[0]->UnInstall(), 0);
    EXPECT_EQ(products[1]->UnInstall(), 1603);
    EXPECT_EQ(products[2]->UnInstall(), 3010);
    EXPECT_EQ(installer.ProductNames(), (Names{u"B", u"A"}));
}

TEST(MemoryFiles, InUseFilesAndCallRecord) {
    MemoryFileService files;
    files.AddFile(u"C:\\App\\a.txt");
    files.AddFile(u"C:\\App\\Sub\\busy.dll");
    files.SetInUse(u"C:\\App\\Sub\\busy.dll");
    auto fs = files.CreateFileSystem();
    EXPECT_TRUE(fs->FolderExists(u"c:\\app\\SUB"));
    auto sub = fs->GetFolder(u"C:\\App\\Sub");
    EXPECT_THROW(sub->Files()[0]->Delete(true), PlatformError);
    EXPECT_EQ(files.AllPaths(), (Names{u"C:", u"C:\\App", u"C:\\App\\Sub", u"C:\\App\\Sub\\busy.dll",
                                       u"C:\\App\\a.txt"}));
    EXPECT_EQ(files.calls, (std::vector<std::string>{"FolderExists c:\\app\\SUB", "GetFolder C:\\App\\Sub",
                                                     "DeleteFile C:\\App\\Sub\\busy.dll"}));
}

}  // namespace
}  // namespace clearstrand
