#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace clearstrand {

// Before anything is deleted, changed or entered, the service checks where
// the entry really is, so that nothing a link leads to is ever reached. A
// link that the platform can remove alone (a reparse point on Windows) is
// removed as a link; one it cannot (a Unix symbolic link under Wine) raises
// LinkKept from Delete and stays as it is.

class File {
public:
    virtual ~File() = default;

    virtual std::u16string Path() const = 0;
    // force: read-only files are deleted as well. Raises PlatformError, with
    // the file's path, when the file cannot be deleted (in use, access denied).
    virtual void Delete(bool force) = 0;
};

// A folder. A link to a folder shows as a folder with no files and no
// subfolders.
class Folder {
public:
    virtual ~Folder() = default;

    virtual std::u16string Path() const = 0;
    virtual std::vector<std::unique_ptr<File>> Files() = 0;
    virtual std::vector<std::unique_ptr<Folder>> SubFolders() = 0;
    // Deletes the folder, which must be empty. Raises PlatformError, with
    // the folder's path, on failure.
    virtual void Delete(bool force) = 0;
};

// The file-system object.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    virtual bool FolderExists(const std::u16string& path) = 0;
    // Raises PlatformError when no folder exists at the path.
    virtual std::unique_ptr<Folder> GetFolder(const std::u16string& path) = 0;
};

// The folders a program-folder erase must never take, as the system names
// them; the rule compares them where they really are.
struct ProtectedFolders {
    // Refused with everything inside it and everything that holds it.
    std::u16string windows;
    // Every well-known folder of the shell that has a path here, for this
    // user and the machine, and the folder holding the profiles: refused
    // when the folder is or holds one of them.
    std::vector<std::u16string> shell;
    // Every profile the machine lists: refused as the shell's folders are,
    // and with everything inside it too, but for `profile`, the current
    // user's own, where per-user programs live. Another user's well-known
    // folders cannot be told from here.
    std::vector<std::u16string> profiles;
    std::u16string profile;
};

// Creates a new file-system object; each erase makes its own.
class FileService {
public:
    virtual ~FileService() = default;

    virtual std::unique_ptr<FileSystem> CreateFileSystem() = 0;
    // Raises PlatformError when the folders cannot be had at all; a folder
    // the system gives no path for is simply not listed.
    virtual ProtectedFolders GetProtectedFolders() = 0;
    // Where the folder at `path` really is: one text for every way to reach
    // it (short names, letter case, links), for comparing folders; nullopt
    // when no folder is there. Raises PlatformError when a folder is there
    // that cannot be placed.
    virtual std::optional<std::u16string> FinalPath(const std::u16string& path) = 0;
};

}  // namespace clearstrand
