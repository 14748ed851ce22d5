#pragma once

#include <memory>
#include <string>
#include <vector>

namespace clearstrand {

class File {
public:
    virtual ~File() = default;

    virtual std::u16string Path() const = 0;
    // force: read-only files are deleted as well. Raises PlatformError when
    // the file cannot be deleted (in use, access denied).
    virtual void Delete(bool force) = 0;
};

// A folder. A link to a folder elsewhere (junction, symbolic link) shows as a
// folder with no files and no subfolders whose Delete removes the link only,
// so nothing behind a link is ever reached.
class Folder {
public:
    virtual ~Folder() = default;

    virtual std::u16string Path() const = 0;
    virtual std::vector<std::unique_ptr<File>> Files() = 0;
    virtual std::vector<std::unique_ptr<Folder>> SubFolders() = 0;
    // Deletes the folder, which must be empty. Raises PlatformError on failure.
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

// Folders that a program-folder erase must never take: the Windows folder
// with everything inside it, and the well-known shell folders (Program Files
// in both views and their Common Files, ProgramData, Users, the user's
// profile, Desktop and Documents) with everything that contains them.
struct ProtectedFolders {
    std::u16string windows;
    std::vector<std::u16string> shell;
};

// Creates a new file-system object; each erase makes its own.
class FileService {
public:
    virtual ~FileService() = default;

    virtual std::unique_ptr<FileSystem> CreateFileSystem() = 0;
    // Full paths as the machine names them, without trailing backslash.
    virtual ProtectedFolders GetProtectedFolders() = 0;
};

}  // namespace clearstrand
