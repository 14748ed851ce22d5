#include "platform/windows/wmi_management.h"

#include "platform/errors.h"
#include "platform/windows/handles.h"
#include "platform/windows/win32_errors.h"
#include "platform/windows/msi_products.h"
#include "platform/windows/wide_strings.h"
#include "platform/windows/wmi_registry.h"

namespace clearstrand::win32 {

namespace {

// Removes `prefix` from the front of `text` if it is there, whatever its case.
bool ConsumeNoCase(std::wstring_view& text, std::wstring_view prefix) {
    if (text.size() < prefix.size() || !SameText(text.substr(0, prefix.size()), prefix)) {
        return false;
    }
    text.remove_prefix(prefix.size());
    return true;
}

[[noreturn]] void ThrowBadMoniker() { ThrowError(static_cast<uint32_t>(MK_E_SYNTAX)); }

class WmiManagementService final : public ManagementService {
public:
    std::unique_ptr<RegistryProvider> GetRegistryProvider(const std::u16string& moniker) override {
        const auto parsed = ParseWmiMoniker(moniker);
        if (!parsed || !SameText(parsed->nameSpace, L"root\\default") || !SameText(parsed->className, L"StdRegProv")) {
            ThrowBadMoniker();
        }
        // Every call connects anew; only the class definition is shared.
        return ConnectStdRegProv(parsed->nameSpace, parsed->impersonationLevel, schema_);
    }

    // Win32_Product is served by the installer itself: the WMI class checks
    // every package's consistency on each enumeration, and Wine has no such
    // class at all.
    std::unique_ptr<ManagementServices> GetServices(const std::u16string& moniker) override {
        const auto parsed = ParseWmiMoniker(moniker);
        if (!parsed || !SameText(parsed->nameSpace, L"root\\cimv2") ||
            !parsed->className.empty()) {
            ThrowBadMoniker();
        }
        return MakeInstallerProducts();
    }

private:
    std::shared_ptr<StdRegProvSchema> schema_ = MakeStdRegProvSchema();
};

}  // namespace

std::optional<WmiMoniker> ParseWmiMoniker(std::u16string_view moniker) {
    const std::wstring wide = ToWide(moniker);
    std::wstring_view rest = wide;
    if (!ConsumeNoCase(rest, L"winmgmts:")) {
        return std::nullopt;
    }
    // Without a security part WMI impersonates, as if it were given.
    WmiMoniker result{L"", L"", RPC_C_IMP_LEVEL_IMPERSONATE};
    if (ConsumeNoCase(rest, L"{")) {
        if (!ConsumeNoCase(rest, L"impersonationLevel=") || !ConsumeNoCase(rest, L"impersonate") ||
            !ConsumeNoCase(rest, L"}!")) {
            return std::nullopt;
        }
    }
    if (!ConsumeNoCase(rest, L"\\\\.\\")) {
        return std::nullopt;
    }
    const size_t colon = rest.find(L':');
    result.nameSpace = std::wstring(rest.substr(0, colon));
    if (colon != std::wstring_view::npos) {
        result.className = std::wstring(rest.substr(colon + 1));
        if (result.className.empty()) {
            return std::nullopt;
        }
    }
    if (result.nameSpace.empty() || result.nameSpace.back() == L'\\' ||
        result.nameSpace.find(L"\\\\") != std::wstring::npos) {
        return std::nullopt;
    }
    return result;
}

std::unique_ptr<ManagementService> MakeWmiManagementService() {
    return std::make_unique<WmiManagementService>();
}

}  // namespace clearstrand::win32
