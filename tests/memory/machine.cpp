#include "memory/machine.h"

#include <algorithm>
#include <stdexcept>

#include "platform/errors.h"

namespace clearstrand::memory {

namespace {

// Codes and texts as Wine gives them.
[[noreturn]] void Raise(int32_t code, const char16_t* text) { throw PlatformError(code, text); }
constexpr int32_t kNotFound = 2;
constexpr int32_t kAccessDenied = 5;  // also a key that still has subkeys

std::u16string Hive(int32_t hive) {
    if (hive == kHiveLocalMachine) return u"HKLM";
    if (hive == kHiveCurrentUser) return u"HKCU";
    Raise(87, u"Invalid parameter.");
}

std::string Text(const std::u16string& hive, const std::u16string& path) { return ToUtf8(hive + u" " + path); }

class Provider final : public RegistryProvider {
public:
    explicit Provider(Machine& m) : m_(m) {}
    int32_t EnumKey(int32_t hive, const std::u16string& path, std::vector<std::u16string>& names) override {
        names.clear();
        if (auto code = m_.Call("EnumKey " + Text(Hive(hive), path))) return *code;
        const std::u16string at = At(hive, path, true);
        if (!m_.keys.count(Upper(at))) return kNotFound;
        for (const auto* key : Machine::Below(m_.keys, at)) {
            names.push_back(key->path.substr(key->path.rfind(u'\\') + 1));
        }
        return 0;  // Wine's provider gives 259 for a key without subkeys, Windows' 0
    }
    int32_t GetStringValue(int32_t hive, const std::u16string& path, const std::u16string& name,
                           std::u16string& value) override {
        if (auto code = m_.Call("GetStringValue " + Text(Hive(hive), path) + " | " + ToUtf8(name))) return *code;
        const auto key = m_.keys.find(Upper(At(hive, path, true)));
        if (key == m_.keys.end() || !key->second.values.count(Upper(name))) return kNotFound;
        const Machine::Value& found = key->second.values.at(Upper(name));
        if (found.dword) return static_cast<int32_t>(0x80041005u);  // WBEM_E_TYPE_MISMATCH
        value = found.data;
        return 0;
    }
    int32_t DeleteKey(int32_t hive, const std::u16string& path) override {
        if (auto code = m_.Call("DeleteKey " + Text(Hive(hive), path))) return *code;
        const std::u16string full = At(hive, path, true);
        if (!m_.keys.count(Upper(full))) return kNotFound;
        if (path.empty() || !Machine::Below(m_.keys, full).empty()) return kAccessDenied;
        Machine::Erase(m_.keys, full);
        return 0;
    }
    std::optional<std::u16string> LinkTarget(int32_t hive, const std::u16string& path) override {
        m_.Call("LinkTarget " + Text(Hive(hive), path));
        const Machine::Key* link = Link(hive, path);
        if (!link) return std::nullopt;
        // Named as Wine names them, the program's view of HKLM\SOFTWARE being the 32-bit one.
        using Name = std::pair<std::u16string, std::u16string>;
        for (const auto& [hiveName, shown] : {Name{u"HKLM\\SOFTWARE", u"HKEY_LOCAL_MACHINE\\Software\\Wow6432Node"},
                                             Name{u"HKLM64", u"HKEY_LOCAL_MACHINE"}, Name{u"HKCU", u"HKEY_CURRENT_USER"}}) {
            if (link->target.rfind(hiveName + u"\\", 0) == 0) return shown + link->target.substr(hiveName.size());
        }
        return link->target;
    }
    std::optional<int32_t> DeleteLink(int32_t hive, const std::u16string& path) override {
        if (auto code = m_.Call("DeleteLink " + Text(Hive(hive), path))) return code;
        const Machine::Key* link = Link(hive, path);
        if (!link) return std::nullopt;
        m_.keys.erase(Upper(link->path));
        return 0;
    }

private:
    std::u16string At(int32_t hive, const std::u16string& path, bool follow) { return m_.KeyAt(Hive(hive) + u"\\" + path, follow); }
    const Machine::Key* Link(int32_t hive, const std::u16string& path) {
        const auto key = m_.keys.find(Upper(At(hive, path, false)));
        return key != m_.keys.end() && !key->second.target.empty() ? &key->second : nullptr;
    }

    Machine& m_;
};

class Product final : public InstalledProduct {
public:
    Product(Machine& m, const Machine::Product& p) : m_(m), id_(p.id), name_(p.name) {}
    std::u16string Name() override {
        m_.Call("Name " + ToUtf8(name_));
        return name_;
    }
    int32_t UnInstall() override {
        if (auto code = m_.Call("UnInstall " + ToUtf8(name_))) return *code;
        auto& products = m_.products;
        const auto it = std::find_if(products.begin(), products.end(), [&](auto& p) { return p.id == id_; });
        if (it == products.end()) return 1605;  // ERROR_UNKNOWN_PRODUCT
        const int32_t code = it->uninstallCode;
        if (code != 0 && code != 3010 && code != 1641) return code;
        // The package takes its entry, its own file and its folder when that
        // is left empty, as the installer does.
        if (!it->entry.empty()) Machine::Erase(m_.keys, u"HKLM\\" + it->entry);
        if (!it->ownFile.empty() && m_.disk.count(Upper(it->ownFile))) {
            const std::u16string folder = it->ownFile.substr(0, it->ownFile.rfind(u'\\'));
            m_.disk.erase(Upper(it->ownFile));
            if (Machine::Below(m_.disk, folder).empty()) m_.disk.erase(Upper(folder));
        }
        products.erase(it);
        return code;
    }

private:
    Machine& m_;
    int id_;
    std::u16string name_;
};

// Only the program's own monikers connect.
class Management final : public ManagementService, public ManagementServices {
public:
    explicit Management(Machine& m) : m_(m) {}
    std::unique_ptr<RegistryProvider> GetRegistryProvider(const std::u16string& moniker) override {
        m_.Call("connect " + ToUtf8(moniker));
        if (moniker != kRegistryMoniker && moniker != kRegistryDeleteMoniker) Raise(-2147221020, u"Invalid syntax.");
        return std::make_unique<Provider>(m_);
    }
    std::unique_ptr<ManagementServices> GetServices(const std::u16string& moniker) override {
        m_.Call("connect " + ToUtf8(moniker));
        if (moniker != kProductsMoniker) Raise(-2147221020, u"Invalid syntax.");
        return std::make_unique<Management>(m_);
    }
    ProductCollection ExecQuery(const std::u16string& query) override {
        m_.Call("ExecQuery " + ToUtf8(query));
        if (query != u"SELECT * FROM Win32_Product") Raise(static_cast<int32_t>(0x80041017u), u"Invalid query.");
        ProductCollection result;
        for (const auto& p : m_.products) result.push_back(std::make_unique<Product>(m_, p));
        return result;
    }

private:
    Machine& m_;
};

// A file or a folder as an open handle knows it: by its id, wherever it has
// moved since, and by the path its folder listed it under.
class Entry final : public File, public Folder {
public:
    Entry(Machine& m, int id, std::u16string path, bool folder) : m_(m), id_(id), path_(std::move(path)), folder_(folder) {
        m_.named[Upper(path_)] = id_;
    }
    std::u16string Path() const override { return path_; }
    std::u16string FinalPath() override {
        m_.Call("FinalPath " + ToUtf8(path_));
        const Machine::Entry& here = Here();
        const Machine::Entry* real = here.target.empty() ? &here : m_.Resolve(here.target, true);
        if (!real || !real->folder) throw PlatformError(3, u"Path not found.", path_);
        return real->path;
    }
    std::vector<std::unique_ptr<File>> Files() override { return Below<File>("Files", false); }
    std::vector<std::unique_ptr<Folder>> SubFolders() override { return Below<Folder>("SubFolders", true); }
    void Delete(bool force) override {
        m_.Call((folder_ ? "DeleteFolder " : "DeleteFile ") + ToUtf8(path_));
        const Machine::Entry& entry = Here();
        if (!entry.target.empty()) {  // it stays, with what it leads to
            const Machine::Entry* target = m_.Resolve(entry.target, true);
            throw LinkKept(1921, u"It leads to " + (target ? target->path : entry.target) + u", which stays as it is.", path_);
        }
        if (folder_ && !Machine::Below(m_.disk, entry.path).empty()) throw PlatformError(145, u"Directory is not empty.", path_);
        if (entry.held) throw PlatformError(32, u"Sharing violation.", path_);
        if (entry.readOnly && !force) throw PlatformError(kAccessDenied, u"Access denied.", path_);
        m_.disk.erase(Upper(entry.path));
    }

private:
    const Machine::Entry& Here() {
        const Machine::Entry* entry = m_.ById(id_);
        if (!entry) throw PlatformError(kNotFound, u"File not found.", path_);
        return *entry;
    }
    // A link shows empty: nothing behind it is ever listed.
    template <typename Kind>
    std::vector<std::unique_ptr<Kind>> Below(const std::string& call, bool folders) {
        m_.Call(call + " " + ToUtf8(path_));
        const Machine::Entry& here = Here();
        std::vector<std::unique_ptr<Kind>> found;
        for (const auto* entry : here.target.empty() ? Machine::Below(m_.disk, here.path) : std::vector<Machine::Entry*>{}) {
            const std::u16string name = entry->path.substr(entry->path.rfind(u'\\') + 1);
            if (IsFolder(*entry) == folders) found.push_back(std::make_unique<Entry>(m_, entry->id, path_ + u"\\" + name, folders));
        }
        return found;
    }
    bool IsFolder(const Machine::Entry& entry) {
        const Machine::Entry* real = entry.target.empty() ? &entry : m_.Resolve(entry.target, true);
        return real && real->folder;
    }

    Machine& m_;
    int id_;
    std::u16string path_;
    bool folder_;
};

// Environment strings as Windows expands them in the profile list.
std::u16string Expand(std::u16string text) {
    for (const auto& [name, value] : {std::pair{u"%SystemDrive%", u"C:"}, {u"%SystemRoot%", u"C:\\OS\\windows"}}) {
        for (size_t at = text.find(name); at != std::u16string::npos; at = text.find(name)) {
            text.replace(at, std::u16string_view(name).size(), value);
        }
    }
    return text;
}

class Files final : public FileService, public FileSystem {
public:
    explicit Files(Machine& m) : m_(m) {}
    std::unique_ptr<FileSystem> CreateFileSystem() override { return std::make_unique<Files>(m_); }
    // The shell's folders, and the profiles the machine's profile list
    // holds: every subkey's ProfileImagePath, Default and Public, and the
    // folder holding them.
    ProtectedFolders GetProtectedFolders() override {
        m_.Call("GetProtectedFolders");
        ProtectedFolders folders{kWindows, {std::begin(kShell), std::end(kShell)}, {}, kProfile};
        const auto value = [&](const std::u16string& key, const std::u16string& name) -> std::optional<std::u16string> {
            const auto found = m_.keys.find(Upper(key));
            if (found == m_.keys.end() || !found->second.values.count(Upper(name))) return std::nullopt;
            const Machine::Value& v = found->second.values.at(Upper(name));
            return v.expand ? Expand(v.data) : v.data;
        };
        const std::u16string list = std::u16string(u"HKLM64\\") + kProfileList;
        if (auto root = value(list, u"ProfilesDirectory")) folders.shell.push_back(*root);
        for (const char16_t* shared : {u"Default", u"Public"}) {
            if (auto profile = value(list, shared)) folders.profiles.push_back(*profile);
        }
        for (const auto* key : Machine::Below(m_.keys, list)) {
            if (auto profile = value(key->path, u"ProfileImagePath")) folders.profiles.push_back(*profile);
        }
        return folders;
    }
    std::optional<std::u16string> FinalPath(const std::u16string& path) override {
        // Code 2 says no folder is there; any other fails the call.
        if (auto code = m_.Call("FinalPath " + ToUtf8(path))) {
            if (*code == kNotFound) return std::nullopt;
            throw PlatformError(*code, u"Call failed.", path);
        }
        const Machine::Entry* entry = m_.Resolve(path, true);
        return entry && entry->folder ? std::optional(entry->path) : std::nullopt;
    }
    // Known by what it is, however the path spells it: its own path, and a
    // link stays the link.
    std::unique_ptr<Folder> GetFolder(const std::u16string& path) override {
        m_.Call("GetFolder " + ToUtf8(path));
        const Machine::Entry* entry = m_.Resolve(path, false);
        if (!entry) return nullptr;
        // A link is opened itself; it is a folder when it leads to one.
        const Machine::Entry* real = entry->target.empty() ? entry : m_.Resolve(entry->target, true);
        if (!real || !real->folder) return nullptr;
        return std::make_unique<Entry>(m_, entry->id, entry->path, true);
    }
    // Kept below a folder of its own, which it makes unsafe too.
    static constexpr const char16_t* kWindows = u"C:\\OS\\windows";
    // A few of the shell's well-known folders, as a machine lists them.
    static constexpr const char16_t* kShell[] = {
        u"C:\\Program Files", u"C:\\Program Files (x86)", u"C:\\Program Files\\Common Files",
        u"C:\\Program Files (x86)\\Common Files", u"C:\\ProgramData", u"C:\\ProgramData\\Microsoft\\Windows\\Start Menu",
        u"C:\\users\\Public\\Documents", u"C:\\users\\user\\Desktop",
        u"C:\\users\\user\\Documents", u"C:\\users\\user\\Downloads", u"C:\\users\\user\\Pictures",
        u"C:\\users\\user\\Favorites",
        u"C:\\users\\user\\AppData\\Roaming", u"C:\\users\\user\\AppData\\Local", u"C:\\users\\user\\AppData\\LocalLow"};
    static constexpr const char16_t* kProfile = u"C:\\users\\user";
    static constexpr const char16_t* kProfileList = u"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\ProfileList";

private:
    Machine& m_;
};

// The short name Windows gives a name that does not fit 8.3: its first
// letters and digits, "~" and three more from a hash, as Wine makes them.
std::u16string ShortName(const std::u16string& path) {
    const std::u16string name = path.substr(path.rfind(u'\\') + 1);
    const size_t dot = name.find(u'.');
    const bool fits = name.find(u' ') == std::u16string::npos && dot == name.rfind(u'.') &&
                      std::min(dot, name.size()) <= 8 && (dot == std::u16string::npos || name.size() - dot <= 4);
    if (path.find(u'\\') == std::u16string::npos || fits) return {};
    std::u16string alias;
    uint32_t hash = 0;
    for (const char16_t c : Upper(name)) {
        hash = hash * 31 + c;
        if (alias.size() < 4 && ((c >= u'A' && c <= u'Z') || (c >= u'0' && c <= u'9'))) alias += c;
    }
    alias += u'~';
    for (int i = 0; i < 3; ++i, hash /= 36) alias += u"0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ"[hash % 36];
    return alias;
}

}  // namespace

std::u16string Upper(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
    }
    while (!text.empty() && text.back() == u'\\') text.pop_back();
    return text;
}

Machine::Machine() : management_(std::make_unique<Management>(*this)), files_(std::make_unique<Files>(*this)) {
    for (const char* hive : {"HKLM", "HKCU", "HKLM64"}) SetValue(hive, u"SOFTWARE");
    // The system's folders, with the short names Wine gives them.
    AddEntry(Files::kWindows, true);
    for (const char16_t* folder : Files::kShell) AddEntry(folder, true);
    // The profile list as Windows keeps it, variables and all: the current
    // user's, another's, and the shared ones.
    const std::u16string list = Files::kProfileList;
    SetValue("HKLM64", list, u"ProfilesDirectory", u"%SystemDrive%\\users", false, true);
    SetValue("HKLM64", list, u"Public", u"%SystemDrive%\\users\\Public", false, true);
    SetValue("HKLM64", list + u"\\S-1-5-21-1-2-3-1000", u"ProfileImagePath", Files::kProfile);
    SetValue("HKLM64", list + u"\\S-1-5-21-1-2-3-1001", u"ProfileImagePath", u"%SystemDrive%\\users\\other", false, true);
    for (const char16_t* folder : {u"C:\\users\\user", u"C:\\users\\other", u"C:\\users\\Public"}) AddEntry(folder, true);
    disk.at(Upper(u"C:\\Program Files")).alias = u"PROG~FBU";
    disk.at(Upper(u"C:\\Program Files (x86)")).alias = u"PROG~5P2";
    disk.at(Upper(u"C:\\users\\user\\Documents")).alias = u"DOCU~OWL";
}

std::optional<int32_t> Machine::Call(const std::string& call) {
    calls.push_back(call);
    return fault ? fault(call) : std::nullopt;
}

void Machine::SetValue(const std::string& hive, const std::u16string& path, const std::u16string& name,
                       const std::u16string& data, bool dword, bool expand) {
    std::u16string full = FromUtf8(hive) + u"\\" + path;
    for (size_t at = full.find(u'\\');; at = full.find(u'\\', at + 1)) {
        keys.try_emplace(Upper(full.substr(0, at)), Key{full.substr(0, at), {}, {}});
        if (at == std::u16string::npos) break;
    }
    if (!name.empty()) keys.at(Upper(full)).values[Upper(name)] = {name, data, dword, expand};
}

void Machine::AddProduct(const std::u16string& name, int32_t uninstallCode, const std::u16string& entry,
                         const std::u16string& ownFile) {
    products.push_back({nextProduct_++, name, uninstallCode, entry, ownFile});
}

void Machine::AddEntry(const std::u16string& path, bool folder, bool readOnly, bool hidden, bool held) {
    // A share's root is its "\\server\share", a drive's its "X:".
    const size_t root = path.rfind(u"\\\\", 0) == 0 ? path.find(u'\\', path.find(u'\\', 2) + 1) : path.find(u'\\');
    for (size_t at = root; at != std::u16string::npos; at = path.find(u'\\', at + 1)) {
        const std::u16string holder = path.substr(0, at);
        if (disk.try_emplace(Upper(holder), Entry{holder, true, false, false, false, {}, ShortName(holder), nextEntry_}).second) {
            ++nextEntry_;
        }
    }
    const auto old = disk.find(Upper(path));
    disk[Upper(path)] = {path, folder, readOnly, hidden, held, {}, ShortName(path), old != disk.end() ? old->second.id : nextEntry_++};
}

void Machine::Move(const std::u16string& from, const std::u16string& to) {
    const Entry* entry = Resolve(from, false);
    if (!entry) throw std::runtime_error("nothing to move at " + ToUtf8(from));
    const std::u16string old = entry->path;
    std::vector<Entry> moved;
    for (auto it = disk.begin(); it != disk.end();) {
        const bool below = it->first == Upper(old) || it->first.rfind(Upper(old) + u"\\", 0) == 0;
        if (below) {
            moved.push_back(it->second);
            moved.back().path = to + moved.back().path.substr(old.size());
            it = disk.erase(it);
        } else {
            ++it;
        }
    }
    for (auto& e : moved) disk[Upper(e.path)] = e;
}

Machine::Entry* Machine::ById(int id) {
    for (auto& [upper, entry] : disk) {
        if (entry.id == id) return &entry;
    }
    return nullptr;
}

void Machine::AddLink(const std::u16string& path, const std::u16string& target) {
    AddEntry(path, false);
    disk.at(Upper(path)).target = target;
}

Machine::Entry* Machine::Resolve(const std::u16string& path, bool follow) {
    std::vector<std::u16string> names;
    for (size_t start = path.rfind(u"\\\\?\\", 0) == 0 ? 4 : 0; start <= path.size();) {
        const size_t end = std::min(path.find_first_of(u"\\/", start), path.size());
        std::u16string name = path.substr(start, end - start);
        start = end + 1;
        if (name == u".." && names.size() > 1) names.pop_back();
        if (!name.empty() && name != u"." && name != u"..") names.push_back(name);
    }
    if (path.rfind(u"\\\\", 0) == 0 && path.rfind(u"\\\\?\\", 0) != 0 && names.size() > 1) {  // "\\server\share"
        names[1] = u"\\\\" + names[0] + u"\\" + names[1];
        names.erase(names.begin());
    }
    Entry* at = nullptr;
    for (size_t i = 0; i < names.size(); ++i) {
        Entry* found = nullptr;
        if (i == 0) {
            found = disk.count(Upper(names[0])) ? &disk.at(Upper(names[0])) : nullptr;  // the drive
        } else {
            // Its own name, an alias, or the name less the trailing dots and
            // spaces Windows drops.
            std::u16string trimmed = names[i];
            while (!trimmed.empty() && (trimmed.back() == u'.' || trimmed.back() == u' ')) trimmed.pop_back();
            for (Entry* e : Below(disk, at->path)) {
                const std::u16string own = Upper(e->path.substr(e->path.rfind(u'\\') + 1));
                if (own == Upper(names[i]) || Upper(e->alias) == Upper(names[i])) found = e;
                if (!found && own == Upper(trimmed)) found = e;
            }
        }
        if (found && !found->target.empty() && (follow || i + 1 < names.size())) found = Resolve(found->target, true);
        if (!found) return nullptr;
        at = found;
    }
    return at;
}

void Machine::AddKeyLink(const std::string& hive, const std::u16string& path, const std::string& targetHive,
                         const std::u16string& target) {
    SetValue(hive, path);
    keys.at(Upper(FromUtf8(hive) + u"\\" + path)).target = FromUtf8(targetHive) + u"\\" + target;
}

std::u16string Machine::KeyAt(const std::u16string& path, bool follow) const {
    std::u16string at;
    for (size_t start = 0; start <= path.size();) {
        const size_t end = std::min(path.find(u'\\', start), path.size());
        at += (at.empty() ? u"" : u"\\") + path.substr(start, end - start);
        start = end + 1;
        // A chain of links is followed, as far as the platform goes.
        for (int hops = 0; hops < 16 && (follow || end < path.size()); ++hops) {
            const auto key = keys.find(Upper(at));
            if (key == keys.end() || key->second.target.empty()) break;
            at = key->second.target;
        }
    }
    return at;
}

std::u16string Machine::ShortPath(const std::u16string& path) {
    const Entry* entry = Resolve(path, true);
    if (!entry) return path;
    const size_t slash = entry->path.rfind(u'\\');
    if (slash == std::u16string::npos) return entry->path;
    return ShortPath(entry->path.substr(0, slash)) + u"\\" + (entry->alias.empty() ? entry->path.substr(slash + 1) : entry->alias);
}

std::vector<std::string> Machine::Describe() const {
    std::vector<std::string> lines;
    for (const auto& [upper, key] : keys) {
        const size_t slash = key.path.find(u'\\');
        if (slash == std::u16string::npos) continue;  // a hive
        const std::string at = Text(key.path.substr(0, slash), key.path.substr(slash + 1));
        if (!key.target.empty()) {
            const size_t to = key.target.find(u'\\');
            lines.push_back("link " + at + " -> " + Text(key.target.substr(0, to), key.target.substr(to + 1)));
            continue;
        }
        lines.push_back("key " + at);
        for (const auto& [name, value] : key.values) {
            lines.push_back("value " + at + " | " + ToUtf8(value.name) + " = " + (value.dword ? "#" : "") + ToUtf8(value.data));
        }
    }
    for (const auto& p : products) lines.push_back("product " + ToUtf8(p.name));
    for (const auto& [upper, e] : disk) {
        if (e.path.find(u'\\') == std::u16string::npos) continue;  // a drive
        if (!e.target.empty()) {
            lines.push_back("link " + ToUtf8(e.path) + " -> " + ToUtf8(e.target));
            continue;
        }
        lines.push_back((e.folder ? "folder " : "file ") + ToUtf8(e.path) + (e.readOnly ? " [ro]" : "") +
                        (e.hidden ? " [hidden]" : ""));
    }
    std::sort(lines.begin(), lines.end());
    return lines;
}

}  // namespace clearstrand::memory
