#include "wine_support.h"

#include <winioctl.h>

#include <cstring>
#include <stdexcept>
#include <vector>

#include "platform/errors.h"
#include "platform/windows/wide_strings.h"
#include "platform/windows/win32_files.h"

namespace clearstrand::wine_tests {

std::wstring ExeFolder() {
    wchar_t buffer[MAX_PATH];
    const std::wstring path(buffer, GetModuleFileNameW(nullptr, buffer, MAX_PATH));
    return path.substr(0, path.find_last_of(L'\\'));
}

DWORD RunAndWait(const std::wstring& commandLine) {
    std::wstring command = commandLine;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    CheckBool(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info),
              L"CreateProcessW(" + commandLine + L")");
    const win32::UniqueKernelHandle process(info.hProcess);
    const win32::UniqueKernelHandle thread(info.hThread);
    WaitForSingleObject(process.get(), INFINITE);
    DWORD code = 0;
    CheckBool(GetExitCodeProcess(process.get(), &code), L"GetExitCodeProcess");
    return code;
}

bool UnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll != nullptr && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::string Narrow(const std::wstring& text) { return ToUtf8(win32::FromWide(text)); }

void Check(LSTATUS code, const std::wstring& what) {
    if (code != ERROR_SUCCESS) throw std::runtime_error(Narrow(what) + " failed: " + std::to_string(code));
}

void CheckBool(BOOL ok, const std::wstring& what) {
    if (!ok) {
        const DWORD error = GetLastError();
        Check(static_cast<LSTATUS>(error != ERROR_SUCCESS ? error : ERROR_GEN_FAILURE), what);
    }
}

// ---- Disk ----------------------------------------------------------------------

std::wstring Extended(const std::wstring& path) { return win32::ToExtendedPath(path); }

void MakeFolder(const std::wstring& path) {
    // Component by component after the drive, so that long paths work too.
    for (size_t at = path.find(L'\\', 3);; at = path.find(L'\\', at + 1)) {
        const std::wstring part = Extended(path.substr(0, at));
        CheckBool(CreateDirectoryW(part.c_str(), nullptr) || GetLastError() == ERROR_ALREADY_EXISTS,
                  L"CreateDirectoryW(" + part + L")");
        if (at == std::wstring::npos) break;
    }
}

void MakeFile(const std::wstring& path, const std::string& content, DWORD attributes) {
    MakeFolder(path.substr(0, path.rfind(L'\\')));
    const win32::UniqueFileHandle file(
        CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, attributes, nullptr));
    CheckBool(static_cast<bool>(file), L"CreateFileW(" + path + L")");
    DWORD written = 0;
    CheckBool(WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr),
              L"WriteFile(" + path + L")");
}

bool Exists(const std::wstring& path) { return GetFileAttributesW(Extended(path).c_str()) != INVALID_FILE_ATTRIBUTES; }

void RemoveTree(const std::wstring& path) {
    const std::wstring extended = Extended(path);
    const DWORD attributes = GetFileAttributesW(extended.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(extended.c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(extended.c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        std::vector<std::wstring> names;
        WIN32_FIND_DATAW data;
        if (const win32::UniqueFindHandle find(FindFirstFileW((extended + L"\\*").c_str(), &data)); find) {
            do {
                const std::wstring name = data.cFileName;
                if (name != L"." && name != L"..") names.push_back(name);
            } while (FindNextFileW(find.get(), &data));
        }
        for (const auto& name : names) RemoveTree(path + L"\\" + name);
    }
    RemoveDirectoryW(extended.c_str());
}

namespace {

// The layout of a mount-point reparse buffer.
struct MountPointReparse {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
    wchar_t paths[1024];
};

bool MakeJunction(const std::wstring& link, const std::wstring& target) {
    MakeFolder(link);
    const win32::UniqueFileHandle folder(CreateFileW(Extended(link).c_str(), GENERIC_WRITE, 0, nullptr,
                                                     OPEN_EXISTING,
                                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                                     nullptr));
    if (!folder) return false;
    const std::wstring substitute = L"\\??\\" + target;
    MountPointReparse buffer{};
    buffer.tag = IO_REPARSE_TAG_MOUNT_POINT;
    buffer.substituteLength = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    buffer.printOffset = static_cast<WORD>((substitute.size() + 1) * sizeof(wchar_t));
    buffer.printLength = static_cast<WORD>(target.size() * sizeof(wchar_t));
    std::memcpy(buffer.paths, substitute.c_str(), (substitute.size() + 1) * sizeof(wchar_t));
    std::memcpy(buffer.paths + substitute.size() + 1, target.c_str(), (target.size() + 1) * sizeof(wchar_t));
    buffer.dataLength = static_cast<WORD>(4 * sizeof(WORD) + (substitute.size() + target.size() + 2) * sizeof(wchar_t));
    DWORD returned = 0;
    return DeviceIoControl(folder.get(), FSCTL_SET_REPARSE_POINT, &buffer, buffer.dataLength + 8u, nullptr, 0,
                           &returned, nullptr) != FALSE;
}

bool IsLink(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(Extended(path).c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

bool MakeFolderLink(const std::wstring& link, const std::wstring& target) {
    if (MakeJunction(link, target) && IsLink(link)) return true;
    RemoveDirectoryW(Extended(link).c_str());
    constexpr DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY | kUnprivileged) &&
        IsLink(link)) {
        return true;
    }
    // Whatever a half-made link left is removed without being entered.
    if (Exists(link) && !IsLink(link)) RemoveDirectoryW(Extended(link).c_str());
    return false;
}

// ---- Registry --------------------------------------------------------------------

win32::UniqueHkey MakeRegistryKey(HKEY hive, const std::wstring& path, REGSAM view) {
    win32::UniqueHkey key;
    Check(RegCreateKeyExW(hive, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | view, nullptr, key.put(), nullptr),
          L"RegCreateKeyExW(" + path + L")");
    return key;
}

void SetRegistryString(HKEY hive, const std::wstring& path, const std::wstring& name, const std::wstring& value,
                       REGSAM view) {
    Check(RegSetValueExW(MakeRegistryKey(hive, path, view).get(), name.c_str(), 0, REG_SZ,
                         reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t))),
          L"RegSetValueExW(" + path + L"\\" + name + L")");
}

bool RegistryKeyExists(HKEY hive, const std::wstring& path, REGSAM view) {
    win32::UniqueHkey key;
    return RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ | view, key.put()) == ERROR_SUCCESS;
}

void RemoveRegistryTree(HKEY hive, const std::wstring& path, REGSAM view) {
    {
        win32::UniqueHkey key;
        if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_ALL_ACCESS | view, key.put()) != ERROR_SUCCESS) return;
        RegDeleteTreeW(key.get(), nullptr);
    }
    RegDeleteKeyExW(hive, path.c_str(), view, 0);
}

}  // namespace clearstrand::wine_tests
