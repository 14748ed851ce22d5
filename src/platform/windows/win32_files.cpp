#include "platform/windows/win32_files.h"

#include <windows.h>

#include <cstddef>
#include <optional>
#include <vector>

#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/windows/handles.h"
#include "platform/windows/keep_answering.h"
#include "platform/windows/protected_folders.h"
#include "platform/windows/win32_errors.h"
#include "platform/windows/wide_strings.h"

namespace clearstrand::win32 {

namespace {

// An entry opened where it is: a link itself rather than what it leads to,
// as far as the platform allows (Wine opens through a Unix symbolic link).
UniqueFileHandle Open(const std::wstring& path, DWORD access) {
    return UniqueFileHandle(CreateFileW(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                        nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                        nullptr));
}

std::u16string Shown(const std::wstring& path) { return paths::Shown(FromWide(path)); }

// The path of what a handle reaches, in its "\\?\" form. Wine gives none
// past 260 characters, whatever the buffer.
std::optional<std::wstring> FinalPathOf(HANDLE handle) {
    for (DWORD size = MAX_PATH; size <= 32768; size *= 2) {
        std::vector<wchar_t> buffer(size);
        const DWORD length =
            GetFinalPathNameByHandleW(handle, buffer.data(), size, FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
        if (length > 0 && length < size) return std::wstring(buffer.data(), length);
        if (length == 0 && GetLastError() != ERROR_MORE_DATA) return std::nullopt;
    }
    return std::nullopt;
}

// The path of what a handle reaches below its volume, whatever its length.
std::wstring VolumePathOf(HANDLE handle, const std::wstring& place) {
    std::vector<std::byte> buffer(sizeof(FILE_NAME_INFO) + 32768 * sizeof(wchar_t));
    auto* info = reinterpret_cast<FILE_NAME_INFO*>(buffer.data());
    if (!GetFileInformationByHandleEx(handle, FileNameInfo, info, static_cast<DWORD>(buffer.size()))) {
        ThrowLastError(Shown(place));
    }
    return std::wstring(info->FileName, info->FileNameLength / sizeof(wchar_t));
}

// Whether a name is the entry's own. Wine gives names without their trailing
// dots and spaces, so those do not count.
bool SameName(std::wstring a, std::wstring b) {
    for (std::wstring* name : {&a, &b}) {
        while (!name->empty() && (name->back() == L'.' || name->back() == L' ')) name->pop_back();
    }
    return CompareStringOrdinal(a.c_str(), static_cast<int>(a.size()), b.c_str(), static_cast<int>(b.size()), TRUE) ==
           CSTR_EQUAL;
}

DWORD VolumeOf(HANDLE handle, const std::wstring& place) {
    BY_HANDLE_FILE_INFORMATION info{};
    if (!GetFileInformationByHandle(handle, &info)) ThrowLastError(Shown(place));
    return info.dwVolumeSerialNumber;
}

// An entry of a folder being erased, known by the place it should be: its
// folder's final path and its own name, on its folder's volume.
class Entry {
public:
    Entry(std::wstring place, DWORD volume) : place_(std::move(place)), volume_(volume) {}

    // Opens the entry and makes sure it is where it seems. Otherwise it is a
    // link that the platform opened through, and it stays as it is.
    UniqueFileHandle OpenHere(DWORD access) const {
        UniqueFileHandle handle = Open(place_, access | FILE_READ_ATTRIBUTES);
        if (!handle) ThrowLastError(Shown(place_));
        if (VolumeOf(handle.get(), place_) != volume_ ||
            !SameName(VolumePathOf(handle.get(), place_), ToWide(paths::WithinVolume(FromWide(place_))))) {
            const auto target = FinalPathOf(handle.get());
            throw LinkKept(static_cast<int32_t>(ERROR_CANT_RESOLVE_FILENAME),
                           u"It leads to " + (target ? Shown(*target) : u"another place") + u", which stays as it is.",
                           Shown(place_));
        }
        return handle;
    }

    // Deletes the entry through the handle that was checked, clearing
    // read-only first when forced. A reparse point goes itself, never what
    // it leads to.
    void Delete(bool force) const {
        KeepAnswering();
        const UniqueFileHandle handle = OpenHere(DELETE | FILE_WRITE_ATTRIBUTES);
        FILE_BASIC_INFO basic{};
        if (!GetFileInformationByHandleEx(handle.get(), FileBasicInfo, &basic, sizeof(basic))) ThrowLastError(Shown(place_));
        if (force && (basic.FileAttributes & FILE_ATTRIBUTE_READONLY)) {
            basic.FileAttributes &= ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
            if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // 0 leaves them as they are
            if (!SetFileInformationByHandle(handle.get(), FileBasicInfo, &basic, sizeof(basic))) {
                ThrowLastError(Shown(place_));
            }
        }
        FILE_DISPOSITION_INFO disposition{TRUE};
        if (!SetFileInformationByHandle(handle.get(), FileDispositionInfo, &disposition, sizeof(disposition))) {
            ThrowLastError(Shown(place_));
        }
    }

    const std::wstring& place() const { return place_; }
    DWORD volume() const { return volume_; }

private:
    std::wstring place_;
    DWORD volume_;
};

class Win32File final : public File {
public:
    Win32File(std::wstring place, DWORD volume) : entry_(std::move(place), volume) {}
    std::u16string Path() const override { return FromWide(entry_.place()); }
    void Delete(bool force) override { entry_.Delete(force); }

private:
    Entry entry_;
};

class Win32Folder final : public Folder {
public:
    Win32Folder(std::wstring place, DWORD volume) : entry_(std::move(place), volume) {}

    std::u16string Path() const override { return FromWide(entry_.place()); }

    std::vector<std::unique_ptr<File>> Files() override {
        std::vector<std::unique_ptr<File>> files;
        ForEachEntry([&](const std::wstring& place, DWORD attributes) {
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(std::make_unique<Win32File>(place, entry_.volume()));
        });
        return files;
    }

    std::vector<std::unique_ptr<Folder>> SubFolders() override {
        std::vector<std::unique_ptr<Folder>> folders;
        ForEachEntry([&](const std::wstring& place, DWORD attributes) {
            if (attributes & FILE_ATTRIBUTE_DIRECTORY) folders.push_back(std::make_unique<Win32Folder>(place, entry_.volume()));
        });
        return folders;
    }

    void Delete(bool force) override { entry_.Delete(force); }

private:
    // Every entry but "." and "..". A link shows empty: nothing behind it is
    // ever listed, so nothing behind it is ever deleted.
    template <typename Visit>
    void ForEachEntry(Visit visit) {
        KeepAnswering();
        const std::wstring& place = entry_.place();
        try {
            const UniqueFileHandle handle = entry_.OpenHere(0);
            BY_HANDLE_FILE_INFORMATION info{};
            if (!GetFileInformationByHandle(handle.get(), &info)) ThrowLastError(Shown(place));
            if (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return;
        } catch (const LinkKept&) {
            return;
        }
        WIN32_FIND_DATAW data;
        UniqueFindHandle find(FindFirstFileExW((place + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch,
                                               nullptr, FIND_FIRST_EX_LARGE_FETCH));
        if (!find) {
            if (GetLastError() == ERROR_FILE_NOT_FOUND) return;
            ThrowLastError(Shown(place));
        }
        do {
            const std::wstring_view name = data.cFileName;
            if (name != L"." && name != L"..") visit(place + L"\\" + data.cFileName, data.dwFileAttributes);
        } while (FindNextFileW(find.get(), &data));
        if (GetLastError() != ERROR_NO_MORE_FILES) ThrowLastError(Shown(place));
    }

    Entry entry_;
};

class Win32FileSystem final : public FileSystem {
public:
    bool FolderExists(const std::u16string& path) override {
        const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(ToWide(path).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    // The folder is known by where its name says it is: the final path of
    // the folder holding it, and its own name. Every entry below is reached
    // through that "\\?\" path, never resolved again, so that long paths,
    // trailing dots and reserved names ("con") keep working.
    std::unique_ptr<Folder> GetFolder(const std::u16string& path) override {
        if (!FolderExists(path)) ThrowError(ERROR_PATH_NOT_FOUND, path);
        const auto [holder, name] = paths::Split(path);
        const UniqueFileHandle folder(CreateFileW(ToWide(holder).c_str(), FILE_READ_ATTRIBUTES,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (holder.empty() || !folder) ThrowLastError(path);
        const auto final = FinalPathOf(folder.get());
        if (!final) ThrowLastError(path);
        return std::make_unique<Win32Folder>(*final + L"\\" + ToWide(name), VolumeOf(folder.get(), ToWide(holder)));
    }
};

class Win32FileService final : public FileService {
public:
    std::unique_ptr<FileSystem> CreateFileSystem() override { return std::make_unique<Win32FileSystem>(); }

    ProtectedFolders GetProtectedFolders() override { return ReadProtectedFolders(); }

    // Through every link, to where the folder really is.
    std::optional<std::u16string> FinalPath(const std::u16string& path) override {
        if (path.empty()) return std::nullopt;
        const UniqueFileHandle folder(CreateFileW(ToWide(path).c_str(), FILE_READ_ATTRIBUTES,
                                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        BY_HANDLE_FILE_INFORMATION info{};
        if (!folder || !GetFileInformationByHandle(folder.get(), &info) || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
            return std::nullopt;
        }
        const auto final = FinalPathOf(folder.get());
        if (!final) ThrowLastError(path);
        return FromWide(*final);
    }
};

}  // namespace

std::unique_ptr<FileService> MakeWin32FileService() { return std::make_unique<Win32FileService>(); }

}  // namespace clearstrand::win32
