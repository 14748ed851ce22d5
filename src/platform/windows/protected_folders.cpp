#include "platform/windows/protected_folders.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>
#include <shobjidl.h>

#include <optional>
#include <string>
#include <vector>

#include "platform/windows/buffers.h"
#include "platform/windows/com_values.h"
#include "platform/windows/handles.h"
#include "platform/windows/win32_errors.h"
#include "platform/windows/wide_strings.h"

namespace clearstrand::win32 {

namespace {

// A known folder's path for the current user; empty when it has none here.
std::u16string PathOf(REFKNOWNFOLDERID id) {
    UniqueCoTaskString path;
    if (FAILED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, path.put())) || !path) return {};
    return FromWide(path.get());
}

// Every folder the shell knows by an id, not a list written here: about half
// of them give no path on a given machine, and they are not folders there.
std::vector<std::u16string> KnownFolders() {
    ComInit com;
    ComPtr<IKnownFolderManager> manager;
    ThrowIfFailed(CoCreateInstance(CLSID_KnownFolderManager, nullptr, CLSCTX_INPROC_SERVER, IID_PPV_ARGS(&manager)));
    KNOWNFOLDERID* ids = nullptr;
    UINT count = 0;
    ThrowIfFailed(manager->GetFolderIds(&ids, &count));
    const UniqueHandle<KNOWNFOLDERID*, CoTaskMemCloserOf<KNOWNFOLDERID>> owner(ids);
    std::vector<std::u16string> folders;
    for (UINT i = 0; i < count; ++i) {
        ComPtr<IKnownFolder> folder;
        UniqueCoTaskString path;
        if (SUCCEEDED(manager->GetFolder(ids[i], &folder)) && SUCCEEDED(folder->GetPath(KF_FLAG_DEFAULT, path.put())) &&
            path && *path.get()) {
            folders.push_back(FromWide(path.get()));
        }
    }
    return folders;
}

// A string's environment variables, expanded.
std::wstring Expanded(const std::wstring& text) {
    std::vector<wchar_t> buffer(text.size() + MAX_PATH);
    DWORD length = 0;
    GrowUntilItFits(buffer, [&](std::vector<wchar_t>& b) {  // with its null, done or not
        return length = ExpandEnvironmentStringsW(text.c_str(), b.data(), static_cast<DWORD>(b.size()));
    });
    if (length == 0) ThrowLastError();
    return std::wstring(buffer.data(), length - 1);
}

// A path value, its variables expanded if it is an expandable string;
// nullopt when the key or the value is not there. Asked for either type
// and not to expand: Windows before 8, and Wine, refuse to expand here.
std::optional<std::u16string> ReadPath(HKEY key, const wchar_t* subKey, const wchar_t* name) {
    std::vector<wchar_t> value(MAX_PATH);
    DWORD type = 0;
    LSTATUS status = ERROR_SUCCESS;
    GrowUntilItFits(value, [&](std::vector<wchar_t>& b) -> size_t {
        DWORD bytes = static_cast<DWORD>(b.size() * sizeof(wchar_t));
        status = RegGetValueW(key, subKey, name, RRF_RT_REG_SZ | RRF_RT_REG_EXPAND_SZ | RRF_NOEXPAND, &type, b.data(), &bytes);
        return status == ERROR_MORE_DATA ? bytes / sizeof(wchar_t) + 1 : 0;
    });
    if (status == ERROR_FILE_NOT_FOUND) return std::nullopt;
    if (status != ERROR_SUCCESS) ThrowError(static_cast<uint32_t>(status));
    const std::wstring text(value.data(), wcsnlen(value.data(), value.size()));
    return FromWide(type == REG_EXPAND_SZ ? Expanded(text) : text);
}

}  // namespace

ProtectedFolders ReadProtectedFolders() {
    ProtectedFolders folders;
    folders.windows = PathOf(FOLDERID_Windows);
    folders.shell = KnownFolders();
    folders.profile = PathOf(FOLDERID_Profile);

    // Every profile the machine lists, whoever's, and the folder holding them.
    UniqueRegKey list;
    const LSTATUS opened = RegOpenKeyExW(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList",
                                         0, KEY_READ | KEY_WOW64_64KEY, list.put());
    if (opened != ERROR_SUCCESS) ThrowError(static_cast<uint32_t>(opened));
    if (auto root = ReadPath(list.get(), nullptr, L"ProfilesDirectory")) folders.shell.push_back(*root);
    for (const wchar_t* shared : {L"Default", L"Public"}) {
        if (auto profile = ReadPath(list.get(), nullptr, shared)) folders.profiles.push_back(*profile);
    }
    // Key names are at most 255 characters.
    wchar_t sid[256];
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        const LSTATUS listed = RegEnumKeyExW(list.get(), i, sid, &length, nullptr, nullptr, nullptr, nullptr);
        if (listed == ERROR_NO_MORE_ITEMS) break;
        if (listed != ERROR_SUCCESS) ThrowError(static_cast<uint32_t>(listed));
        if (auto profile = ReadPath(list.get(), sid, L"ProfileImagePath")) folders.profiles.push_back(*profile);
    }
    return folders;
}

}  // namespace clearstrand::win32
