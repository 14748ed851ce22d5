#pragma once

// Random machines for the reliability tests, and an oracle that says, from
// the registry alone, what the selection tree and installedProducts must hold.
// The oracle is written from the catalog rules on its own: it shares no code
// with discovery, so a fault in the catalog helpers cannot hide itself.

#include <algorithm>
#include <cstdint>
#include <optional>
#include <ostream>
#include <random>
#include <set>
#include <string>
#include <vector>

#include "app/form1.h"
#include "memory/fold.h"
#include "memory/memory_files.h"
#include "memory/memory_installer.h"
#include "memory/memory_registry.h"
#include "platform/errors.h"
#include "platform/tree.h"

namespace clearstrand::testing {

inline const std::u16string kSoftware = u"SOFTWARE";
inline const std::u16string kUninstallRoot = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// The catalog, restated from the rules.
inline const std::vector<std::u16string> kMiscKeys = {
    u"Lanternix Software", u"ModelHarbor", u"KTRN", u"Castwell", u"Veltramark Stockroom", u"QBEL"};
inline const std::vector<std::u16string> kFlagshipReleases = {
    u"Veltramark 2001", u"Veltramark 2001Plus", u"Veltramark 2002", u"Veltramark 2003",
    u"Veltramark 2004", u"Veltramark 2005", u"Veltramark 2006", u"Veltramark 2007"};
inline const std::vector<std::u16string> kPlanoviewReleases = {
    u"p2001", u"p2001Plus", u"p2002", u"p2003", u"p2004", u"p2005", u"p2006", u"p2007"};
inline const std::vector<std::u16string> kCategoryKeys = {u"Root", u"registry", u"VT", u"pV", u"TML"};

struct VersionRow {
    const char16_t* namePrefix;
    const char16_t* versionPrefix;
    const char16_t* parent;
};
inline const std::vector<VersionRow> kVersionRows = {
    {u"Veltramar", u"9.", u"Veltramark 2001"}, {u"Veltramar", u"10", u"Veltramark 2001Plus"},
    {u"Veltramar", u"11", u"Veltramark 2003"}, {u"Veltramar", u"12", u"Veltramark 2004"},
    {u"Veltramar", u"13", u"Veltramark 2005"}, {u"Veltramar", u"14", u"Veltramark 2006"},
    {u"Veltramar", u"15", u"Veltramark 2007"}, {u"Planoview", u"1.", u"p2001"},
    {u"Planoview", u"2.", u"p2001Plus"},       {u"Planoview", u"3.", u"p2003"},
    {u"Planoview", u"4.", u"p2004"},           {u"Planoview", u"5.", u"p2005"},
    {u"Planoview", u"6.", u"p2006"},           {u"Planoview", u"7.", u"p2007"},
    {u"Tracemill", u"13", u"TML"},             {u"Tracemill", u"14", u"TML"},
    {u"Tracemill", u"15", u"TML"}};

inline bool Contains(const std::vector<std::u16string>& list, const std::u16string& name) {
    return std::find(list.begin(), list.end(), name) != list.end();
}

// ---------------------------------------------------------------------------
// The machine as plain data, so that every fault-injection run can rebuild a
// fresh copy of it.

struct GenValue {
    std::u16string name;
    bool isString = true;
    std::u16string text;
    uint32_t number = 0;
};

struct GenKey {
    int32_t hive;
    std::u16string path;
    std::vector<GenValue> values;
    std::optional<int32_t> deleteRefused;
};

struct GenProduct {
    std::u16string name;
    int32_t uninstallCode = 0;
};

struct GenFile {
    enum class Kind { Folder, File, ReadOnlyFile, InUseFile, Link };
    Kind kind;
    std::u16string path;
    std::u16string target;  // links only
};

struct Machine {
    std::vector<GenKey> keys;
    std::vector<GenProduct> products;
    std::vector<GenFile> files;
    // Program folders that an erase may take with everything below them.
    std::vector<std::u16string> safeLocations;
    bool deleteKeyRemovesSubtree = false;
    // Registry calls that raise instead of returning.
    std::vector<std::string> failingCalls;
};

inline void Apply(const Machine& machine, MemoryRegistry& registry, MemoryInstaller& installer,
                  MemoryFileService& files) {
    registry.deleteKeyRemovesSubtree = machine.deleteKeyRemovesSubtree;
    for (const GenKey& key : machine.keys) {
        registry.CreateKey(key.hive, key.path);
        for (const GenValue& value : key.values) {
            if (value.isString) {
                registry.SetString(key.hive, key.path, value.name, value.text);
            } else {
                registry.SetDword(key.hive, key.path, value.name, value.number);
            }
        }
        if (key.deleteRefused) registry.SetDeleteRefused(key.hive, key.path, *key.deleteRefused);
    }
    for (const std::string& call : machine.failingCalls) registry.FailCall(call);
    for (const GenProduct& product : machine.products) installer.AddProduct(product.name, product.uninstallCode);
    for (const GenFile& file : machine.files) {
        switch (file.kind) {
            case GenFile::Kind::Folder: files.AddFolder(file.path); break;
            case GenFile::Kind::File: files.AddFile(file.path); break;
            case GenFile::Kind::ReadOnlyFile: files.AddFile(file.path, true); break;
            case GenFile::Kind::InUseFile:
                files.AddFile(file.path);
                files.SetInUse(file.path);
                break;
            case GenFile::Kind::Link: files.AddLink(file.path, file.target); break;
        }
    }
}

// ---------------------------------------------------------------------------
// Generator.

struct GeneratorOptions {
    int maxSoftwareKeys = 9;
    int maxContainerKeys = 7;
    int maxEntries = 9;
    int maxProducts = 6;
    bool files = true;
    // Entries that match a release key the machine has, so that the tree
    // holds products to tick.
    bool coherent = false;
    // Near-misses beside catalog keys: the same name with a trailing space,
    // a prefix, a letter more or less, and in other case in the other hive.
    bool decoys = false;
};

class MachineGenerator {
public:
    explicit MachineGenerator(uint64_t seed) : rng_(seed) {}

    Machine Generate(const GeneratorOptions& options = {}) {
        options_ = options;
        Machine m;
        m.deleteKeyRemovesSubtree = Chance(30);
        std::vector<std::u16string> displayNames;
        for (int32_t hive : {kHiveLocalMachine, kHiveCurrentUser}) {
            const std::u16string software = Chance(85) ? kSoftware : Mutate(kSoftware, 100);
            m.keys.push_back({hive, software, {}, {}});
            const int count = Upto(options.maxSoftwareKeys);
            for (int i = 0; i < count; ++i) {
                AddCatalogKey(m, hive, software + u"\\" + SoftwareChildName());
            }
            for (const char16_t* container : {u"Veltramark", u"Planoview"}) {
                if (!Chance(65)) continue;
                const std::u16string name = Chance(85) ? std::u16string(container) : Mutate(container, 100);
                const std::u16string path = software + u"\\" + name;
                m.keys.push_back({hive, path, {}, {}});
                const int children = Upto(options.maxContainerKeys);
                std::vector<std::u16string> childNames;
                for (int i = 0; i < children; ++i) {
                    childNames.push_back(ContainerChildName());
                    AddCatalogKey(m, hive, path + u"\\" + childNames.back());
                }
                if (options.decoys && Chance(40)) {
                    // The container in other case in the other hive, holding
                    // release names: nothing may be looked for inside it.
                    const int32_t other = hive == kHiveLocalMachine ? kHiveCurrentUser : kHiveLocalMachine;
                    std::u16string near = container;
                    for (auto& c : near) {
                        if (c >= u'A' && c <= u'Z') c += 32;
                    }
                    if (Chance(50)) near = memory_detail::Fold(container);
                    for (const auto& child : childNames) {
                        m.keys.push_back({other, kSoftware + u"\\" + near + u"\\" + child, {}, {}});
                    }
                }
            }
            // Catalog names at depths where nothing looks for them.
            if (Chance(30)) m.keys.push_back({hive, AnyCatalogName(), {}, {}});
            if (Chance(30)) m.keys.push_back({hive, software + u"\\Other\\" + AnyCatalogName(), {}, {}});
            if (Chance(20)) {
                m.keys.push_back({hive, software + u"\\Wow6432Node\\Veltramark\\" + Pick(kFlagshipReleases), {}, {}});
            }
        }
        // Uninstall entries: read from HKLM only; HKCU's copies are decoys.
        const int entries = Upto(options.maxEntries);
        std::set<std::u16string> entryNames;
        for (int i = 0; i < entries; ++i) {
            const int32_t hive = Chance(85) ? kHiveLocalMachine : kHiveCurrentUser;
            std::u16string entry = EntryName();
            GenKey key{hive, kUninstallRoot + u"\\" + entry, {}, {}};
            std::u16string displayName = DisplayName();
            std::u16string displayVersion = DisplayVersion();
            if (options.coherent && Chance(60)) {
                const VersionRow& rule = Pick(kVersionRows);
                const std::u16string prefix = rule.namePrefix;
                displayName = (prefix == u"Veltramar" ? u"Veltramark" : prefix) + u" " + Number(Upto(40)) +
                              (Chance(30) ? u" SP1" : u"");
                const std::u16string version = rule.versionPrefix;
                displayVersion = version + (version.back() == u'.' ? u"0" : u".0");
                const std::u16string parent = rule.parent;
                if (parent != u"TML") {
                    const std::u16string container = prefix == u"Veltramar" ? u"Veltramark" : u"Planoview";
                    AddCatalogKey(m, Chance(50) ? kHiveLocalMachine : kHiveCurrentUser,
                                  kSoftware + u"\\" + container + u"\\" + parent);
                }
            }
            AddValue(key, u"DisplayName", displayName);
            AddValue(key, u"DisplayVersion", displayVersion);
            const bool safe = Chance(60);
            const std::u16string location = safe ? SafeLocation() : DangerousLocation();
            AddValue(key, u"InstallLocation", location);
            if (Chance(10)) key.values.push_back({u"UninstallString", true, u"msiexec /x " + entry, 0});
            if (safe && !location.empty()) {
                m.safeLocations.push_back(location);
                if (options.files) AddProgramFolder(m, location);
            }
            if (Chance(20)) m.keys.push_back({hive, key.path + u"\\" + u"Sub", {}, {}});
            if (hive == kHiveLocalMachine && Chance(8)) {
                // A value read that raises: population skips it.
                const std::string prefix = "GetStringValue " + std::to_string(hive) + " " + ToUtf8(key.path) + " ";
                m.failingCalls.push_back(prefix + (Chance(50) ? "DisplayName" : "InstallLocation"));
            }
            displayNames.push_back(displayName);
            entryNames.insert(entry);
            m.keys.push_back(std::move(key));
        }
        // Installed products: mostly named like the entries, some like other
        // keys of the tree, some twice.
        const int products = Upto(options.maxProducts);
        for (int i = 0; i < products; ++i) {
            std::u16string name;
            if (!displayNames.empty() && Chance(65)) {
                name = Pick(displayNames);
            } else if (Chance(50)) {
                name = AnyCatalogName();
            } else {
                name = Mutate(Pick(displayNames.empty() ? kFlagshipReleases : displayNames), 100);
            }
            m.products.push_back({name, UninstallCode()});
            if (Chance(10)) m.products.push_back({name, UninstallCode()});
        }
        if (options.files) AddBystanders(m);
        return m;
    }

    bool Chance(int percent) { return std::uniform_int_distribution<int>(0, 99)(rng_) < percent; }
    int Upto(int max) { return std::uniform_int_distribution<int>(0, max)(rng_); }
    template <typename T>
    const T& Pick(const std::vector<T>& list) {
        return list[std::uniform_int_distribution<size_t>(0, list.size() - 1)(rng_)];
    }

    // The name with, `percent` of the time, one hostile change.
    std::u16string Mutate(std::u16string name, int percent) {
        if (!Chance(percent) || name.empty()) return name;
        switch (Upto(11)) {
            case 0: for (auto& c : name) if (c >= u'A' && c <= u'Z') c += 32; break;
            case 1: for (auto& c : name) if (c >= u'a' && c <= u'z') c -= 32; break;
            case 2: {
                auto& c = name[static_cast<size_t>(Upto(static_cast<int>(name.size()) - 1))];
                if (c >= u'a' && c <= u'z') c -= 32; else if (c >= u'A' && c <= u'Z') c += 32;
                break;
            }
            case 3: name += u' '; break;
            case 4: name = (Chance(50) ? u"x" : u" ") + name; break;
            case 5: name += Chance(50) ? u" Tools" : u"X"; break;
            case 6: name.pop_back(); break;
            case 7: name += Chance(50) ? u"\u00e9" : u"\u0416"; break;           // Latin-1, Cyrillic
            case 8: name.insert(name.begin() + 1, u'\u00a0'); break;            // no-break space
            case 9: name += u"\U0001F600"; break;                               // a surrogate pair
            case 10: name.resize(255, Chance(50) ? u'x' : u'\u00e9'); break;   // longest key name
            default: name[0] = name[0] == u'V' ? u'\u0412' : u'\u00c4'; break;  // a look-alike letter
        }
        return name;
    }

private:
    void AddValue(GenKey& key, const std::u16string& name, const std::u16string& text) {
        const int roll = Upto(99);
        if (roll < 8) return;                                       // missing
        if (roll < 14) { key.values.push_back({name, false, {}, 13}); return; }  // a DWORD
        if (roll < 19) { key.values.push_back({name, true, u"", 0}); return; }   // empty
        key.values.push_back({name, true, text, 0});
    }

    void AddCatalogKey(Machine& m, int32_t hive, const std::u16string& path) {
        GenKey key{hive, path, {}, {}};
        if (Chance(40)) key.values.push_back({u"Path", true, u"C:\\Data", 0});
        if (Chance(10)) key.values.push_back({u"Build", false, {}, 42});
        if (Chance(8)) key.deleteRefused = kRegAccessDenied;
        m.keys.push_back(key);
        if (options_.decoys && Chance(35)) {
            const size_t cut = path.rfind(u'\\');
            const std::u16string parent = path.substr(0, cut + 1), name = path.substr(cut + 1);
            static const std::vector<std::u16string> prefixes = {u"x", u" ", u"_"};
            static const std::vector<std::u16string> suffixes = {u"X", u" (old)", u"\u00e9", u"\u00a0"};
            m.keys.push_back({hive, parent + name + u" ", {{u"Path", true, u"C:\\Decoy", 0}}, {}});
            m.keys.push_back({hive, parent + Pick(prefixes) + name, {}, {}});
            m.keys.push_back({hive, parent + name + Pick(suffixes), {}, {}});
            if (name.size() > 1) m.keys.push_back({hive, parent + name.substr(0, name.size() - 1), {}, {}});
            std::u16string other = name;
            for (auto& c : other) {
                if (c >= u'a' && c <= u'z') c -= 32; else if (c >= u'A' && c <= u'Z') c += 32;
            }
            m.keys.push_back({hive == kHiveLocalMachine ? kHiveCurrentUser : kHiveLocalMachine, parent + other, {}, {}});
        }
        // Subkeys make the deletion recurse.
        const int children = Chance(40) ? Upto(3) : 0;
        for (int i = 0; i < children; ++i) {
            GenKey child{hive, path + u"\\" + (Chance(50) ? u"Settings" : Mutate(u"Sub" + Number(i), 50)), {}, {}};
            if (Chance(30)) child.values.push_back({u"Value", true, u"1", 0});
            if (Chance(6)) child.deleteRefused = kRegAccessDenied;
            m.keys.push_back(child);
            if (Chance(30)) m.keys.push_back({hive, child.path + u"\\Deep", {}, {}});
        }
    }

    std::u16string Number(int i) {
        const std::string digits = std::to_string(i);
        return std::u16string(digits.begin(), digits.end());
    }

    std::u16string AnyCatalogName() {
        switch (Upto(5)) {
            case 0: return Pick(kMiscKeys);
            case 1: return Pick(kFlagshipReleases);
            case 2: return Pick(kPlanoviewReleases);
            case 3: return Pick(kCategoryKeys);
            case 4: return Chance(50) ? u"Veltramark" : u"Planoview";
            default: return u"Tracemill";
        }
    }

    std::u16string SoftwareChildName() {
        if (Chance(55)) return Mutate(Pick(kMiscKeys), 35);
        if (Chance(30)) return Mutate(AnyCatalogName(), 40);
        static const std::vector<std::u16string> others = {u"Microsoft", u"Classes", u"Policies", u"Wow6432Node",
                                                            u"Tracemill", u"Lanternix"};
        return Mutate(Pick(others), 20);
    }

    std::u16string ContainerChildName() {
        if (Chance(70)) return Mutate(Pick(Chance(50) ? kFlagshipReleases : kPlanoviewReleases), 30);
        static const std::vector<std::u16string> others = {u"Veltramark 2008", u"p2000", u"Shared", u"KTRN",
                                                            u"Veltramark"};
        return Mutate(Pick(others), 30);
    }

    std::u16string EntryName() {
        static const std::vector<std::u16string> names = {
            u"{6A1F2C34-0B7D-4E21-9C55-11AA22BB33CC}", u"Veltramark 2005", u"Tracemill", u"Planoview 5",
            u"KTRN", u"Root", u"Microsoft Edge"};
        return Mutate(Pick(names), 50) + Number(Upto(99));
    }

    std::u16string DisplayName() {
        static const std::vector<std::u16string> names = {
            u"Veltramark 2005 SP1", u"Veltramark 2003", u"Veltramark 2001 Plus", u"Veltramarine Tools",
            u"Veltramark", u"Planoview 5", u"Planoview 2001", u"Planoview", u"Tracemill 13",
            u"Tracemill Pro", u"Tracemill", u"Veltramar", u"Velt", u"Planoviewer"};
        switch (Upto(9)) {
            case 0: return AnyCatalogName();  // collides with a node key
            case 1: return Mutate(Pick(names), 100);
            case 2: return Pick(names) + u" " + Number(Upto(3));
            case 3: {
                // Long values: longer than any key name, and a surrogate pair
                // across the ninth code unit.
                if (Chance(50)) return std::u16string(u"Veltramark") + std::u16string(600, u'q');
                return u"Veltrama\U0001F600rk";
            }
            default: return Pick(names);
        }
    }

    std::u16string DisplayVersion() {
        static const std::vector<std::u16string> versions = {
            u"9.", u"9", u"9.0", u"10", u"10.1", u"11.0", u"12.5", u"13.0.1", u"14", u"15.2", u"1.4",
            u"2.0", u"3.1", u"4.", u"5.5", u"6.0", u"7.1", u"12.0", u"16.0", u"1", u"", u"\u0661\u0663"};
        return Mutate(Pick(versions), 10);
    }

    std::u16string SafeLocation() {
        static const std::vector<std::u16string> folders = {
            u"C:\\Program Files\\Veltramark\\Veltramark 2005", u"C:\\Program Files (x86)\\Planoview 5",
            u"D:\\Apps\\Tracemill 13", u"C:\\Program Files\\Veltramark\\Veltramark 2003",
            u"C:\\Tools\\Veltramark", u"C:\\Program Files\\Common Files\\Veltramark Shared"};
        std::u16string folder = Pick(folders);
        if (Chance(20)) folder = memory_detail::Fold(folder);  // same folder, other case
        if (Chance(10)) folder += u"\\";
        return folder;
    }

    std::u16string DangerousLocation() {
        static const std::vector<std::u16string> folders = {
            u"", u"C:\\", u"C:", u"C:\\Windows", u"C:\\Windows\\System32", u"C:\\Program Files",
            u"c:\\program files (x86)", u"C:\\Users\\user\\Documents", u"C:\\Users", u"C:\\ProgramData",
            u"Veltramark\\bin", u"\\\\server\\share", u"C:\\Program Files\\Veltramark\\..\\..\\Windows",
            u"C:\\PROGRA~1\\Veltramark", u"C:\\Program Files\\Common Files", u"C:/Windows/Temp"};
        return Pick(folders);
    }

    // The program folder with files, a read-only file, a subfolder, now and
    // then a file in use and a link out to something the user keeps.
    void AddProgramFolder(Machine& m, std::u16string folder) {
        while (!folder.empty() && folder.back() == u'\\') folder.pop_back();
        m.files.push_back({GenFile::Kind::Folder, folder, {}});
        m.files.push_back({GenFile::Kind::File, folder + u"\\app.exe", {}});
        if (Chance(50)) m.files.push_back({GenFile::Kind::ReadOnlyFile, folder + u"\\readme.txt", {}});
        if (Chance(60)) m.files.push_back({GenFile::Kind::File, folder + u"\\bin\\lib\\core.dll", {}});
        if (Chance(10)) m.files.push_back({GenFile::Kind::InUseFile, folder + u"\\bin\\locked.dll", {}});
        if (Chance(25)) {
            m.files.push_back({GenFile::Kind::Link, folder + u"\\Documents", u"C:\\Users\\user\\Documents"});
        }
    }

    // What the user keeps: nothing here may ever go.
    void AddBystanders(Machine& m) {
        for (const char16_t* path :
             {u"C:\\Windows\\System32\\kernel32.dll", u"C:\\Users\\user\\Documents\\thesis.docx",
              u"C:\\Users\\user\\Desktop\\photo.jpg", u"C:\\Program Files\\Other App\\other.exe",
              u"C:\\Program Files\\Common Files\\shared.dll", u"C:\\ProgramData\\settings.dat",
              u"C:\\Program Files\\Veltramark\\keep.txt", u"D:\\Apps\\notes.txt",
              u"C:\\Tools\\other\\tool.exe"}) {
            m.files.push_back({GenFile::Kind::File, path, {}});
        }
    }

    int32_t UninstallCode() {
        const int roll = Upto(99);
        if (roll < 70) return 0;
        if (roll < 78) return 3010;
        if (roll < 84) return 1641;
        return 1603;
    }

    std::mt19937_64 rng_;
    GeneratorOptions options_;
};

// ---------------------------------------------------------------------------
// Oracle: what population must build from this registry.

struct ExpectedNode {
    std::u16string key;
    std::u16string text;
    std::u16string parent;  // empty for "Root"
    bool expanded = false;
    bool bold = false;

    bool operator==(const ExpectedNode&) const = default;
};

inline void PrintTo(const ExpectedNode& node, std::ostream* out) {
    *out << "{" << ToUtf8(node.parent) << " / " << ToUtf8(node.key) << " \"" << ToUtf8(node.text) << "\""
         << (node.expanded ? " expanded" : "") << (node.bold ? " bold" : "") << "}";
}

struct ExpectedPopulation {
    std::vector<ExpectedNode> nodes;  // in index order
    std::vector<ProductRow> rows;
};

inline std::u16string Prefix(const std::u16string& text, size_t length) { return text.substr(0, length); }

// The value as population must see it: empty when missing, of another type,
// or when reading it raises.
inline std::u16string ReadValue(const MemoryRegistry& registry, const std::u16string& path,
                                const std::u16string& name) {
    const std::string call =
        "GetStringValue " + std::to_string(kHiveLocalMachine) + " " + ToUtf8(path) + " " + ToUtf8(name);
    if (registry.failingCalls.count(call)) return {};
    return registry.GetString(kHiveLocalMachine, path, name).value_or(u"");
}

inline ExpectedPopulation ExpectPopulation(const MemoryRegistry& registry) {
    ExpectedPopulation out;
    std::set<std::u16string> keys;
    std::set<std::u16string> found;
    const auto add = [&](const std::u16string& parent, const std::u16string& key, const std::u16string& text,
                         bool expanded, bool bold) {
        if (!keys.insert(key).second) return false;
        out.nodes.push_back({key, text, parent, expanded, bold});
        return true;
    };
    add(u"", u"Root", u"All Veltramark Software", true, true);
    add(u"Root", u"registry", u"Miscellaneous Registry Keys", true, true);
    add(u"Root", u"VT", u"Veltramark", true, true);
    add(u"Root", u"pV", u"Planoview", true, true);
    add(u"Root", u"TML", u"Tracemill", true, true);

    for (int32_t hive : {kHiveLocalMachine, kHiveCurrentUser}) {
        for (const std::u16string& name : registry.SubKeys(hive, kSoftware)) {
            if (Contains(kMiscKeys, name)) {
                if (!found.count(name)) {
                    found.insert(name);
                    add(u"registry", name, name, false, false);
                }
                continue;
            }
            const bool flagship = name == u"Veltramark";
            if (!flagship && name != u"Planoview") continue;
            const auto& releases = flagship ? kFlagshipReleases : kPlanoviewReleases;
            for (const std::u16string& release : registry.SubKeys(hive, kSoftware + u"\\" + name)) {
                if (!Contains(releases, release) || found.count(release)) continue;
                found.insert(release);
                add(flagship ? u"VT" : u"pV", release,
                    release + (flagship ? u" (registry key)" : u" (Registry Key)"), true, false);
            }
        }
    }

    for (const std::u16string& entry : registry.SubKeys(kHiveLocalMachine, kUninstallRoot)) {
        const std::u16string path = kUninstallRoot + u"\\" + entry;
        out.rows.push_back({entry, ReadValue(registry, path, u"DisplayName"),
                            ReadValue(registry, path, u"DisplayVersion"),
                            ReadValue(registry, path, u"InstallLocation")});
    }
    for (const ProductRow& row : out.rows) {
        const std::u16string name = Prefix(row[1], 9);
        const std::u16string version = Prefix(row[2], 2);
        for (const VersionRow& rule : kVersionRows) {
            if (name != rule.namePrefix || version != rule.versionPrefix) continue;
            const std::u16string parent = rule.parent;
            if (parent == u"TML" || found.count(parent)) add(parent, row[1], row[1], false, false);
            break;
        }
    }

    // Empty categories go; "Root" stays.
    std::vector<ExpectedNode> kept;
    for (const ExpectedNode& node : out.nodes) {
        const bool category = node.parent == u"Root" && Contains(kCategoryKeys, node.key);
        const bool hasChildren = std::any_of(out.nodes.begin(), out.nodes.end(),
                                             [&](const ExpectedNode& n) { return n.parent == node.key; });
        if (!category || hasChildren) kept.push_back(node);
    }
    out.nodes = std::move(kept);
    return out;
}

// The tree as the oracle describes it.
inline std::vector<ExpectedNode> ActualNodes(TreeView& tree) {
    std::vector<ExpectedNode> nodes;
    TreeNodes& all = tree.Nodes();
    for (int32_t i = 1; i <= all.Count(); ++i) {
        TreeNode& node = all.Item(i);
        nodes.push_back({node.Key(), node.Text(), node.Parent() ? node.Parent()->Key() : u"", node.Expanded(),
                         node.Bold()});
    }
    return nodes;
}

// The promises that hold for any registry, checked from the rules alone;
// returns the broken ones.
inline std::vector<std::string> CheckInvariants(TreeView& tree, const std::vector<ProductRow>& rows,
                                                const MemoryRegistry& registry) {
    std::vector<std::string> broken;
    const auto fail = [&](const std::string& what, const std::u16string& key) {
        broken.push_back(what + ": " + ToUtf8(key));
    };
    const auto hasSubKey = [&](int32_t hive, const std::u16string& path, const std::u16string& name) {
        const auto names = registry.SubKeys(hive, path);
        return std::find(names.begin(), names.end(), name) != names.end();
    };
    const auto inContainer = [&](const std::u16string& container, const std::u16string& name) {
        for (int32_t hive : {kHiveLocalMachine, kHiveCurrentUser}) {
            if (hasSubKey(hive, kSoftware, container) && hasSubKey(hive, kSoftware + u"\\" + container, name)) {
                return true;
            }
        }
        return false;
    };
    const auto productUnder = [&](const std::u16string& parent, const std::u16string& key) {
        for (const ProductRow& row : rows) {
            if (row[1] != key) continue;
            for (const VersionRow& rule : kVersionRows) {
                if (parent == rule.parent && Prefix(row[1], 9) == rule.namePrefix &&
                    Prefix(row[2], 2) == rule.versionPrefix) {
                    return true;
                }
            }
        }
        return false;
    };

    if (rows.size() != registry.SubKeys(kHiveLocalMachine, kUninstallRoot).size()) {
        broken.push_back("installedProducts has " + std::to_string(rows.size()) + " rows, not one per entry");
    }
    TreeNodes& all = tree.Nodes();
    std::set<std::u16string> keys;
    for (int32_t i = 1; i <= all.Count(); ++i) {
        TreeNode& node = all.Item(i);
        const std::u16string key = node.Key();
        if (!keys.insert(key).second) fail("duplicate key", key);
        if (node.Checked()) fail("checked after population", key);
        int depth = 1;
        for (TreeNode* up = node.Parent(); up; up = up->Parent()) ++depth;
        if (depth > 4) fail("deeper than four levels", key);
        int32_t children = 0;
        for (TreeNode* child = node.Child(); child; child = child->Next()) {
            if (child->Parent() != &node) fail("child whose parent is another node", child->Key());
            ++children;
        }
        if (children != node.Children()) fail("Children disagrees with the child walk", key);

        TreeNode* parentNode = node.Parent();
        if (!parentNode) {
            if (i != 1 || key != u"Root") fail("top-level node other than Root at 1", key);
            continue;
        }
        const std::u16string parent = parentNode->Key();
        const std::u16string text = node.Text();
        if (parent == u"Root") {
            if (!Contains(kCategoryKeys, key)) fail("unjustified child of Root", key);
            if (children == 0) fail("empty category", key);
        } else if (parent == u"registry") {
            if (!Contains(kMiscKeys, key) || text != key ||
                !(hasSubKey(kHiveLocalMachine, kSoftware, key) || hasSubKey(kHiveCurrentUser, kSoftware, key))) {
                fail("unjustified miscellaneous node", key);
            }
        } else if (parent == u"VT" || parent == u"pV") {
            const bool flagship = parent == u"VT";
            if (!Contains(flagship ? kFlagshipReleases : kPlanoviewReleases, key) ||
                text != key + (flagship ? u" (registry key)" : u" (Registry Key)") ||
                !inContainer(flagship ? u"Veltramark" : u"Planoview", key)) {
                fail("unjustified release node", key);
            }
        } else if (!productUnder(parent, key) || text != key) {
            fail("unjustified installed-product node", key);
        }
    }
    if (all.Count() == 0) broken.push_back("tree without Root");
    return broken;
}

}  // namespace clearstrand::testing
