#include "contract/registry_contract.h"

#include "memory/memory_installer.h"
#include "memory/memory_registry.h"

namespace clearstrand::contract {
namespace {

struct MemoryRegistryTraits {
    static constexpr bool kHasRegistryViews = false;

    MemoryRegistryTraits() {
        registry.CreateKey(kHiveLocalMachine, Root());
        registry.CreateKey(kHiveCurrentUser, Root());
    }

    ManagementService& Service() { return service; }
    std::u16string Root() { return u"SOFTWARE\\ClearstrandTest\\1"; }
    void CreateKey(int32_t hive, const std::u16string& path) { registry.CreateKey(hive, path); }
    void SetString(int32_t hive, const std::u16string& path, const std::u16string& name,
                   const std::u16string& value) {
        registry.SetString(hive, path, name, value);
    }
    void SetDword(int32_t hive, const std::u16string& path, const std::u16string& name, uint32_t value) {
        registry.SetDword(hive, path, name, value);
    }
    bool KeyExists(int32_t hive, const std::u16string& path) { return registry.KeyExists(hive, path); }
    void CreateKeyIn64BitView(const std::u16string&) {}
    static const char* Gap(RegistryGap) { return nullptr; }

    MemoryRegistry registry;
    MemoryInstaller installer;
    MemoryManagementService service{registry, installer};
};

INSTANTIATE_TYPED_TEST_SUITE_P(Memory, RegistryContract, MemoryRegistryTraits);

}  // namespace
}  // namespace clearstrand::contract
