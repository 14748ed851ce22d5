#include "memory/memory_files.h"

#include <algorithm>

#include "memory/fold.h"
#include "platform/errors.h"

namespace clearstrand {

using memory_detail::Fold;
using memory_detail::SplitPath;

struct MemoryFileService::Entry {
    enum class Kind { Folder, File, Link };
    Kind kind = Kind::Folder;
    std::u16string name;
    std::u16string path;  // full, with each component's own case
    Entry* parent = nullptr;
    bool readOnly = false;
    bool inUse = false;
    std::string content;
    std::u16string target;
    std::map<std::u16string, std::unique_ptr<Entry>> children;  // keyed by folded name
};

namespace {

constexpr int32_t kPathNotFound = 76;     // the script runtime's "Path not found"
constexpr int32_t kPermissionDenied = 70; // "Permission denied"
constexpr int32_t kFileNotFound = 53;     // "File not found"

using Entry = MemoryFileService::Entry;

class MemoryFile : public File {
public:
    MemoryFile(MemoryFileService& service, std::u16string path)
        : service_(service), path_(std::move(path)) {}

    std::u16string Path() const override { return path_; }

    void Delete(bool force) override {
        service_.Record("DeleteFile " + ToUtf8(path_));
        Entry* entry = service_.Find(path_);
        if (!entry || entry->kind != Entry::Kind::File) {
            throw PlatformError(kFileNotFound, u"File not found: " + path_);
        }
        if (entry->inUse || (entry->readOnly && !force)) {
            throw PlatformError(kPermissionDenied, u"Permission denied: " + path_);
        }
        service_.Remove(*entry);
    }

private:
    MemoryFileService& service_;
    std::u16string path_;
};

class MemoryFolder : public Folder {
public:
    MemoryFolder(MemoryFileService& service, std::u16string path)
        : service_(service), path_(std::move(path)) {}

    std::u16string Path() const override { return path_; }

    std::vector<std::unique_ptr<File>> Files() override {
        std::vector<std::unique_ptr<File>> files;
        if (Entry* entry = Existing(); entry->kind == Entry::Kind::Folder) {
            for (const auto& [folded, child] : entry->children) {
                if (child->kind == Entry::Kind::File) {
                    files.push_back(std::make_unique<MemoryFile>(service_, child->path));
                }
            }
        }
        return files;
    }

    std::vector<std::unique_ptr<Folder>> SubFolders() override {
        std::vector<std::unique_ptr<Folder>> folders;
        if (Entry* entry = Existing(); entry->kind == Entry::Kind::Folder) {
            for (const auto& [folded, child] : entry->children) {
                if (child->kind != Entry::Kind::File) {
                    folders.push_back(std::make_unique<MemoryFolder>(service_, child->path));
                }
            }
        }
        return folders;
    }

    void Delete(bool /*force*/) override {
        service_.Record("DeleteFolder " + ToUtf8(path_));
        Entry* entry = Existing();
        if (!entry->parent) throw PlatformError(kPermissionDenied, u"Permission denied: " + path_);
        if (entry->kind == Entry::Kind::Folder && !entry->children.empty()) {
            throw PlatformError(kPermissionDenied, u"Folder not empty: " + path_);
        }
        service_.Remove(*entry);
    }

private:
    Entry* Existing() {
        Entry* entry = service_.Find(path_);
        if (!entry || entry->kind == Entry::Kind::File) {
            throw PlatformError(kPathNotFound, u"Path not found: " + path_);
        }
        return entry;
    }

    MemoryFileService& service_;
    std::u16string path_;
};

class MemoryFileSystem : public FileSystem {
public:
    explicit MemoryFileSystem(MemoryFileService& service) : service_(service) {}

    bool FolderExists(const std::u16string& path) override {
        service_.Record("FolderExists " + ToUtf8(path));
        Entry* entry = service_.Find(path);
        return entry && entry->parent && entry->kind != Entry::Kind::File;
    }

    std::unique_ptr<Folder> GetFolder(const std::u16string& path) override {
        service_.Record("GetFolder " + ToUtf8(path));
        Entry* entry = service_.Find(path);
        if (!entry || !entry->parent || entry->kind == Entry::Kind::File) {
            throw PlatformError(kPathNotFound, u"Path not found: " + path);
        }
        return std::make_unique<MemoryFolder>(service_, entry->path);
    }

private:
    MemoryFileService& service_;
};

}  // namespace

MemoryFileService::MemoryFileService() : root_(std::make_unique<Entry>()) {
    protectedFolders.windows = u"C:\\Windows";
    protectedFolders.shell = {
        u"C:\\Program Files",
        u"C:\\Program Files (x86)",
        u"C:\\Program Files\\Common Files",
        u"C:\\Program Files (x86)\\Common Files",
        u"C:\\ProgramData",
        u"C:\\Users",
        u"C:\\Users\\user",
        u"C:\\Users\\user\\Desktop",
        u"C:\\Users\\user\\Documents",
    };
}

MemoryFileService::~MemoryFileService() = default;

MemoryFileService::Entry* MemoryFileService::Find(std::u16string_view path) const {
    auto parts = SplitPath(path);
    if (parts.empty()) return nullptr;
    Entry* entry = root_.get();
    for (const auto& part : parts) {
        if (part.empty() || entry->kind != Entry::Kind::Folder) return nullptr;
        auto it = entry->children.find(Fold(part));
        if (it == entry->children.end()) return nullptr;
        entry = it->second.get();
    }
    return entry;
}

MemoryFileService::Entry& MemoryFileService::Create(std::u16string_view path) {
    Entry* entry = root_.get();
    for (const auto& part : SplitPath(path)) {
        if (part.empty()) continue;
        auto& child = entry->children[Fold(part)];
        if (!child) {
            child = std::make_unique<Entry>();
            child->name = part;
            child->path = entry->parent ? entry->path + u"\\" + part : part;
            child->parent = entry;
        }
        entry = child.get();
    }
    return *entry;
}

void MemoryFileService::AddFolder(std::u16string_view path) { Create(path); }

void MemoryFileService::AddFile(std::u16string_view path, bool readOnly, std::string content) {
    Entry& entry = Create(path);
    entry.kind = Entry::Kind::File;
    entry.readOnly = readOnly;
    entry.content = std::move(content);
}

void MemoryFileService::AddLink(std::u16string_view path, std::u16string_view target) {
    Entry& entry = Create(path);
    entry.kind = Entry::Kind::Link;
    entry.target = target;
    entry.children.clear();
}

void MemoryFileService::SetInUse(std::u16string_view path) {
    if (Entry* entry = Find(path)) entry->inUse = true;
}

bool MemoryFileService::Exists(std::u16string_view path) const { return Find(path) != nullptr; }

std::vector<std::u16string> MemoryFileService::AllPaths() const {
    std::vector<std::u16string> paths;
    std::vector<const Entry*> pending{root_.get()};
    while (!pending.empty()) {
        const Entry* entry = pending.back();
        pending.pop_back();
        if (entry->parent) paths.push_back(entry->path);
        for (const auto& [folded, child] : entry->children) pending.push_back(child.get());
    }
    std::sort(paths.begin(), paths.end());
    return paths;
}

std::unique_ptr<FileSystem> MemoryFileService::CreateFileSystem() {
    ++fileSystemsCreated;
    return std::make_unique<MemoryFileSystem>(*this);
}

void MemoryFileService::Record(const std::string& call) {
    calls.push_back(call);
    if (log) log->Add("files: " + call);
    if (onCall) onCall(call);
}

void MemoryFileService::Remove(Entry& entry) {
    entry.parent->children.erase(Fold(entry.name));
}

}  // namespace clearstrand
