#include "platform/windows/msi_products.h"

#include <windows.h>
#include <msi.h>
#include <wbemcli.h>

#include <cwctype>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/windows/buffers.h"
#include "platform/windows/keep_answering.h"
#include "platform/windows/system_library.h"
#include "platform/windows/win32_errors.h"
#include "platform/windows/wide_strings.h"

namespace clearstrand::win32 {

namespace {

// Any run of blanks is one blank; keywords and class names are compared
// without letter case.
std::wstring NormaliseQuery(std::u16string_view query) {
    std::wstring out;
    bool blank = false;
    for (char16_t c : query) {
        const wchar_t w = static_cast<wchar_t>(c);
        if (std::iswspace(w)) {
            blank = !out.empty();
            continue;
        }
        if (blank) {
            out += L' ';
            blank = false;
        }
        out += w;
    }
    return out;
}

// The installer's library, loaded from the system folder on first use and
// kept while anything from it lives.
struct Installer {
    Installer() {
        library.Get(enumProductsEx, "MsiEnumProductsExW");
        library.Get(getProductInfoEx, "MsiGetProductInfoExW");
        library.Get(configureProductEx, "MsiConfigureProductExW");
        library.Get(setInternalUi, "MsiSetInternalUI");
        library.Get(setExternalUi, "MsiSetExternalUIW");
    }

    SystemLibrary library{L"msi.dll"};
    decltype(&MsiEnumProductsExW) enumProductsEx = nullptr;
    decltype(&MsiGetProductInfoExW) getProductInfoEx = nullptr;
    decltype(&MsiConfigureProductExW) configureProductEx = nullptr;
    decltype(&MsiSetInternalUI) setInternalUi = nullptr;
    decltype(&MsiSetExternalUIW) setExternalUi = nullptr;
};

std::shared_ptr<const Installer> LoadInstaller() {
    static std::weak_ptr<const Installer> loaded;
    auto installer = loaded.lock();
    if (!installer) loaded = installer = std::make_shared<const Installer>();
    return installer;
}

// A product as the installer registered it: its code and where it lives.
struct ProductKey {
    std::wstring code;
    MSIINSTALLCONTEXT context;
    std::wstring userSid;  // empty for per-machine products
};

// A product's property, whatever its length.
UINT ReadProductInfo(const Installer& installer, const ProductKey& key, const wchar_t* property, std::wstring& value) {
    const wchar_t* sid = key.userSid.empty() ? nullptr : key.userSid.c_str();
    std::vector<wchar_t> buffer(128);
    DWORD size = 0;
    UINT code = ERROR_SUCCESS;
    GrowUntilItFits(buffer, [&](std::vector<wchar_t>& b) -> size_t {
        size = static_cast<DWORD>(b.size());
        code = installer.getProductInfoEx(key.code.c_str(), sid, key.context, property, b.data(), &size);
        return code == ERROR_MORE_DATA ? size + 1 : 0;  // the size it needs, without its null
    });
    if (code == ERROR_SUCCESS) value.assign(buffer.data(), size);
    return code;
}

// The installer shows nothing while it uninstalls, and its frequent progress
// messages let the window answer meanwhile; both settings are restored when
// the uninstall returns.
class SilentInstallerUi {
public:
    explicit SilentInstallerUi(const Installer& installer)
        : installer_(installer),
          previousLevel_(installer.setInternalUi(INSTALLUILEVEL_NONE, nullptr)),
          previousHandler_(installer.setExternalUi(&Answer, kProgress, nullptr)) {}
    ~SilentInstallerUi() {
        // The program sets no other handler: the previous one is none.
        installer_.setExternalUi(previousHandler_, 0, nullptr);
        installer_.setInternalUi(previousLevel_, nullptr);
    }
    SilentInstallerUi(const SilentInstallerUi&) = delete;
    SilentInstallerUi& operator=(const SilentInstallerUi&) = delete;

private:
    // Messages that ask nothing of the user.
    static constexpr DWORD kProgress = INSTALLLOGMODE_ACTIONSTART | INSTALLLOGMODE_ACTIONDATA | INSTALLLOGMODE_PROGRESS;

    // 0: nothing was shown, the installer goes on as without a handler.
    // Called by the installer: nothing may unwind into it.
    static INT CALLBACK Answer(LPVOID, UINT, LPCWSTR) noexcept {
        KeepAnswering();
        return 0;
    }

    const Installer& installer_;
    INSTALLUILEVEL previousLevel_;
    INSTALLUI_HANDLERW previousHandler_;
};

class MsiProduct final : public InstalledProduct {
public:
    MsiProduct(std::shared_ptr<const Installer> installer, ProductKey key, std::u16string name)
        : installer_(std::move(installer)), key_(std::move(key)), name_(std::move(name)) {}

    std::u16string Name() override { return name_; }

    // The installer's code goes back unchanged, 3010 and 1641 (restart needed)
    // included: the caller decides what counts as removed.
    int32_t UnInstall() override {
        const SilentInstallerUi silent(*installer_);
        // A restart is never started from here; the code says whether one is due.
        const UINT code = installer_->configureProductEx(key_.code.c_str(), INSTALLLEVEL_DEFAULT,
                                                         INSTALLSTATE_ABSENT, L"REBOOT=ReallySuppress");
        return static_cast<int32_t>(code);
    }

private:
    std::shared_ptr<const Installer> installer_;
    ProductKey key_;
    std::u16string name_;  // as the query saw it
};

class InstallerProducts final : public ManagementServices {
public:
    ProductCollection ExecQuery(const std::u16string& query) override {
        if (!SameText(NormaliseQuery(query), NormaliseQuery(kProductQuery))) {
            ThrowError(static_cast<uint32_t>(WBEM_E_INVALID_QUERY));
        }
        ProductCollection products;
        for (const ProductKey& key : EnumerateProducts()) {
            std::wstring name;
            // A product whose name cannot be read stays in the list, nameless,
            // as the class shows it: a nameless product matches nothing.
            ReadProductInfo(*installer_, key, INSTALLPROPERTY_PRODUCTNAME, name);
            products.push_back(std::make_unique<MsiProduct>(installer_, key, FromWide(name)));
        }
        return products;
    }

private:
    std::vector<ProductKey> EnumerateProducts() const {
        // "s-1-1-0" (everyone) with the per-user contexts lists every user's
        // products; the machine context needs no SID of its own.
        constexpr DWORD contexts =
            MSIINSTALLCONTEXT_USERMANAGED | MSIINSTALLCONTEXT_USERUNMANAGED | MSIINSTALLCONTEXT_MACHINE;
        std::vector<ProductKey> keys;
        for (DWORD index = 0;; ++index) {
            wchar_t code[39] = {};
            MSIINSTALLCONTEXT context = MSIINSTALLCONTEXT_NONE;
            std::vector<wchar_t> sid(128);
            DWORD sidSize = 0;
            UINT result = ERROR_SUCCESS;
            GrowUntilItFits(sid, [&](std::vector<wchar_t>& b) -> size_t {
                sidSize = static_cast<DWORD>(b.size());
                result = installer_->enumProductsEx(nullptr, L"s-1-1-0", contexts, index, code, &context, b.data(), &sidSize);
                return result == ERROR_MORE_DATA ? sidSize + 1 : 0;
            });
            if (result == ERROR_NO_MORE_ITEMS) {
                break;
            }
            ThrowIfInstallerError(result);
            keys.push_back({code, context,
                            context == MSIINSTALLCONTEXT_MACHINE ? std::wstring()
                                                                 : std::wstring(sid.data(), sidSize)});
        }
        return keys;
    }

    std::shared_ptr<const Installer> installer_ = LoadInstaller();
};

}  // namespace

std::unique_ptr<ManagementServices> MakeInstallerProducts() {
    return std::make_unique<InstallerProducts>();
}

}  // namespace clearstrand::win32
