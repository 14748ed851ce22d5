#include "memory/memory_installer.h"

#include <algorithm>

#include "platform/errors.h"

namespace clearstrand {

namespace {

constexpr int32_t kWbemFailed = static_cast<int32_t>(0x80041001u);       // WBEM_E_FAILED
constexpr int32_t kWbemInvalidQuery = static_cast<int32_t>(0x80041017u); // WBEM_E_INVALID_QUERY
constexpr int32_t kInvalidSyntax = static_cast<int32_t>(0x800401E4u);    // MK_E_SYNTAX

bool Succeeded(int32_t code) { return code == 0 || code == 3010 || code == 1641; }

class MemoryProduct : public InstalledProduct {
public:
    MemoryProduct(MemoryInstaller& installer, int id, std::u16string name)
        : installer_(installer), id_(id), name_(std::move(name)) {}

    std::u16string Name() override {
        if (installer_.unreadableNames.count(name_)) {
            throw PlatformError(kWbemFailed, u"Name cannot be read");
        }
        return name_;
    }

    int32_t UnInstall() override { return installer_.UnInstall(id_, name_); }

private:
    MemoryInstaller& installer_;
    int id_;
    std::u16string name_;  // as the query saw it
};

class MemoryServices : public ManagementServices {
public:
    MemoryServices(MemoryInstaller& installer, bool fail) : installer_(installer), fail_(fail) {}

    ProductCollection ExecQuery(const std::u16string& query) override {
        installer_.Record("ExecQuery " + ToUtf8(query));
        if (fail_) throw PlatformError(kWbemFailed, u"Query failed");
        if (query != u"SELECT * FROM Win32_Product") {
            throw PlatformError(kWbemInvalidQuery, u"Invalid query: " + query);
        }
        ProductCollection result;
        for (const auto& p : installer_.Products()) {
            result.push_back(std::make_unique<MemoryProduct>(installer_, p.id, p.name));
        }
        return result;
    }

private:
    MemoryInstaller& installer_;
    bool fail_;
};

}  // namespace

void MemoryInstaller::AddProduct(std::u16string name, int32_t uninstallCode) {
    products_.push_back({nextId_++, std::move(name), uninstallCode});
}

std::vector<std::u16string> MemoryInstaller::ProductNames() const {
    std::vector<std::u16string> names;
    for (const auto& p : products_) names.push_back(p.name);
    return names;
}

void MemoryInstaller::Record(const std::string& call) {
    calls.push_back(call);
    if (log) log->Add("installer: " + call);
}

const MemoryInstaller::Product* MemoryInstaller::Find(int id) const {
    for (const auto& p : products_) {
        if (p.id == id) return &p;
    }
    return nullptr;
}

int32_t MemoryInstaller::UnInstall(int id, const std::u16string& name) {
    const Product* product = Find(id);
    Record("UnInstall " + ToUtf8(name));
    if (!product) return kUninstallUnknownProduct;
    if (raisingUninstalls.count(product->name)) {
        throw PlatformError(kWbemFailed, u"UnInstall failed: " + product->name);
    }
    const int32_t code = product->uninstallCode;
    if (Succeeded(code)) {
        products_.erase(std::remove_if(products_.begin(), products_.end(),
                                       [id](const Product& p) { return p.id == id; }),
                        products_.end());
    }
    return code;
}

std::unique_ptr<RegistryProvider> MemoryManagementService::GetRegistryProvider(
    const std::u16string& moniker) {
    monikers.push_back(moniker);
    if (failingMonikers.count(moniker)) {
        throw PlatformError(kWbemFailed, u"Cannot connect: " + moniker);
    }
    if (moniker != kRegistryMonikerImpersonate && moniker != kRegistryMonikerPlain) {
        throw PlatformError(kInvalidSyntax, u"Not a registry provider moniker: " + moniker);
    }
    return std::make_unique<MemoryRegistryProvider>(registry_);
}

std::unique_ptr<ManagementServices> MemoryManagementService::GetServices(
    const std::u16string& moniker) {
    monikers.push_back(moniker);
    if (failingMonikers.count(moniker)) {
        throw PlatformError(kWbemFailed, u"Cannot connect: " + moniker);
    }
    if (moniker != kCimv2Moniker) {
        throw PlatformError(kInvalidSyntax, u"Not a root\\cimv2 moniker: " + moniker);
    }
    return std::make_unique<MemoryServices>(installer_, failQuery);
}

}  // namespace clearstrand
