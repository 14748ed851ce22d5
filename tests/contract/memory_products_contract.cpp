#include "contract/products_contract.h"

#include "memory/memory_installer.h"
#include "memory/memory_registry.h"

namespace clearstrand::contract {
namespace {

struct MemoryProductTraits {
    ManagementService& Service() { return service; }
    static std::vector<std::u16string> TestProducts() {
        return {u"Tracemill 13 Test", u"Veltramark 2005 Test"};
    }
    void Install(const std::u16string& name) { installer.AddProduct(name); }
    bool LeftOnMachine(const std::u16string& name) {
        const auto names = installer.ProductNames();
        return std::find(names.begin(), names.end(), name) != names.end();
    }

    MemoryRegistry registry;
    MemoryInstaller installer;
    MemoryManagementService service{registry, installer};
};

INSTANTIATE_TYPED_TEST_SUITE_P(Memory, ProductsContract, MemoryProductTraits);

}  // namespace
}  // namespace clearstrand::contract
