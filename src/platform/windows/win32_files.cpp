#include "platform/windows/win32_files.h"

#include <windows.h>

#include <memory>
#include <optional>
#include <string_view>
#include <utility>
#include <vector>

#include "platform/errors.h"
#include "platform/paths.h"
#include "platform/windows/buffers.h"
#include "platform/windows/file_handles.h"
#include "platform/windows/handles.h"
#include "platform/windows/keep_answering.h"
#include "platform/windows/protected_folders.h"
#include "platform/windows/win32_errors.h"
#include "platform/windows/wide_strings.h"

namespace clearstrand::win32 {

namespace {

constexpr DWORD kShareAll = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;

std::wstring Shown(std::wstring_view path) { return ToWide(paths::Shown(FromWide(path))); }

bool IsNotFound(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

// An open folder whose entries are opened relative to it.
struct Anchor {
    UniqueFileHandle handle;
    std::wstring place;  // where it is, as ObjectNameOf says
    std::wstring shown;  // its path, for messages
};

// An entry as its folder listed it. It is opened once, relative to that
// folder, and only the entry that was listed, where the folder lists it, is
// ever listed or deleted through that handle; anything else is a link, or
// was swapped meanwhile, and stays as it is: Here raises LinkKept.
class Entry {
public:
    Entry(std::shared_ptr<Anchor> folder, Listed listed, bool top)
        : folder_(std::move(folder)), listed_(std::move(listed)), top_(top),
          self_(std::make_shared<Anchor>(Anchor{{}, {}, folder_->shown + L"\\" + listed_.name})) {}

    const std::wstring& shown() const { return self_->shown; }
    bool IsFolder() const { return listed_.attributes & FILE_ATTRIBUTE_DIRECTORY; }

    // Opens the entry, once, and tells whether it is the one listed.
    bool Found() {
        if (self_->handle || kept_) return !kept_;
        ACCESS_MASK access = DELETE | FILE_READ_ATTRIBUTES;
        if (listed_.attributes & FILE_ATTRIBUTE_READONLY) access |= FILE_WRITE_ATTRIBUTES;  // to clear it when forced
        if (IsFolder() && !(listed_.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) access |= FILE_LIST_DIRECTORY;
        UniqueFileHandle handle;
        try {
            if (!OpenEntry(folder_->handle.get(), listed_.name, access, handle, shown())) {
                ThrowError(ERROR_FILE_NOT_FOUND, FromWide(shown()));
            }
        } catch (const PlatformError& refused) {
            // A folder that may not go now (its rights, or another program
            // holding it) is still emptied; its own deletion then fails so.
            const auto code = static_cast<DWORD>(refused.code());
            if (!IsFolder() || (code != ERROR_ACCESS_DENIED && code != ERROR_SHARING_VIOLATION)) throw;
            undeletable_ = code;
            OpenEntry(folder_->handle.get(), listed_.name, access & ~static_cast<ACCESS_MASK>(DELETE | FILE_WRITE_ATTRIBUTES),
                      handle, shown());
        }
        self_->handle = std::move(handle);
        const HANDLE here = self_->handle.get();
        if (FileIdOf(here, shown()) != listed_.id) {
            return Keep(u"It changed while it was being erased, and stays as it is.");
        }
        self_->place = ObjectNameOf(here, shown());
        const auto listedAt = [&] {
            const std::wstring_view place = self_->place, folder = folder_->place;
            const bool quick = place.size() == folder.size() + 1 + listed_.name.size() && place.substr(0, folder.size()) == folder &&
                               place[folder.size()] == L'\\' && place.substr(folder.size() + 1) == listed_.name;
            return quick || SamePlace(place, folder_->place + L"\\" + listed_.name);
        };
        if (listedAt()) return true;
        // A folder renamed meanwhile takes its entries along (Windows); Wine
        // names its entries by where it was, which may now lead elsewhere.
        folder_->place = ObjectNameOf(folder_->handle.get(), folder_->shown);
        if (listedAt()) return true;
        const auto target = FinalPathOf(here);
        return Keep(u"It leads to " + (target ? FromWide(Shown(*target)) : u"another place") + u", which stays as it is.");
    }

    // Where the entry is; a link (a reparse point, opened as itself) is
    // placed where it leads, so that the rule judges that. Only the placing
    // opens its name again: what is deleted is still the link itself.
    std::optional<std::wstring> FinalPath() {
        Found();
        if (!(listed_.attributes & FILE_ATTRIBUTE_REPARSE_POINT)) return FinalPathOf(self_->handle.get());
        UniqueFileHandle target;
        if (!OpenEntry(folder_->handle.get(), listed_.name, FILE_READ_ATTRIBUTES, target, shown(), true)) {
            ThrowError(ERROR_PATH_NOT_FOUND, FromWide(shown()));  // it leads nowhere
        }
        return FinalPathOf(target.get());
    }

    HANDLE Here() {
        if (!Found()) throw *kept_;
        return self_->handle.get();
    }

    // Through the handle that was checked, clearing read-only only for the
    // deletion; the entry goes when the handle closes. A reparse point goes
    // itself, never what it leads to.
    void Delete(bool force) {
        KeepAnswering();
        const HANDLE handle = Here();
        UniqueFileHandle closing = std::move(self_->handle);
        if (undeletable_) ThrowError(undeletable_, FromWide(shown()));
        const bool cleared = force && (listed_.attributes & FILE_ATTRIBUTE_READONLY);
        if (cleared) SetAttributes(handle, listed_.attributes & ~static_cast<DWORD>(FILE_ATTRIBUTE_READONLY), shown());
        try {
            MarkForDeletion(handle, shown());
        } catch (const PlatformError&) {
            if (cleared) SetAttributes(handle, listed_.attributes, shown());
            throw;
        }
        if (!top_) return;
        // Wine deletes nothing, and says it did, when the folder's path now
        // leads elsewhere; below it, what stays keeps its folder.
        closing.reset();
        for (const Listed& listed : ListFolder(folder_->handle.get(), folder_->shown)) {
            if (listed.id == listed_.id) {
                throw PlatformError(static_cast<int32_t>(ERROR_CANT_RESOLVE_FILENAME),
                                    u"It was moved or is still in use, and was not deleted.", FromWide(shown()));
            }
        }
    }

    // The entries below a folder, as it lists them; a link or reparse point
    // lists nothing, so nothing behind it is ever deleted.
    std::vector<Listed> List() {
        KeepAnswering();
        if ((listed_.attributes & FILE_ATTRIBUTE_REPARSE_POINT) || !Found()) return {};
        FILE_ATTRIBUTE_TAG_INFO tag{};
        if (!GetFileInformationByHandleEx(Here(), FileAttributeTagInfo, &tag, sizeof(tag))) ThrowLastError(FromWide(shown()));
        if (tag.FileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) return {};
        return ListFolder(Here(), shown());
    }

    const std::shared_ptr<Anchor>& self() const { return self_; }

private:
    bool Keep(std::u16string why) {
        kept_.emplace(static_cast<int32_t>(ERROR_CANT_RESOLVE_FILENAME), std::move(why), FromWide(shown()));
        return false;
    }

    std::shared_ptr<Anchor> folder_;  // the folder that listed it
    Listed listed_;
    bool top_;  // the folder an erase was asked for, whose deletion is checked
    std::shared_ptr<Anchor> self_;
    DWORD undeletable_ = ERROR_SUCCESS;  // why the entry could not be opened for its deletion
    std::optional<LinkKept> kept_;
};

class Win32File final : public File {
public:
    Win32File(std::shared_ptr<Anchor> folder, Listed listed) : entry_(std::move(folder), std::move(listed), false) {}
    std::u16string Path() const override { return FromWide(entry_.shown()); }
    void Delete(bool force) override { entry_.Delete(force); }

private:
    Entry entry_;
};

class Win32Folder final : public Folder {
public:
    Win32Folder(std::shared_ptr<Anchor> folder, Listed listed, bool top) : entry_(std::move(folder), std::move(listed), top) {}

    std::u16string Path() const override { return FromWide(entry_.shown()); }

    std::u16string FinalPath() override {
        const auto final = entry_.FinalPath();
        if (!final) ThrowLastError(FromWide(entry_.shown()));
        return FromWide(*final);
    }

    std::vector<std::unique_ptr<File>> Files() override {
        std::vector<std::unique_ptr<File>> files;
        for (const Listed& listed : Listing()) {
            if (!(listed.attributes & FILE_ATTRIBUTE_DIRECTORY)) files.push_back(std::make_unique<Win32File>(entry_.self(), listed));
        }
        return files;
    }

    std::vector<std::unique_ptr<Folder>> SubFolders() override {
        std::vector<std::unique_ptr<Folder>> folders;
        for (const Listed& listed : Listing()) {
            if (listed.attributes & FILE_ATTRIBUTE_DIRECTORY) {
                folders.push_back(std::make_unique<Win32Folder>(entry_.self(), listed, false));
            }
        }
        return folders;
    }

    void Delete(bool force) override { entry_.Delete(force); }

private:
    // Read once, for both its files and its subfolders.
    const std::vector<Listed>& Listing() {
        if (!listing_) listing_ = entry_.List();
        return *listing_;
    }

    Entry entry_;
    std::optional<std::vector<Listed>> listing_;
};

// A path as Windows reads it: "." and "..", "/", doubled separators and
// trailing dots and spaces resolved, without asking the file system. A
// "\\?\" path names exactly what it says, so it stays as written, which
// GetFullPathNameW does not leave it (it drops a trailing space).
std::wstring FullPath(const std::wstring& path) {
    if (path.rfind(ToWide(paths::kLongPrefix), 0) == 0) return path;
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD length = 0;
    GrowUntilItFits(buffer, [&](std::vector<wchar_t>& b) {  // the size it needs counts the null
        return length = GetFullPathNameW(path.c_str(), static_cast<DWORD>(b.size()), b.data(), nullptr);
    });
    if (length == 0) ThrowLastError(FromWide(path));
    return std::wstring(buffer.data(), length);
}

class Win32FileSystem final : public FileSystem {
public:
    // The folder is the entry its holding folder lists under the path's last
    // name, in any letter case or as its short name, and it is opened
    // relative to that folder; the holding folder is reached by its path,
    // through any link: the rule judges where the folder really is.
    std::unique_ptr<Folder> GetFolder(const std::u16string& path) override {
        if (path.empty()) return nullptr;
        const auto [holder, name] = paths::Split(FromWide(FullPath(ToWide(path))));
        if (holder.empty() || name.empty()) ThrowError(ERROR_INVALID_NAME, path);
        UniqueFileHandle handle(CreateFileW(ToWide(holder).c_str(), FILE_LIST_DIRECTORY | FILE_READ_ATTRIBUTES | SYNCHRONIZE,
                                            kShareAll, nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        if (!handle) {
            if (IsNotFound(GetLastError())) return nullptr;
            ThrowLastError(path);
        }
        const auto final = FinalPathOf(handle.get());
        auto folder = std::make_shared<Anchor>(Anchor{std::move(handle), {}, Shown(final ? *final : ToWide(holder))});
        while (folder->shown.size() > 1 && folder->shown.back() == L'\\') folder->shown.pop_back();  // a drive's root
        folder->place = ObjectNameOf(folder->handle.get(), folder->shown);

        // Its own name first, then in another letter case, then its short name.
        const std::wstring wanted = ToWide(name);
        const auto listing = ListFolder(folder->handle.get(), folder->shown);
        const auto first = [&](auto same) -> const Listed* {
            for (const Listed& listed : listing) {
                if (same(listed)) return &listed;
            }
            return nullptr;
        };
        const Listed* found = first([&](const Listed& listed) { return listed.name == wanted; });
        if (!found) found = first([&](const Listed& listed) { return SameText(listed.name, wanted); });
        if (!found) found = first([&](const Listed& listed) { return !listed.shortName.empty() && SameText(listed.shortName, wanted); });
        if (!found || !(found->attributes & FILE_ATTRIBUTE_DIRECTORY)) return nullptr;
        return std::make_unique<Win32Folder>(folder, *found, true);
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
        if (!folder) {
            if (IsNotFound(GetLastError())) return std::nullopt;
            ThrowLastError(path);
        }
        BY_HANDLE_FILE_INFORMATION info{};
        if (!GetFileInformationByHandle(folder.get(), &info)) ThrowLastError(path);
        if (!(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) return std::nullopt;
        const auto final = FinalPathOf(folder.get());
        if (!final) ThrowLastError(path);
        return FromWide(*final);
    }
};

}  // namespace

std::unique_ptr<FileService> MakeWin32FileService() { return std::make_unique<Win32FileService>(); }

}  // namespace clearstrand::win32
