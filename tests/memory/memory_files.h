#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "memory/event_log.h"
#include "platform/files.h"

namespace clearstrand {

// A case-insensitive file system in memory, with backslash paths such as
// "C:\Program Files\X". Names keep their own case.
class MemoryFileService : public FileService {
public:
    MemoryFileService();
    ~MemoryFileService() override;
    MemoryFileService(const MemoryFileService&) = delete;
    MemoryFileService& operator=(const MemoryFileService&) = delete;

    // Set-up and inspection; none of these is logged. Parents are created.
    void AddFolder(std::u16string_view path);
    void AddFile(std::u16string_view path, bool readOnly = false, std::string content = {});
    // A junction: shows as an empty folder whose Delete removes the link only.
    void AddLink(std::u16string_view path, std::u16string_view target);
    // Deleting this file raises PlatformError.
    void SetInUse(std::u16string_view path);
    bool Exists(std::u16string_view path) const;
    std::vector<std::u16string> AllPaths() const;  // sorted

    std::unique_ptr<FileSystem> CreateFileSystem() override;
    ProtectedFolders GetProtectedFolders() override {
        if (onCall) onCall("GetProtectedFolders");  // seen, not logged
        return protectedFolders;
    }

    ProtectedFolders protectedFolders;
    // "FolderExists C:\X", "GetFolder C:\X", "DeleteFile C:\X\a.txt", "DeleteFolder C:\X".
    std::vector<std::string> calls;
    // When set, calls are also added here, prefixed "files: ".
    EventLog* log = nullptr;
    // Sees every call after it is logged and may raise.
    std::function<void(const std::string&)> onCall;
    int fileSystemsCreated = 0;

    struct Entry;
    // For the file-system objects.
    Entry* Find(std::u16string_view path) const;
    void Record(const std::string& call);
    void Remove(Entry& entry);

private:
    Entry& Create(std::u16string_view path);

    std::unique_ptr<Entry> root_;
};

}  // namespace clearstrand
