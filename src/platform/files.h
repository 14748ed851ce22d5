#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace clearstrand {

// A folder being erased is opened once, where its path leads, and walked
// from that opened folder: every entry below is reached from the folder that
// listed it, never by its path again, and is deleted only when it is the
// entry that was listed, where that folder lists it. Nothing a link leads to
// is ever entered, changed or deleted. A link that the platform can remove
// alone (a reparse point on Windows) is removed as a link; one it cannot (a
// Unix symbolic link under Wine), or an entry no longer where its folder
// lists it, raises LinkKept from Delete and stays as it is.

class File {
public:
    virtual ~File() = default;

    virtual std::u16string Path() const = 0;
    // force: read-only files are deleted as well; the attribute is cleared
    // only for the deletion, and is back if the deletion fails. Raises
    // PlatformError, with the file's path, when the file cannot be deleted
    // (in use, access denied).
    virtual void Delete(bool force) = 0;
};

// An opened folder. A link to a folder shows as a folder with no files and
// no subfolders.
class Folder {
public:
    virtual ~Folder() = default;

    virtual std::u16string Path() const = 0;
    // Where the opened folder really is, through every link on the way: one
    // text for every way to reach it (short names, letter case, links).
    // Raises PlatformError when it cannot be placed.
    virtual std::u16string FinalPath() = 0;
    virtual std::vector<std::unique_ptr<File>> Files() = 0;
    virtual std::vector<std::unique_ptr<Folder>> SubFolders() = 0;
    // Deletes the folder, which must be empty, as File::Delete does. For the
    // folder GetFolder opened, raises too when it is still there afterwards
    // (Wine deletes nothing when a folder's path has come to lead elsewhere).
    virtual void Delete(bool force) = 0;
};

// The file-system object.
class FileSystem {
public:
    virtual ~FileSystem() = default;

    // Opens the folder at `path`, once: nullptr when nothing is there or a
    // file is. Raises PlatformError when a folder may be there but cannot
    // be opened.
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
    // Raises PlatformError when the folders cannot be had: the shell's
    // list, the profile list, a profile's path. A folder the system gives
    // no path for, or a profile without one, is simply not listed.
    virtual ProtectedFolders GetProtectedFolders() = 0;
    // Where the folder at `path` really is, as Folder::FinalPath says;
    // nullopt only when nothing is there or a file is. Raises PlatformError
    // for every other failure: a folder that may be there is placed or the
    // call fails.
    virtual std::optional<std::u16string> FinalPath(const std::u16string& path) = 0;
};

}  // namespace clearstrand
