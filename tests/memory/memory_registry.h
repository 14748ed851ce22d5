#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <string_view>
#include <vector>

#include "memory/event_log.h"
#include "platform/management.h"

namespace clearstrand {

// Codes the in-memory provider returns as StdRegProv does.
inline constexpr int32_t kRegNotFound = 2;       // ERROR_FILE_NOT_FOUND
inline constexpr int32_t kRegAccessDenied = 5;   // ERROR_ACCESS_DENIED: also a key with subkeys
inline constexpr int32_t kRegTypeMismatch = static_cast<int32_t>(0x80041005u);  // WBEM_E_TYPE_MISMATCH

// Both hives in memory. Names are looked up case-insensitively but kept and
// listed with their own case; subkeys are listed sorted case-insensitively.
class MemoryRegistry {
public:
    MemoryRegistry();
    ~MemoryRegistry();
    MemoryRegistry(const MemoryRegistry&) = delete;
    MemoryRegistry& operator=(const MemoryRegistry&) = delete;

    // Set-up and inspection; none of these is logged.
    void CreateKey(int32_t hive, std::u16string_view path);
    void SetString(int32_t hive, std::u16string_view path, std::u16string_view name,
                   std::u16string_view value);
    void SetDword(int32_t hive, std::u16string_view path, std::u16string_view name, uint32_t value);
    bool KeyExists(int32_t hive, std::u16string_view path) const;
    std::vector<std::u16string> SubKeys(int32_t hive, std::u16string_view path) const;
    std::optional<std::u16string> GetString(int32_t hive, std::u16string_view path,
                                            std::u16string_view name) const;
    void DeleteTree(int32_t hive, std::u16string_view path);
    // DeleteKey on that key returns `code` and leaves it in place.
    void SetDeleteRefused(int32_t hive, std::u16string_view path, int32_t code);
    // The provider call whose log line equals `call` raises PlatformError
    // instead of returning, e.g. "GetStringValue -2147483646 SOFTWARE\X DisplayName".
    void FailCall(std::string call) { failingCalls.insert(std::move(call)); }

    // StdRegProv's DeleteKey refuses a key that has subkeys unless this is set.
    bool deleteKeyRemovesSubtree = false;

    // Every provider call, in order, e.g. "EnumKey -2147483646 SOFTWARE".
    std::vector<std::string> calls;
    std::set<std::string> failingCalls;
    // Sees every provider call after it is logged and may raise, e.g. to fail
    // only the n-th call of a kind.
    std::function<void(const std::string&)> onCall;
    // When set, provider calls are also added here, prefixed "registry: ".
    EventLog* log = nullptr;

    struct Key;

private:
    friend class MemoryRegistryProvider;

    Key* Find(int32_t hive, std::u16string_view path) const;
    Key& Create(int32_t hive, std::u16string_view path);
    // Logs the call, then raises if the test asked it to fail.
    void Record(const std::string& call);

    std::map<int32_t, std::unique_ptr<Key>> hives_;
};

// StdRegProv over a MemoryRegistry.
class MemoryRegistryProvider : public RegistryProvider {
public:
    explicit MemoryRegistryProvider(MemoryRegistry& registry) : registry_(registry) {}

    int32_t EnumKey(int32_t hive, const std::u16string& path,
                    std::vector<std::u16string>& names) override;
    int32_t GetStringValue(int32_t hive, const std::u16string& path,
                           const std::u16string& valueName, std::u16string& value) override;
    int32_t DeleteKey(int32_t hive, const std::u16string& path) override;

private:
    MemoryRegistry& registry_;
};

}  // namespace clearstrand
