#include "platform/windows/registry_links.h"

#include <windows.h>
#include <winternl.h>

#include <cstring>
#include <string_view>
#include <vector>

#include "platform/management.h"
#include "platform/windows/handles.h"
#include "platform/windows/buffers.h"
#include "platform/windows/win32_errors.h"
#include "platform/windows/wide_strings.h"

// The native calls no Win32 function makes: every Reg*Key* call follows a
// link, NtDeleteKey deletes the key its handle holds. The headers declare
// neither.
extern "C" NTSTATUS NTAPI NtDeleteKey(HANDLE key);
extern "C" NTSTATUS NTAPI NtQueryKey(HANDLE key, int infoClass, void* info, ULONG length, ULONG* needed);

namespace clearstrand::win32 {

namespace {

constexpr int kKeyNameInformation = 3;  // KEY_INFORMATION_CLASS

// The key itself, a link included, rather than what it leads to. Wine opens
// a path in the 32-bit view many times slower than one below an open key
// without naming the view: a path below SOFTWARE is opened from the hive's
// SOFTWARE, held open while the program runs.
LSTATUS OpenUnfollowed(int32_t hive, const std::u16string& path, REGSAM access, UniqueRegKey& key) {
    if (hive != kHiveLocalMachine && hive != kHiveCurrentUser) ThrowError(ERROR_INVALID_PARAMETER);
    const bool machine = hive == kHiveLocalMachine;
    const HKEY root = machine ? HKEY_LOCAL_MACHINE : HKEY_CURRENT_USER;
    const REGSAM view = machine ? KEY_WOW64_32KEY : 0;
    static const auto software = [](HKEY hiveRoot, REGSAM hiveView) {
        UniqueRegKey opened;
        RegOpenKeyExW(hiveRoot, L"SOFTWARE", 0, KEY_READ | hiveView, opened.put());
        return opened;
    };
    static const UniqueRegKey machineSoftware = software(HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY);
    static const UniqueRegKey userSoftware = software(HKEY_CURRENT_USER, 0);
    const HKEY below = machine ? machineSoftware.get() : userSoftware.get();
    const std::wstring wide = ToWide(path);
    constexpr std::wstring_view kSoftware = L"SOFTWARE\\";
    if (below && wide.size() > kSoftware.size() && SameText(std::wstring_view(wide).substr(0, kSoftware.size()), kSoftware)) {
        // Below it the view is settled: asking again costs as much as from the hive.
        return RegOpenKeyExW(below, wide.c_str() + kSoftware.size(), REG_OPTION_OPEN_LINK, access, key.put());
    }
    return RegOpenKeyExW(root, wide.c_str(), REG_OPTION_OPEN_LINK, access | view, key.put());
}

// A link holds the native path of what it leads to in this value; nullopt
// when the key holds none, as every other key.
std::optional<std::wstring> LinkValue(HKEY key) {
    std::vector<wchar_t> buffer(256);
    DWORD type = 0;
    DWORD size = 0;
    LSTATUS status = ERROR_SUCCESS;
    GrowUntilItFits(buffer, [&](std::vector<wchar_t>& b) -> size_t {
        size = static_cast<DWORD>(b.size() * sizeof(wchar_t));
        status = RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, reinterpret_cast<BYTE*>(b.data()), &size);
        return status == ERROR_MORE_DATA ? size / sizeof(wchar_t) + 1 : 0;
    });
    if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
    if (status != ERROR_SUCCESS) ThrowError(static_cast<uint32_t>(status));
    if (type != REG_LINK) return std::nullopt;
    std::wstring target(buffer.data(), size / sizeof(wchar_t));  // no terminating null of its own
    while (!target.empty() && target.back() == L'\0') target.pop_back();
    return target;
}

// The native name of this user's hive, "\REGISTRY\USER\<SID>"; empty when
// it cannot be had, and the hive is then shown among all users'.
std::wstring CurrentUserName() {
    UniqueRegKey user;
    if (RegOpenCurrentUser(KEY_READ, user.put()) != ERROR_SUCCESS) return {};
    alignas(ULONG) BYTE info[1024];
    ULONG needed = 0;
    if (NtQueryKey(user.get(), kKeyNameInformation, info, sizeof(info), &needed) != 0) return {};
    ULONG bytes = 0;  // KEY_NAME_INFORMATION: the length, then the name
    memcpy(&bytes, info, sizeof(bytes));
    return std::wstring(reinterpret_cast<const wchar_t*>(info + sizeof(ULONG)), bytes / sizeof(wchar_t));
}

// Replaces a native hive name at the front of `path` with the user's name for it.
bool Rename(std::wstring& path, std::wstring_view native, std::wstring_view shown) {
    const bool at = !native.empty() && path.size() >= native.size() &&
                    (path.size() == native.size() || path[native.size()] == L'\\') &&
                    SameText(std::wstring_view(path).substr(0, native.size()), native);
    if (at) path.replace(0, native.size(), shown);
    return at;
}

}  // namespace

std::optional<std::u16string> RegistryLinkTarget(int32_t hive, const std::u16string& path) {
    UniqueRegKey key;
    const LSTATUS status = OpenUnfollowed(hive, path, KEY_QUERY_VALUE, key);
    if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
    if (status != ERROR_SUCCESS) ThrowError(static_cast<uint32_t>(status));
    std::optional<std::wstring> target = LinkValue(key.get());
    if (!target) return std::nullopt;
    Rename(*target, CurrentUserName(), L"HKEY_CURRENT_USER") || Rename(*target, L"\\REGISTRY\\MACHINE", L"HKEY_LOCAL_MACHINE") ||
        Rename(*target, L"\\REGISTRY\\USER", L"HKEY_USERS");
    return FromWide(*target);
}

std::optional<int32_t> DeleteRegistryLink(int32_t hive, const std::u16string& path) {
    UniqueRegKey key;
    LSTATUS status = OpenUnfollowed(hive, path, KEY_QUERY_VALUE | DELETE, key);
    // A key that may not be deleted is still judged: a link then fails to go
    // as any key would, an ordinary key is left to the provider as before.
    if (status == ERROR_ACCESS_DENIED) status = OpenUnfollowed(hive, path, KEY_QUERY_VALUE, key);
    if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
    if (status != ERROR_SUCCESS) ThrowError(static_cast<uint32_t>(status));
    if (!LinkValue(key.get())) return std::nullopt;
    return static_cast<int32_t>(RtlNtStatusToDosError(NtDeleteKey(key.get())));
}

}  // namespace clearstrand::win32
