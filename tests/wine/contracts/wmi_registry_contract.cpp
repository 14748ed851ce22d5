#include <windows.h>

#include <string>

#include "contract/registry_contract.h"
#include "platform/windows/wide_strings.h"
#include "platform/windows/wmi_management.h"
#include "wine_support.h"

namespace clearstrand::contract {
namespace {

using namespace wine_tests;
using win32::FromWide;
using win32::ToWide;

HKEY HiveKey(int32_t hive) { return hive == kHiveLocalMachine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER; }

// Seeds keys with the registry API itself, in the view the provider must read.
struct WmiRegistryTraits {
    static constexpr bool kHasRegistryViews = true;

    WmiRegistryTraits() {
        static int next = 0;
        root_ = u"SOFTWARE\\ClearstrandTest\\" + FromWide(std::to_wstring(GetCurrentProcessId())) + u"-" +
                FromWide(std::to_wstring(++next));
        CreateKey(kHiveLocalMachine, root_);
        CreateKey(kHiveCurrentUser, root_);
    }

    ~WmiRegistryTraits() {
        for (int32_t hive : {kHiveLocalMachine, kHiveCurrentUser}) {
            for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
                RemoveRegistryTree(HiveKey(hive), ToWide(root_), view);
                // The shared parent goes once the last test's key is gone.
                RegDeleteKeyExW(HiveKey(hive), L"SOFTWARE\\ClearstrandTest", view, 0);
            }
        }
    }

    static const char* Gap(RegistryGap gap) {
        if (!UnderWine()) return nullptr;
        switch (gap) {
        case RegistryGap::LeafEnumKeyCode:
            return "todo_wine: StdRegProv.EnumKey returns 259 (no more items) for a key without subkeys";
        case RegistryGap::UpperCaseOrder:
            return "todo_wine: the registry sorts names by their lower-case form, so '_' comes before letters";
        }
        return nullptr;
    }

    ManagementService& Service() { return *service_; }
    std::u16string Root() { return root_; }

    void CreateKey(int32_t hive, const std::u16string& path) { MakeRegistryKey(HiveKey(hive), ToWide(path)); }
    void CreateKeyIn64BitView(const std::u16string& path) {
        MakeRegistryKey(HKEY_LOCAL_MACHINE, ToWide(path), KEY_WOW64_64KEY);
    }
    void SetString(int32_t hive, const std::u16string& path, const std::u16string& name,
                   const std::u16string& value) {
        SetRegistryString(HiveKey(hive), ToWide(path), ToWide(name), ToWide(value));
    }
    void SetDword(int32_t hive, const std::u16string& path, const std::u16string& name, uint32_t value) {
        const DWORD data = value;
        Check(RegSetValueExW(MakeRegistryKey(HiveKey(hive), ToWide(path)).get(), ToWide(name).c_str(), 0, REG_DWORD,
                             reinterpret_cast<const BYTE*>(&data), sizeof data),
              L"RegSetValueExW");
    }
    bool KeyExists(int32_t hive, const std::u16string& path) { return RegistryKeyExists(HiveKey(hive), ToWide(path)); }

private:
    std::unique_ptr<ManagementService> service_ = win32::MakeWmiManagementService();
    std::u16string root_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Wmi, RegistryContract, WmiRegistryTraits);

// Monikers are read the way WMI reads them: keywords and names in any case.
TEST(WmiMoniker, ReadsNamespaceClassAndImpersonation) {
    auto full = win32::ParseWmiMoniker(u"WinMgmts:{ImpersonationLevel=IMPERSONATE}!\\\\.\\ROOT\\default:stdregprov");
    ASSERT_TRUE(full.has_value());
    EXPECT_EQ(full->nameSpace, L"ROOT\\default");
    EXPECT_EQ(full->className, L"stdregprov");
    EXPECT_EQ(full->impersonationLevel, static_cast<DWORD>(RPC_C_IMP_LEVEL_IMPERSONATE));

    auto plain = win32::ParseWmiMoniker(u"winmgmts:\\\\.\\root\\cimv2");
    ASSERT_TRUE(plain.has_value());
    EXPECT_EQ(plain->nameSpace, L"root\\cimv2");
    EXPECT_EQ(plain->className, L"");
    EXPECT_EQ(plain->impersonationLevel, static_cast<DWORD>(RPC_C_IMP_LEVEL_IMPERSONATE));

    for (const char16_t* bad : {u"winmgmts:", u"winmgmts:\\\\.\\", u"winmgmts:\\\\.\\root\\", u"winmgmts:\\\\.\\root:",
                                u"winmgmts:{impersonationLevel=impersonate}\\\\.\\root", u"winmgmts:{}!\\\\.\\root",
                                u"winmgmts:{impersonationLevel=Identify}!\\\\.\\root", u"winmgmts:\\\\.\\root\\\\x",
                                u"winmgmt:\\\\.\\root"}) {
        SCOPED_TRACE(ToUtf8(bad));
        EXPECT_FALSE(win32::ParseWmiMoniker(bad).has_value());
    }
    // Case variants connect for real, as they do through WMI.
    auto service = win32::MakeWmiManagementService();
    EXPECT_NE(service->GetRegistryProvider(u"WINMGMTS:{impersonationLevel=impersonate}!\\\\.\\Root\\Default:StdRegProv"),
              nullptr);
    EXPECT_NE(service->GetServices(u"winmgmts:\\\\.\\root\\cimv2"), nullptr);
}

// A raised failure names the call and carries the system's text.
TEST(WmiFailures, DescribeTheCallAndTheSystemsText) {
    try {
        win32::ThrowIfFailed(E_ACCESSDENIED, L"IWbemServices::ExecMethod");
        FAIL() << "no failure raised";
    } catch (const PlatformError& error) {
        EXPECT_EQ(error.code(), static_cast<int32_t>(E_ACCESSDENIED));
        const std::string text = error.what();
        EXPECT_EQ(text.rfind("IWbemServices::ExecMethod failed: ", 0), 0u) << text;
        EXPECT_NE(text.find("(0x80070005)"), std::string::npos) << text;
        EXPECT_GT(text.size(), std::string("IWbemServices::ExecMethod failed:  (0x80070005)").size()) << text;
    }
    try {
        win32::ThrowIfInstallerError(ERROR_UNKNOWN_PRODUCT, L"MsiConfigureProductExW");
        FAIL() << "no failure raised";
    } catch (const PlatformError& error) {
        EXPECT_EQ(error.code(), 1605);
        EXPECT_NE(std::string(error.what()).find("(0x00000645)"), std::string::npos) << error.what();
    }
    EXPECT_NO_THROW(win32::ThrowIfFailed(S_FALSE, L"anything"));
}

}  // namespace
}  // namespace clearstrand::contract
