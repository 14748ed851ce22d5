#pragma once

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "memory/event_log.h"
#include "memory/memory_registry.h"
#include "platform/management.h"

namespace clearstrand {

inline constexpr int32_t kUninstallUnknownProduct = 1605;  // ERROR_UNKNOWN_PRODUCT

// The platform installer's product list, in install order.
class MemoryInstaller {
public:
    // A product whose UnInstall returns 0, 3010 or 1641 (success, with or
    // without a restart) leaves the list.
    void AddProduct(std::u16string name, int32_t uninstallCode = 0);
    std::vector<std::u16string> ProductNames() const;

    // UnInstall of a product of this name raises instead of returning a code.
    std::set<std::u16string> raisingUninstalls;
    // Reading Name of a product of this name raises.
    std::set<std::u16string> unreadableNames;

    // "ExecQuery SELECT * FROM Win32_Product", "UnInstall <name>", in order.
    std::vector<std::string> calls;
    // When set, calls are also added here, prefixed "installer: ".
    EventLog* log = nullptr;

    struct Product {
        int id;
        std::u16string name;
        int32_t uninstallCode;
    };

    // For the product objects of a query snapshot.
    void Record(const std::string& call);
    const Product* Find(int id) const;
    // `name` is the name the query saw, for the log.
    int32_t UnInstall(int id, const std::u16string& name);
    const std::vector<Product>& Products() const { return products_; }

private:
    std::vector<Product> products_;
    int nextId_ = 1;
};

// The management service: the registry provider over a MemoryRegistry and
// the installed products of a MemoryInstaller. Only the monikers the program
// is meant to use connect; any other raises PlatformError.
class MemoryManagementService : public ManagementService {
public:
    MemoryManagementService(MemoryRegistry& registry, MemoryInstaller& installer)
        : registry_(registry), installer_(installer) {}

    std::unique_ptr<RegistryProvider> GetRegistryProvider(const std::u16string& moniker) override;
    std::unique_ptr<ManagementServices> GetServices(const std::u16string& moniker) override;

    // Every moniker asked for, in order, including refused ones.
    std::vector<std::u16string> monikers;
    // Connecting with one of these raises PlatformError, as an unreachable
    // service would.
    std::set<std::u16string> failingMonikers;
    // ExecQuery raises PlatformError.
    bool failQuery = false;

private:
    MemoryRegistry& registry_;
    MemoryInstaller& installer_;
};

inline constexpr char16_t kRegistryMonikerImpersonate[] =
    u"winmgmts:{impersonationLevel=Impersonate}!\\\\.\\root\\default:StdRegProv";
inline constexpr char16_t kRegistryMonikerPlain[] = u"winmgmts:\\\\.\\root\\default:StdRegProv";
inline constexpr char16_t kCimv2Moniker[] = u"winmgmts:{impersonationLevel=impersonate}!\\\\.\\root\\cimv2";

}  // namespace clearstrand
