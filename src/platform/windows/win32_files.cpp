#include "platform/windows/win32_files.h"

#include <windows.h>
#include <knownfolders.h>
#include <shlobj.h>

#include <algorithm>
#include <vector>

#include "platform/errors.h"
#include "platform/windows/com.h"
#include "platform/windows/wide_strings.h"

namespace clearstrand::win32 {

namespace {

constexpr std::wstring_view kExtendedPrefix = L"\\\\?\\";
constexpr std::wstring_view kExtendedUncPrefix = L"\\\\?\\UNC\\";

bool StartsWith(std::wstring_view text, std::wstring_view prefix) {
    return text.substr(0, prefix.size()) == prefix;
}

bool IsDriveRoot(std::wstring_view path) {
    return path.size() == 3 && path[1] == L':' && path[2] == L'\\';
}

// A full path that needs no resolving: "C:\X\Y" or "\\server\share\Y" with
// no "/", no empty, "." or ".." component. Subfolder paths that this service
// hands out are of this form, and resolving them again would trim a name's
// trailing dots and spaces or turn "con" into a device, so that such a
// folder could never be reached.
bool IsVerbatim(std::wstring_view path) {
    const bool letter = !path.empty() && ((path[0] >= L'A' && path[0] <= L'Z') || (path[0] >= L'a' && path[0] <= L'z'));
    const bool drive = letter && path.size() >= 3 && path[1] == L':' && path[2] == L'\\';
    const bool unc = StartsWith(path, L"\\\\") && !StartsWith(path, L"\\\\?\\") && !StartsWith(path, L"\\\\.\\");
    if ((!drive && !unc) || path.find(L'/') != std::wstring_view::npos) {
        return false;
    }
    std::wstring_view rest = path.substr(drive ? 3 : 2);
    while (!rest.empty() && rest.back() == L'\\') {
        rest.remove_suffix(1);
    }
    size_t components = 0;
    while (!rest.empty()) {
        const size_t end = std::min(rest.find(L'\\'), rest.size());
        const std::wstring_view name = rest.substr(0, end);
        if (name.empty() || name == L"." || name == L"..") {
            return false;
        }
        ++components;
        rest.remove_prefix(std::min(end + 1, rest.size()));
    }
    return drive || components >= 2;  // a share needs its server and name
}

// The ordinary full form: "C:\X\Y" or "\\server\share\Y", no trailing
// backslash except on a drive root. Relative paths, "/" and "." or ".."
// components are resolved as the system resolves them.
std::wstring FullPath(std::u16string_view path) {
    std::wstring full = ToWide(path);
    if (StartsWith(full, kExtendedUncPrefix)) {
        full = L"\\\\" + full.substr(kExtendedUncPrefix.size());
    } else if (StartsWith(full, kExtendedPrefix)) {
        full.erase(0, kExtendedPrefix.size());
    } else if (!IsVerbatim(full)) {
        std::vector<wchar_t> buffer(MAX_PATH);
        while (true) {
            const DWORD length = GetFullPathNameW(full.c_str(), static_cast<DWORD>(buffer.size()),
                                                  buffer.data(), nullptr);
            if (length == 0) {
                ThrowLastError(L"GetFullPathNameW(" + full + L")");
            }
            if (length < buffer.size()) {
                full.assign(buffer.data(), length);
                break;
            }
            buffer.resize(length);
        }
    }
    while (full.size() > 1 && full.back() == L'\\' && !IsDriveRoot(full)) {
        full.pop_back();
    }
    return full;
}

std::wstring Child(const std::wstring& parent, const wchar_t* name) {
    return parent.back() == L'\\' ? parent + name : parent + L'\\' + name;
}

// Read-only stops DeleteFileW and RemoveDirectoryW; a forced delete lifts it.
void ClearReadOnly(const std::wstring& extended, const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(extended.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_READONLY)) {
        return;
    }
    // Only these bits can be set; 0 would mean "leave unchanged".
    DWORD keep = attributes & (FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                               FILE_ATTRIBUTE_NOT_CONTENT_INDEXED | FILE_ATTRIBUTE_TEMPORARY |
                               FILE_ATTRIBUTE_OFFLINE);
    if (keep == 0) {
        keep = FILE_ATTRIBUTE_NORMAL;
    }
    if (!SetFileAttributesW(extended.c_str(), keep)) {
        ThrowLastError(L"SetFileAttributesW(" + path + L")");
    }
}

// Calls `visit` with every entry of the folder but "." and "..".
template <typename Visit>
void ForEachEntry(const std::wstring& folder, Visit visit) {
    const std::wstring pattern = ToExtendedPath(Child(folder, L"*"));
    WIN32_FIND_DATAW data;
    UniqueFindHandle find(FindFirstFileExW(pattern.c_str(), FindExInfoBasic, &data,
                                           FindExSearchNameMatch, nullptr, FIND_FIRST_EX_LARGE_FETCH));
    if (!find) {
        if (GetLastError() == ERROR_FILE_NOT_FOUND) {
            return;
        }
        ThrowLastError(L"FindFirstFileExW(" + folder + L")");
    }
    do {
        const std::wstring_view name = data.cFileName;
        if (name != L"." && name != L"..") {
            visit(data);
        }
    } while (FindNextFileW(find.get(), &data));
    if (GetLastError() != ERROR_NO_MORE_FILES) {
        ThrowLastError(L"FindNextFileW(" + folder + L")");
    }
}

class Win32File final : public File {
public:
    explicit Win32File(std::wstring path) : path_(std::move(path)) {}

    std::u16string Path() const override { return FromWide(path_); }

    void Delete(bool force) override {
        const std::wstring extended = ToExtendedPath(path_);
        if (force) {
            ClearReadOnly(extended, path_);
        }
        if (!DeleteFileW(extended.c_str())) {
            ThrowLastError(L"DeleteFileW(" + path_ + L")");
        }
    }

private:
    std::wstring path_;
};

class Win32Folder final : public Folder {
public:
    // A link (any directory that is a reparse point) is shown empty so that
    // nothing behind it is ever listed, and so never deleted.
    Win32Folder(std::wstring path, bool link) : path_(std::move(path)), link_(link) {}

    std::u16string Path() const override { return FromWide(path_); }

    std::vector<std::unique_ptr<File>> Files() override {
        std::vector<std::unique_ptr<File>> files;
        if (!link_) {
            ForEachEntry(path_, [&](const WIN32_FIND_DATAW& data) {
                if (!(data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
                    files.push_back(std::make_unique<Win32File>(Child(path_, data.cFileName)));
                }
            });
        }
        return files;
    }

    std::vector<std::unique_ptr<Folder>> SubFolders() override {
        std::vector<std::unique_ptr<Folder>> folders;
        if (!link_) {
            ForEachEntry(path_, [&](const WIN32_FIND_DATAW& data) {
                if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                    folders.push_back(std::make_unique<Win32Folder>(
                        Child(path_, data.cFileName),
                        (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0));
                }
            });
        }
        return folders;
    }

    // On a link RemoveDirectoryW removes the link itself, never its target.
    void Delete(bool force) override {
        const std::wstring extended = ToExtendedPath(path_);
        if (force) {
            ClearReadOnly(extended, path_);
        }
        if (!RemoveDirectoryW(extended.c_str())) {
            ThrowLastError(L"RemoveDirectoryW(" + path_ + L")");
        }
    }

private:
    std::wstring path_;
    bool link_;
};

DWORD Attributes(const std::wstring& full) {
    return GetFileAttributesW(ToExtendedPath(full).c_str());
}

bool IsFolder(DWORD attributes) {
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

class Win32FileSystem final : public FileSystem {
public:
    bool FolderExists(const std::u16string& path) override {
        return !path.empty() && IsFolder(Attributes(FullPath(path)));
    }

    std::unique_ptr<Folder> GetFolder(const std::u16string& path) override {
        const std::wstring full = path.empty() ? std::wstring() : FullPath(path);
        const DWORD attributes = full.empty() ? INVALID_FILE_ATTRIBUTES : Attributes(full);
        if (!IsFolder(attributes)) {
            ThrowError(ERROR_PATH_NOT_FOUND, L"GetFolder(" + ToWide(path) + L")");
        }
        return std::make_unique<Win32Folder>(full, (attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0);
    }
};

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    UniqueCoTaskString path;
    if (FAILED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, path.put())) || !path) {
        return {};
    }
    std::wstring text = path.get();
    while (!text.empty() && text.back() == L'\\') {
        text.pop_back();
    }
    return text;
}

class Win32FileService final : public FileService {
public:
    std::unique_ptr<FileSystem> CreateFileSystem() override {
        return std::make_unique<Win32FileSystem>();
    }

    ProtectedFolders GetProtectedFolders() override {
        ProtectedFolders folders;
        folders.windows = FromWide(KnownFolder(FOLDERID_Windows));
        for (REFKNOWNFOLDERID id :
             {FOLDERID_ProgramFiles, FOLDERID_ProgramFilesX86, FOLDERID_ProgramFilesCommon,
              FOLDERID_ProgramFilesCommonX86, FOLDERID_ProgramData, FOLDERID_UserProfiles,
              FOLDERID_Profile, FOLDERID_Desktop, FOLDERID_Documents}) {
            // A folder this machine lacks (no 32-bit view) is simply not listed.
            const std::wstring path = KnownFolder(id);
            if (!path.empty()) {
                folders.shell.push_back(FromWide(path));
            }
        }
        return folders;
    }
};

}  // namespace

std::wstring ToExtendedPath(std::wstring_view fullPath) {
    if (StartsWith(fullPath, kExtendedPrefix) || StartsWith(fullPath, L"\\\\.\\")) {
        return std::wstring(fullPath);
    }
    if (StartsWith(fullPath, L"\\\\")) {
        return std::wstring(kExtendedUncPrefix) + std::wstring(fullPath.substr(2));
    }
    if (fullPath.size() >= 3 && fullPath[1] == L':' && fullPath[2] == L'\\') {
        return std::wstring(kExtendedPrefix) + std::wstring(fullPath);
    }
    return std::wstring(fullPath);
}

std::unique_ptr<FileService> MakeWin32FileService() {
    return std::make_unique<Win32FileService>();
}

}  // namespace clearstrand::win32
