#include "memory/machine.h"

#include <algorithm>

#include "platform/errors.h"

namespace clearstrand::memory {

namespace {

constexpr int32_t kNotFound = 2;        // ERROR_FILE_NOT_FOUND
constexpr int32_t kAccessDenied = 5;    // also a key that still has subkeys
constexpr int32_t kTypeMismatch = static_cast<int32_t>(0x80041005u);
constexpr int32_t kUnknownProduct = 1605;

std::vector<std::u16string> Split(const std::u16string& path) {
    std::vector<std::u16string> parts;
    size_t start = 0;
    while (start <= path.size()) {
        const size_t end = std::min(path.find(u'\\', start), path.size());
        parts.push_back(path.substr(start, end - start));
        start = end + 1;
    }
    if (!parts.empty() && parts.back().empty()) parts.pop_back();  // a trailing "\"
    return parts;
}

std::string Text(int32_t hive, const std::u16string& path) { return HiveName(hive) + " " + ToUtf8(path); }

[[noreturn]] void Raise(int32_t code, const std::u16string& what) { throw PlatformError(code, what); }

class Provider final : public RegistryProvider {
public:
    explicit Provider(Machine& m) : m_(m) {}

    int32_t EnumKey(int32_t hive, const std::u16string& path, std::vector<std::u16string>& names) override {
        names.clear();
        if (auto code = m_.Call("EnumKey " + Text(hive, path))) return *code;
        const Machine::Key* key = m_.FindKey(hive, path);
        if (!key) return kNotFound;
        for (const auto& [upper, child] : key->subkeys) names.push_back(child->name);
        return 0;
    }

    int32_t GetStringValue(int32_t hive, const std::u16string& path, const std::u16string& name,
                           std::u16string& value) override {
        if (auto code = m_.Call("GetStringValue " + Text(hive, path) + " | " + ToUtf8(name))) return *code;
        const Machine::Key* key = m_.FindKey(hive, path);
        if (!key || !key->values.count(Upper(name))) return kNotFound;
        const Machine::Key::Value& found = key->values.at(Upper(name));
        if (found.dword) return kTypeMismatch;
        value = found.data;
        return 0;
    }

    int32_t DeleteKey(int32_t hive, const std::u16string& path) override {
        if (auto code = m_.Call("DeleteKey " + Text(hive, path))) return *code;
        const Machine::Key* key = m_.FindKey(hive, path);
        if (!key) return kNotFound;
        if (Split(path).empty() || !key->subkeys.empty()) return kAccessDenied;
        m_.RemoveKey(hive, path);
        return 0;
    }

private:
    Machine& m_;
};

class Product final : public InstalledProduct {
public:
    Product(Machine& m, int id, std::u16string name) : m_(m), id_(id), name_(std::move(name)) {}

    std::u16string Name() override {
        m_.Call("Name " + ToUtf8(name_));
        return name_;
    }

    int32_t UnInstall() override {
        if (auto code = m_.Call("UnInstall " + ToUtf8(name_))) return *code;
        auto& products = m_.products;
        const auto it = std::find_if(products.begin(), products.end(), [&](auto& p) { return p.id == id_; });
        if (it == products.end()) return kUnknownProduct;
        const int32_t code = it->uninstallCode;
        if (code != 0 && code != 3010 && code != 1641) return code;
        // The package takes its uninstall entry, its own file and its folder
        // when that is left empty, as the installer does.
        if (!it->entry.empty()) m_.RemoveKey(kHiveLocalMachine, it->entry);
        if (Machine::Entry* file = m_.FindEntry(it->ownFile)) {
            Machine::Entry* folder = file->parent;
            m_.RemoveEntry(*file);
            if (folder->children.empty() && folder->parent) m_.RemoveEntry(*folder);
        }
        products.erase(it);
        return code;
    }

private:
    Machine& m_;
    int id_;
    std::u16string name_;
};

class Services final : public ManagementServices {
public:
    explicit Services(Machine& m) : m_(m) {}

    ProductCollection ExecQuery(const std::u16string& query) override {
        m_.Call("ExecQuery " + ToUtf8(query));
        if (query != u"SELECT * FROM Win32_Product") Raise(static_cast<int32_t>(0x80041017u), u"Invalid query.");
        ProductCollection result;
        for (const auto& p : m_.products) result.push_back(std::make_unique<Product>(m_, p.id, p.name));
        return result;
    }

private:
    Machine& m_;
};

constexpr char16_t kRegistryMoniker[] = u"winmgmts:{impersonationLevel=Impersonate}!\\\\.\\root\\default:StdRegProv";
constexpr char16_t kPlainRegistryMoniker[] = u"winmgmts:\\\\.\\root\\default:StdRegProv";
constexpr char16_t kCimv2Moniker[] = u"winmgmts:{impersonationLevel=impersonate}!\\\\.\\root\\cimv2";

class Management final : public ManagementService {
public:
    explicit Management(Machine& m) : m_(m) {}

    std::unique_ptr<RegistryProvider> GetRegistryProvider(const std::u16string& moniker) override {
        m_.Call("connect " + ToUtf8(moniker));
        if (moniker != kRegistryMoniker && moniker != kPlainRegistryMoniker) Raise(-2147221020, u"Invalid syntax.");
        return std::make_unique<Provider>(m_);
    }

    std::unique_ptr<ManagementServices> GetServices(const std::u16string& moniker) override {
        m_.Call("connect " + ToUtf8(moniker));
        if (moniker != kCimv2Moniker) Raise(-2147221020, u"Invalid syntax.");
        return std::make_unique<Services>(m_);
    }

private:
    Machine& m_;
};

// ---- Files ---------------------------------------------------------------

constexpr int32_t kPathNotFound = 3;

class MemoryFile final : public File {
public:
    MemoryFile(Machine& m, std::u16string path) : m_(m), path_(std::move(path)) {}

    std::u16string Path() const override { return path_; }

    void Delete(bool force) override {
        m_.Call("DeleteFile " + ToUtf8(path_));
        Machine::Entry* entry = m_.FindEntry(path_);
        if (!entry || entry->folder) Raise(kNotFound, u"The system cannot find the file specified.");
        if (entry->held) Raise(32, u"The process cannot access the file because it is being used by another process.");
        if (entry->readOnly && !force) Raise(kAccessDenied, u"Access is denied.");
        m_.RemoveEntry(*entry);
    }

private:
    Machine& m_;
    std::u16string path_;
};

class MemoryFolder final : public Folder {
public:
    MemoryFolder(Machine& m, std::u16string path) : m_(m), path_(std::move(path)) {}

    std::u16string Path() const override { return path_; }

    std::vector<std::unique_ptr<File>> Files() override {
        std::vector<std::unique_ptr<File>> files;
        for (const auto& [upper, child] : Existing("Files").children) {
            if (!child->folder) files.push_back(std::make_unique<MemoryFile>(m_, child->path));
        }
        return files;
    }

    std::vector<std::unique_ptr<Folder>> SubFolders() override {
        std::vector<std::unique_ptr<Folder>> folders;
        for (const auto& [upper, child] : Existing("SubFolders").children) {
            if (child->folder) folders.push_back(std::make_unique<MemoryFolder>(m_, child->path));
        }
        return folders;
    }

    void Delete(bool) override {
        Machine::Entry& entry = Existing("DeleteFolder");
        if (!entry.children.empty()) Raise(145, u"The directory is not empty.");
        m_.RemoveEntry(entry);
    }

private:
    Machine::Entry& Existing(const std::string& call) {
        m_.Call(call + " " + ToUtf8(path_));
        Machine::Entry* entry = m_.FindEntry(path_);
        if (!entry || !entry->folder) Raise(kPathNotFound, u"The system cannot find the path specified.");
        return *entry;
    }

    Machine& m_;
    std::u16string path_;
};

class FileSystemObject final : public FileSystem {
public:
    explicit FileSystemObject(Machine& m) : m_(m) {}

    bool FolderExists(const std::u16string& path) override {
        m_.Call("FolderExists " + ToUtf8(path));
        const Machine::Entry* entry = m_.FindEntry(path);
        return entry && entry->folder;
    }

    std::unique_ptr<Folder> GetFolder(const std::u16string& path) override {
        m_.Call("GetFolder " + ToUtf8(path));
        const Machine::Entry* entry = m_.FindEntry(path);
        if (!entry || !entry->folder) Raise(kPathNotFound, u"The system cannot find the path specified.");
        return std::make_unique<MemoryFolder>(m_, entry->path);
    }

private:
    Machine& m_;
};

class Files final : public FileService {
public:
    explicit Files(Machine& m) : m_(m) {}

    std::unique_ptr<FileSystem> CreateFileSystem() override { return std::make_unique<FileSystemObject>(m_); }

    ProtectedFolders GetProtectedFolders() override {
        return {u"C:\\windows",
                {u"C:\\Program Files", u"C:\\Program Files (x86)", u"C:\\Program Files\\Common Files",
                 u"C:\\Program Files (x86)\\Common Files", u"C:\\ProgramData", u"C:\\users",
                 u"C:\\users\\user", u"C:\\users\\user\\Desktop", u"C:\\users\\user\\Documents"}};
    }

private:
    Machine& m_;
};

}  // namespace

std::u16string Upper(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
    }
    return text;
}

std::optional<int32_t> HiveByName(const std::string& name) {
    if (name == "HKLM") return kHiveLocalMachine;
    if (name == "HKCU") return kHiveCurrentUser;
    if (name == "HKLM64") return kHiveLocalMachine64;
    return std::nullopt;
}

std::string HiveName(int32_t hive) {
    switch (hive) {
    case kHiveLocalMachine: return "HKLM";
    case kHiveCurrentUser: return "HKCU";
    case kHiveLocalMachine64: return "HKLM64";
    default: return std::to_string(hive);
    }
}

Machine::Machine()
    : disk_(std::make_unique<Entry>()),
      management_(std::make_unique<Management>(*this)),
      files_(std::make_unique<Files>(*this)) {
    for (int32_t hive : {kHiveLocalMachine, kHiveCurrentUser, kHiveLocalMachine64}) {
        hives_[hive] = std::make_unique<Key>();
    }
}

Machine::~Machine() = default;

std::optional<int32_t> Machine::Call(const std::string& call) {
    calls.push_back(call);
    if (onCall) onCall(call);
    return fault ? fault(call) : std::nullopt;
}

Machine::Key* Machine::FindKey(int32_t hive, const std::u16string& path) const {
    const auto root = hives_.find(hive);
    if (root == hives_.end()) return nullptr;
    Key* key = root->second.get();
    for (const auto& part : Split(path)) {
        const auto child = key->subkeys.find(Upper(part));
        if (child == key->subkeys.end()) return nullptr;
        key = child->second.get();
    }
    return key;
}

Machine::Key& Machine::MakeKey(int32_t hive, const std::u16string& path) {
    Key* key = hives_.at(hive).get();
    for (const auto& part : Split(path)) {
        auto& child = key->subkeys[Upper(part)];
        if (!child) {
            child = std::make_unique<Key>();
            child->name = part;
        }
        key = child.get();
    }
    return *key;
}

void Machine::RemoveKey(int32_t hive, const std::u16string& path) {
    const size_t slash = path.rfind(u'\\');
    Key* parent = slash == std::u16string::npos ? hives_.at(hive).get() : FindKey(hive, path.substr(0, slash));
    if (parent) parent->subkeys.erase(Upper(path.substr(slash == std::u16string::npos ? 0 : slash + 1)));
}

void Machine::AddKey(int32_t hive, const std::u16string& path) { MakeKey(hive, path); }

void Machine::SetValue(int32_t hive, const std::u16string& path, const std::u16string& name,
                       const std::u16string& data, bool dword) {
    MakeKey(hive, path).values[Upper(name)] = {name, data, dword};
}

void Machine::AddProduct(const std::u16string& name, int32_t uninstallCode, const std::u16string& entry,
                         const std::u16string& ownFile) {
    products.push_back({nextProduct_++, name, uninstallCode, entry, ownFile});
}

Machine::Entry* Machine::FindEntry(const std::u16string& path) const {
    Entry* entry = disk_.get();
    const auto parts = Split(path);
    for (const auto& part : parts) {
        const auto child = entry->children.find(Upper(part));
        if (part.empty() || child == entry->children.end()) return nullptr;
        entry = child->second.get();
    }
    return parts.empty() ? nullptr : entry;
}

Machine::Entry& Machine::MakeEntry(const std::u16string& path) {
    Entry* entry = disk_.get();
    for (const auto& part : Split(path)) {
        auto& child = entry->children[Upper(part)];
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

void Machine::RemoveEntry(Entry& entry) { entry.parent->children.erase(Upper(entry.name)); }

void Machine::AddFolder(const std::u16string& path) { MakeEntry(path); }

void Machine::AddFile(const std::u16string& path, bool readOnly, bool hidden, bool held) {
    Entry& file = MakeEntry(path);
    file.folder = false;
    file.readOnly = readOnly;
    file.hidden = hidden;
    file.held = held;
}

std::vector<std::string> Machine::Describe() const {
    std::vector<std::string> lines;
    const auto keys = [&](auto& self, int32_t hive, const Key& key, const std::u16string& path) -> void {
        if (!path.empty()) lines.push_back("key " + Text(hive, path));
        for (const auto& [upper, value] : key.values) {
            lines.push_back("value " + Text(hive, path) + " | " + ToUtf8(value.name) + " = " +
                            (value.dword ? "#" : "") + ToUtf8(value.data));
        }
        for (const auto& [upper, child] : key.subkeys) {
            self(self, hive, *child, path.empty() ? child->name : path + u"\\" + child->name);
        }
    };
    for (const auto& [hive, root] : hives_) keys(keys, hive, *root, u"");
    for (const auto& p : products) lines.push_back("product " + ToUtf8(p.name));
    const auto entries = [&](auto& self, const Entry& entry) -> void {
        if (entry.parent) {
            lines.push_back((entry.folder ? "folder " : "file ") + ToUtf8(entry.path) +
                            (entry.readOnly ? " [ro]" : "") + (entry.hidden ? " [hidden]" : ""));
        }
        for (const auto& [upper, child] : entry.children) self(self, *child);
    };
    entries(entries, *disk_);
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace clearstrand::memory
