#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

#include "contract/products_contract.h"
#include "platform/windows/com.h"
#include "platform/windows/wide_strings.h"
#include "platform/windows/wmi_management.h"
#include "wine_support.h"

namespace clearstrand::contract {
namespace {

using win32::FromWide;
using win32::ToWide;
using win32::UniqueHkey;

// The packages the build makes next to this exe: "Tracemill 13 Test" is
// tracemill-13-test.msi, installing into Program Files (x86)\<name>.
std::wstring PackageFor(const std::u16string& name) {
    std::wstring file = ToWide(name);
    std::transform(file.begin(), file.end(), file.begin(),
                   [](wchar_t c) { return c == L' ' ? L'-' : static_cast<wchar_t>(towlower(c)); });
    return wine_tests::ExeFolder() + L"\\" + file + L".msi";
}

std::wstring ProgramFilesX86() {
    win32::UniqueCoTaskString path;
    if (FAILED(SHGetKnownFolderPath(FOLDERID_ProgramFilesX86, 0, nullptr, path.put()))) {
        return L"C:\\Program Files (x86)";
    }
    return path.get();
}

// An uninstall entry whose DisplayName is `name`, in either registry view.
bool HasUninstallEntry(const std::u16string& name) {
    for (REGSAM view : {KEY_WOW64_32KEY, KEY_WOW64_64KEY}) {
        UniqueHkey root;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall", 0,
                          KEY_READ | view, root.put()) != ERROR_SUCCESS) {
            continue;
        }
        wchar_t entry[256];
        for (DWORD i = 0;; ++i) {
            DWORD length = 256;
            if (RegEnumKeyExW(root.get(), i, entry, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) {
                break;
            }
            wchar_t display[512] = {};
            DWORD size = sizeof display - sizeof(wchar_t);
            if (RegGetValueW(root.get(), entry, L"DisplayName", RRF_RT_REG_SZ, nullptr, display, &size) ==
                    ERROR_SUCCESS &&
                FromWide(display) == name) {
                return true;
            }
        }
    }
    return false;
}

struct InstallerProductTraits {
    ~InstallerProductTraits() {
        for (const auto& name : installed_) {
            if (LeftOnMachine(name)) {
                wine_tests::RunAndWait(L"msiexec /x \"" + PackageFor(name) + L"\" /qn");
            }
        }
    }

    ManagementService& Service() { return *service_; }
    static std::vector<std::u16string> TestProducts() { return {u"Tracemill 13 Test", u"Veltramark 2005 Test"}; }

    void Install(const std::u16string& name) {
        installed_.insert(name);
        const DWORD code = wine_tests::RunAndWait(L"msiexec /i \"" + PackageFor(name) + L"\" /qn");
        if (code != 0) {
            throw std::runtime_error("msiexec /i " + ToUtf8(name) + " exited with " + std::to_string(code));
        }
    }

    bool LeftOnMachine(const std::u16string& name) {
        const DWORD folder = GetFileAttributesW((ProgramFilesX86() + L"\\" + ToWide(name)).c_str());
        return folder != INVALID_FILE_ATTRIBUTES || HasUninstallEntry(name);
    }

private:
    std::unique_ptr<ManagementService> service_ = win32::MakeWmiManagementService();
    std::set<std::u16string> installed_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Installer, ProductsContract, InstallerProductTraits);

// Beyond the one query the core sends, the product class takes its query in
// any letter case and spacing, as WMI would.
TEST(InstallerProducts, QueryKeywordsInAnyCase) {
    auto services = win32::MakeWmiManagementService()->GetServices(kCimv2);
    EXPECT_NO_THROW(services->ExecQuery(u"select * from win32_product"));
    EXPECT_NO_THROW(services->ExecQuery(u"  SELECT   *\tFROM Win32_Product "));
    EXPECT_THROW(services->ExecQuery(u"SELECT * FROM Win32_Products"), PlatformError);
}

}  // namespace
}  // namespace clearstrand::contract
