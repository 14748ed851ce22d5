#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace clearstrand {

// Hive handles as the registry provider takes them: signed 32-bit values.
inline constexpr int32_t kHiveLocalMachine = static_cast<int32_t>(0x80000002u);  // -2147483646
inline constexpr int32_t kHiveCurrentUser = static_cast<int32_t>(0x80000001u);   // -2147483647

// The registry provider StdRegProv. Paths are relative to the hive, components
// joined by a single backslash. Methods return the provider's result code
// (0 is success) and raise PlatformError only when the call itself fails.
class RegistryProvider {
public:
    virtual ~RegistryProvider() = default;

    // `names` receives the direct subkeys in the provider's order. A key that
    // has none or cannot be listed yields an empty list.
    virtual int32_t EnumKey(int32_t hive, const std::u16string& path,
                            std::vector<std::u16string>& names) = 0;
    // On success `value` receives the string; on any other code it is left as
    // it was.
    virtual int32_t GetStringValue(int32_t hive, const std::u16string& path,
                                   const std::u16string& valueName, std::u16string& value) = 0;
    // 0 when the key is gone.
    virtual int32_t DeleteKey(int32_t hive, const std::u16string& path) = 0;

    // A key may be a link to another key, in either hive. The three calls
    // above follow it: listing it lists what it leads to, and deleting it
    // deletes that. The two below judge the key at `path` itself, never
    // followed (the keys above it are); a key that is not there is no link.

    // What the key leads to when it is a link, as the user reads it
    // ("HKEY_CURRENT_USER\SOFTWARE\X"); nullopt for any other key.
    virtual std::optional<std::u16string> LinkTarget(int32_t hive, const std::u16string& path) = 0;
    // When the key is a link, deletes the link itself, never what it leads
    // to, judged and deleted through one handle: the result code, 0 when it
    // is gone. nullopt, having done nothing, for any other key.
    virtual std::optional<int32_t> DeleteLink(int32_t hive, const std::u16string& path) = 0;
};

// One object of the installed-product class.
class InstalledProduct {
public:
    virtual ~InstalledProduct() = default;

    virtual std::u16string Name() = 0;
    // Removes the product silently; 0 is success.
    virtual int32_t UnInstall() = 0;
};

using ProductCollection = std::vector<std::unique_ptr<InstalledProduct>>;

// The one query the program makes of a management namespace.
inline constexpr std::u16string_view kProductQuery = u"SELECT * FROM Win32_Product";

// A connection to a management namespace that answers queries.
class ManagementServices {
public:
    virtual ~ManagementServices() = default;

    // Only kProductQuery is served; other queries raise.
    virtual ProductCollection ExecQuery(const std::u16string& query) = 0;
};

// The monikers the program connects with, each its pieces joined; "." is the
// local machine. The registry provider is reached with an impersonation part
// to search and without one to delete; the installed products live in
// root\cimv2.
inline constexpr std::u16string_view kRegistryMoniker =
    u"winmgmts:" u"{impersonationLevel=Impersonate}!\\\\" u"." u"\\root\\default:StdRegProv";
inline constexpr std::u16string_view kRegistryDeleteMoniker = u"winmgmts:\\\\" u"." u"\\root\\default:StdRegProv";
inline constexpr std::u16string_view kProductsMoniker =
    u"winmgmts:" u"{impersonationLevel=impersonate}!\\\\" u"." u"\\root\\cimv2";

// Connecting by moniker. An unknown or malformed moniker, or a connection that
// cannot be made, raises PlatformError.
class ManagementService {
public:
    virtual ~ManagementService() = default;

    // A moniker naming root\default:StdRegProv.
    virtual std::unique_ptr<RegistryProvider> GetRegistryProvider(const std::u16string& moniker) = 0;
    // A moniker naming the root\cimv2 namespace.
    virtual std::unique_ptr<ManagementServices> GetServices(const std::u16string& moniker) = 0;
};

}  // namespace clearstrand
