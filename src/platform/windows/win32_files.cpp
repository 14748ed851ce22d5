#include "platform/windows/win32_files.h"

#include <windows.h>

#include <cstddef>
#include <optional>
#include <string_view>
#include <utility>
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

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

// An entry opened where it is: a link itself rather than what it leads to,
// as far as the platform allows (Wine opens through a Unix symbolic link).
UniqueFileHandle Open(const std::wstring& path, DWORD access) {
    return UniqueFileHandle(CreateFileW(path.c_str(), access, kShareAll, nullptr, OPEN_EXISTING,
                                        FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT, nullptr));
}

std::u16string Shown(const std::wstring& path) { return paths::Shown(FromWide(path)); }

// The path of what a handle reaches, in its "\\?\" form. Wine gives none
// past 260 characters, whatever the buffer.
std::optional<std::wstring> FinalPathOf(HANDLE handle) {
    constexpr DWORD kFlags = FILE_NAME_NORMALIZED | VOLUME_NAME_DOS;
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), kFlags);
    if (length >= buffer.size()) {  // the size it needs, with its null
        buffer.resize(length + 1);
        length = GetFinalPathNameByHandleW(handle, buffer.data(), static_cast<DWORD>(buffer.size()), kFlags);
    }
    if (length == 0 || length >= buffer.size()) return std::nullopt;
    return std::wstring(buffer.data(), length);
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

// Whether two paths name the same entry. Wine gives names without their
// trailing dots and spaces, so those do not count.
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

// Whether what a handle reaches is the entry at `place`, on its drive: the
// final path carries both, so one question proves it. Past 260 characters
// Wine gives no final path; then the name within the volume and the volume
// itself, against those of the folder that holds the entry.
bool IsAt(HANDLE handle, const std::wstring& place) {
    if (const auto final = FinalPathOf(handle)) return SameName(*final, place);
    const std::wstring holder = ToWide(paths::Split(FromWide(place)).first);
    const UniqueFileHandle folder = Open(holder, FILE_READ_ATTRIBUTES);
    if (!folder) ThrowLastError(Shown(place));
    return VolumeOf(handle, place) == VolumeOf(folder.get(), holder) &&
           SameName(VolumePathOf(handle, place), ToWide(paths::WithinVolume(FromWide(place))));
}

// Every entry of an open folder but "." and "..", read through its handle.
template <typename Visit>
void ReadFolder(HANDLE folder, const std::wstring& place, Visit visit) {
    std::vector<std::byte> buffer(64 * 1024);
    while (GetFileInformationByHandleEx(folder, FileIdBothDirectoryInfo, buffer.data(), static_cast<DWORD>(buffer.size()))) {
        for (size_t at = 0;;) {
            const auto& info = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + at);
            const std::wstring_view name(info.FileName, info.FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") visit(info, name);
            if (info.NextEntryOffset == 0) break;
            at += info.NextEntryOffset;
        }
    }
    if (GetLastError() != ERROR_NO_MORE_FILES) ThrowLastError(Shown(place));
}

// The attributes a file's basic information may set.
constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                            FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                            FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// An entry of a folder being erased, known by the place it should be (the
// final path of its folder and its own name, which carry its drive) and by
// the attributes its folder's listing gave. It is opened once: that handle
// is checked, lists a folder, and deletes.
class Entry {
public:
    Entry(std::wstring place, DWORD attributes) : place_(std::move(place)), attributes_(attributes) {}

    // Opens the entry, once, and tells whether it is where it seems.
    // Otherwise it is a link that the platform opened through, and it stays
    // as it is: Here raises LinkKept.
    bool Found() {
        if (handle_ || link_) return !link_;
        DWORD access = DELETE | FILE_READ_ATTRIBUTES;
        if (attributes_ & FILE_ATTRIBUTE_READONLY) access |= FILE_WRITE_ATTRIBUTES;  // to clear it when forced
        if ((attributes_ & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) == FILE_ATTRIBUTE_DIRECTORY) {
            access |= FILE_LIST_DIRECTORY;
        }
        UniqueFileHandle handle = Open(place_, access);
        const DWORD refused = handle ? ERROR_SUCCESS : GetLastError();
        if ((refused == ERROR_ACCESS_DENIED || refused == ERROR_SHARING_VIOLATION) && (access & FILE_LIST_DIRECTORY)) {
            // A folder that may not go now (its rights, or another program
            // holding it) is still emptied; its own deletion then fails so.
            undeletable_ = refused;
            handle = Open(place_, access & ~static_cast<DWORD>(DELETE | FILE_WRITE_ATTRIBUTES));
        }
        if (!handle) ThrowLastError(Shown(place_));
        if (!IsAt(handle.get(), place_)) {
            const auto target = FinalPathOf(handle.get());
            link_.emplace(static_cast<int32_t>(ERROR_CANT_RESOLVE_FILENAME),
                          u"It leads to " + (target ? Shown(*target) : u"another place") + u", which stays as it is.",
                          Shown(place_));
            return false;
        }
        handle_ = std::move(handle);
        return true;
    }

    HANDLE Here() {
        if (!Found()) throw *link_;
        return handle_.get();
    }

    // Through the handle that was checked, clearing read-only first when
    // forced; the entry goes when the handle closes. A reparse point goes
    // itself, never what it leads to.
    void Delete(bool force) {
        KeepAnswering();
        const HANDLE handle = Here();
        const UniqueFileHandle closing = std::move(handle_);
        if (undeletable_) ThrowError(undeletable_, Shown(place_));
        if (force && (attributes_ & FILE_ATTRIBUTE_READONLY)) {
            FILE_BASIC_INFO basic{};  // times of 0 stay as they are
            basic.FileAttributes = attributes_ & kSettable & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY);
            if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // 0 would change nothing
            if (!SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic))) ThrowLastError(Shown(place_));
        }
        FILE_DISPOSITION_INFO disposition{TRUE};
        if (!SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition))) {
            ThrowLastError(Shown(place_));
        }
    }

    const std::wstring& place() const { return place_; }
    DWORD attributes() const { return attributes_; }

private:
    std::wstring place_;
    DWORD attributes_;
    UniqueFileHandle handle_;
    DWORD undeletable_ = ERROR_SUCCESS;  // why the entry could not be opened for its deletion
    std::optional<LinkKept> link_;
};

class Win32File final : public File {
public:
    Win32File(std::wstring place, DWORD attributes) : entry_(std::move(place), attributes) {}
    std::u16string Path() const override { return FromWide(entry_.place()); }
    void Delete(bool force) override { entry_.Delete(force); }

private:
    Entry entry_;
};

class Win32Folder final : public Folder {
public:
    Win32Folder(std::wstring place, DWORD attributes) : entry_(std::move(place), attributes) {}

    std::u16string Path() const override { return FromWide(entry_.place()); }

    std::vector<std::unique_ptr<File>> Files() override {
        std::vector<std::unique_ptr<File>> files;
        for (const auto& [place, attributes] : Listing()) {
            if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(std::make_unique<Win32File>(place, attributes));
        }
        return files;
    }

    std::vector<std::unique_ptr<Folder>> SubFolders() override {
        std::vector<std::unique_ptr<Folder>> folders;
        for (const auto& [place, attributes] : Listing()) {
            if (attributes & FILE_ATTRIBUTE_DIRECTORY) folders.push_back(std::make_unique<Win32Folder>(place, attributes));
        }
        return folders;
    }

    void Delete(bool force) override { entry_.Delete(force); }
    bool Found() { return entry_.Found(); }

private:
    // Every entry but "." and "..", read once through the checked handle. A
    // link shows empty: nothing behind it is ever listed, so nothing behind
    // it is ever deleted.
    const std::vector<std::pair<std::wstring, DWORD>>& Listing() {
        if (listing_) return *listing_;
        KeepAnswering();
        std::vector<std::pair<std::wstring, DWORD>> listing;
        if (!(entry_.attributes() & FILE_ATTRIBUTE_REPARSE_POINT) && entry_.Found()) {
            ReadFolder(entry_.Here(), entry_.place(), [&](const FILE_ID_BOTH_DIR_INFO& info, std::wstring_view name) {
                listing.emplace_back(entry_.place() + L"\\" + std::wstring(name), info.FileAttributes);
            });
        }
        return *(listing_ = std::move(listing));
    }

    Entry entry_;
    std::optional<std::vector<std::pair<std::wstring, DWORD>>> listing_;
};

// A path as Windows reads it: "." and "..", "/", doubled separators and
// trailing dots and spaces resolved, without asking the file system. A
// "\\?\" path names exactly what it says, so it stays as written, which
// GetFullPathNameW does not leave it (it drops a trailing space).
std::wstring FullPath(const std::wstring& path) {
    if (path.rfind(L"\\\\?\\", 0) == 0) return path;
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    if (length >= buffer.size()) {
        buffer.resize(length);
        length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(buffer.size()), buffer.data(), nullptr);
    }
    if (length == 0 || length >= buffer.size()) ThrowLastError(FromWide(path));
    return std::wstring(buffer.data(), length);
}

class Win32FileSystem final : public FileSystem {
public:
    bool FolderExists(const std::u16string& path) override {
        const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(ToWide(path).c_str());
        return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
    }

    // The folder is known by what it is, however the path spells it: the
    // final path of the folder holding it, and its own name there (a short
    // name or another letter case becomes the name itself; a link stays the
    // link). Every entry below is reached through that "\\?\" path, never
    // resolved again, so that long paths, trailing dots and reserved names
    // ("con") keep working.
    std::unique_ptr<Folder> GetFolder(const std::u16string& path) override {
        const DWORD attributes = path.empty() ? INVALID_FILE_ATTRIBUTES : GetFileAttributesW(ToWide(path).c_str());
        if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            ThrowError(ERROR_PATH_NOT_FOUND, path);
        }
        const auto [holder, name] = paths::Split(FromWide(FullPath(ToWide(path))));
        if (holder.empty()) ThrowError(ERROR_INVALID_NAME, path);
        const UniqueFileHandle folder(CreateFileW(ToWide(holder).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
                                                  OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!folder) ThrowLastError(path);
        const auto final = FinalPathOf(folder.get());
        if (!final) ThrowLastError(path);
        auto found = std::make_unique<Win32Folder>(*final + L"\\" + ToWide(name), attributes);
        if (found->Found()) return found;
        // Elsewhere than its name says: another spelling of its own name, or a link.
        const auto own = OwnName(*final, ToWide(name));
        if (!own || SameName(*own, ToWide(name))) return found;
        return std::make_unique<Win32Folder>(*final + L"\\" + *own, attributes);
    }

private:
    // The name under which a folder lists the entry that `name` (its name in
    // any letter case, or its short name) reaches. Read through a handle of
    // our own: Wine's FindFirstFileExW shares no deletion, and the folders
    // being erased are held open for theirs.
    static std::optional<std::wstring> OwnName(const std::wstring& folder, const std::wstring& name) {
        const UniqueFileHandle handle = Open(folder, FILE_LIST_DIRECTORY);
        if (!handle) ThrowLastError(Shown(folder));
        const auto same = [&](const wchar_t* text, size_t length) {
            return CompareStringOrdinal(text, static_cast<int>(length), name.c_str(), static_cast<int>(name.size()), TRUE) ==
                   CSTR_EQUAL;
        };
        std::optional<std::wstring> own;
        ReadFolder(handle.get(), folder, [&](const FILE_ID_BOTH_DIR_INFO& info, std::wstring_view listed) {
            if (same(listed.data(), listed.size()) || same(info.ShortName, info.ShortNameLength / sizeof(wchar_t))) {
                own = listed;
            }
        });
        return own;
    }
};

class Win32FileService final : public FileService {
public:
    std::unique_ptr<FileSystem> CreateFileSystem() override { return std::make_unique<Win32FileSystem>(); }

    ProtectedFolders GetProtectedFolders() override { return ReadProtectedFolders(); }

    // Through every link, to where the folder really is.
    std::optional<std::u16string> FinalPath(const std::u16string& path) override {
        if (path.empty()) return std::nullopt;
        const UniqueFileHandle folder(CreateFileW(ToWide(path).c_str(), FILE_READ_ATTRIBUTES, kShareAll, nullptr,
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
