#include "contract/files_contract.h"

#include "memory/memory_files.h"

namespace clearstrand::contract {
namespace {

struct MemoryFileTraits {
    MemoryFileTraits() { service.AddFolder(Root()); }

    FileService& Service() { return service; }
    std::u16string Root() { return u"C:\\ClearstrandTest\\1"; }
    void AddFolder(const std::u16string& path) { service.AddFolder(path); }
    // The memory file system has no hidden attribute: hidden files list like any other.
    void AddFile(const std::u16string& path, bool readOnly, bool) { service.AddFile(path, readOnly); }
    void HoldOpen(const std::u16string& path) { service.SetInUse(path); }
    bool AddLink(const std::u16string& link, const std::u16string& target) {
        service.AddLink(link, target);
        return true;
    }
    static const char* WhyNoLinks() { return nullptr; }
    bool Exists(const std::u16string& path) { return service.Exists(path); }

    MemoryFileService service;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Memory, FilesContract, MemoryFileTraits);

}  // namespace
}  // namespace clearstrand::contract
