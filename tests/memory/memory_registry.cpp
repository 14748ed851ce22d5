#include "memory/memory_registry.h"

#include <variant>

#include "memory/fold.h"
#include "platform/errors.h"

namespace clearstrand {

using memory_detail::Fold;
using memory_detail::SplitPath;

struct MemoryRegistry::Key {
    std::u16string name;
    // Keyed by the folded name, so iteration gives the case-insensitive order.
    std::map<std::u16string, std::unique_ptr<Key>> subkeys;
    std::map<std::u16string, std::pair<std::u16string, std::variant<std::u16string, uint32_t>>> values;
    std::optional<int32_t> deleteRefusal;
};

MemoryRegistry::MemoryRegistry() {
    hives_[kHiveLocalMachine] = std::make_unique<Key>();
    hives_[kHiveCurrentUser] = std::make_unique<Key>();
}

MemoryRegistry::~MemoryRegistry() = default;

MemoryRegistry::Key* MemoryRegistry::Find(int32_t hive, std::u16string_view path) const {
    auto h = hives_.find(hive);
    if (h == hives_.end()) return nullptr;
    Key* key = h->second.get();
    for (const auto& part : SplitPath(path)) {
        auto it = key->subkeys.find(Fold(part));
        if (part.empty() || it == key->subkeys.end()) return nullptr;
        key = it->second.get();
    }
    return key;
}

MemoryRegistry::Key& MemoryRegistry::Create(int32_t hive, std::u16string_view path) {
    auto& root = hives_[hive];
    if (!root) root = std::make_unique<Key>();
    Key* key = root.get();
    for (const auto& part : SplitPath(path)) {
        if (part.empty()) continue;
        auto& child = key->subkeys[Fold(part)];
        if (!child) {
            child = std::make_unique<Key>();
            child->name = part;
        }
        key = child.get();
    }
    return *key;
}

void MemoryRegistry::CreateKey(int32_t hive, std::u16string_view path) { Create(hive, path); }

void MemoryRegistry::SetString(int32_t hive, std::u16string_view path, std::u16string_view name,
                               std::u16string_view value) {
    Create(hive, path).values[Fold(name)] = {std::u16string(name), std::u16string(value)};
}

void MemoryRegistry::SetDword(int32_t hive, std::u16string_view path, std::u16string_view name,
                              uint32_t value) {
    Create(hive, path).values[Fold(name)] = {std::u16string(name), value};
}

bool MemoryRegistry::KeyExists(int32_t hive, std::u16string_view path) const {
    return Find(hive, path) != nullptr;
}

std::vector<std::u16string> MemoryRegistry::SubKeys(int32_t hive, std::u16string_view path) const {
    std::vector<std::u16string> names;
    if (const Key* key = Find(hive, path)) {
        for (const auto& [folded, child] : key->subkeys) names.push_back(child->name);
    }
    return names;
}

std::optional<std::u16string> MemoryRegistry::GetString(int32_t hive, std::u16string_view path,
                                                        std::u16string_view name) const {
    const Key* key = Find(hive, path);
    if (!key) return std::nullopt;
    auto it = key->values.find(Fold(name));
    if (it == key->values.end()) return std::nullopt;
    if (auto* text = std::get_if<std::u16string>(&it->second.second)) return *text;
    return std::nullopt;
}

void MemoryRegistry::DeleteTree(int32_t hive, std::u16string_view path) {
    auto parts = SplitPath(path);
    if (parts.empty()) return;
    const std::u16string last = parts.back();
    parts.pop_back();
    std::u16string parentPath;
    for (const auto& part : parts) parentPath += (parentPath.empty() ? u"" : u"\\") + part;
    if (Key* parent = Find(hive, parentPath)) parent->subkeys.erase(Fold(last));
}

void MemoryRegistry::SetDeleteRefused(int32_t hive, std::u16string_view path, int32_t code) {
    Create(hive, path).deleteRefusal = code;
}

void MemoryRegistry::Record(const std::string& call) {
    calls.push_back(call);
    if (log) log->Add("registry: " + call);
    if (onCall) onCall(call);
    if (failingCalls.count(call)) {
        throw PlatformError(static_cast<int32_t>(0x80041001u), u"Injected failure: " + FromUtf8(call));
    }
}

static std::string Call(const char* method, int32_t hive, const std::u16string& path) {
    return std::string(method) + " " + std::to_string(hive) + " " + ToUtf8(path);
}

int32_t MemoryRegistryProvider::EnumKey(int32_t hive, const std::u16string& path,
                                        std::vector<std::u16string>& names) {
    registry_.Record(Call("EnumKey", hive, path));
    names.clear();
    if (!registry_.Find(hive, path)) return kRegNotFound;
    names = registry_.SubKeys(hive, path);
    return 0;
}

int32_t MemoryRegistryProvider::GetStringValue(int32_t hive, const std::u16string& path,
                                               const std::u16string& valueName,
                                               std::u16string& value) {
    registry_.Record(Call("GetStringValue", hive, path) + " " + ToUtf8(valueName));
    const MemoryRegistry::Key* key = registry_.Find(hive, path);
    if (!key) return kRegNotFound;
    auto it = key->values.find(Fold(valueName));
    if (it == key->values.end()) return kRegNotFound;
    auto* text = std::get_if<std::u16string>(&it->second.second);
    if (!text) return kRegTypeMismatch;
    value = *text;
    return 0;
}

int32_t MemoryRegistryProvider::DeleteKey(int32_t hive, const std::u16string& path) {
    registry_.Record(Call("DeleteKey", hive, path));
    const MemoryRegistry::Key* key = registry_.Find(hive, path);
    if (!key) return kRegNotFound;
    if (SplitPath(path).empty()) return kRegAccessDenied;  // a hive itself
    if (key->deleteRefusal) return *key->deleteRefusal;
    if (!key->subkeys.empty() && !registry_.deleteKeyRemovesSubtree) return kRegAccessDenied;
    registry_.DeleteTree(hive, path);
    return 0;
}

}  // namespace clearstrand
