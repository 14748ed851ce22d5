#pragma once

// A whole machine in memory: both registry hives, the installer's products
// and a file system, behind the management and file services. Every call the
// program makes goes through Call(), which logs it and hands it to the one
// fault hook.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/files.h"
#include "platform/management.h"

namespace clearstrand::memory {

// The upper case names compare by (ASCII is enough here), without a
// trailing backslash.
std::u16string Upper(std::u16string text);

class Machine {
public:
    Machine();

    // Set-up, none of it logged; parents are made as needed. Hives are "HKLM", "HKCU"
    // and "HKLM64", which the program never reads. Names keep their case.
    void SetValue(const std::string& hive, const std::u16string& path, const std::u16string& name = {},
                  const std::u16string& data = {}, bool dword = false, bool expand = false);
    // A product; its package's uninstall entry and own file go with it.
    void AddProduct(const std::u16string& name, int32_t uninstallCode, const std::u16string& entry = {},
                    const std::u16string& ownFile = {});
    void AddEntry(const std::u16string& path, bool folder, bool readOnly = false, bool hidden = false, bool held = false);
    // A link to `target` that the platform cannot remove alone, as under Wine.
    void AddLink(const std::u16string& path, const std::u16string& target);
    // Renames a file or folder, with all below it; what is open stays open.
    void Move(const std::u16string& from, const std::u16string& to);
    // A registry link: a key that leads to another, in either hive.
    void AddKeyLink(const std::string& hive, const std::u16string& path, const std::string& targetHive,
                    const std::u16string& target);

    // Logs a call ("DeleteKey HKLM SOFTWARE\KTRN") and hands it to `fault`,
    // which may raise PlatformError or give a code for the call to return.
    std::optional<int32_t> Call(const std::string& call);
    std::vector<std::string> calls;
    std::function<std::optional<int32_t>(const std::string&)> fault;

    // Everything on the machine as sorted lines: "key HKLM SOFTWARE\X", "value HKLM
    // SOFTWARE\X | Name = data", "product Name", "folder C:\X", "link C:\l -> C:\Y"...
    std::vector<std::string> Describe() const;

    ManagementService& management() { return *management_; }
    FileService& files() { return *files_; }

    // Keys are "HKLM\SOFTWARE\X", files "C:\X", both by their upper case.
    struct Value { std::u16string name, data; bool dword, expand; };
    struct Key { std::u16string path; std::map<std::u16string, Value> values; std::u16string target; };
    // An entry is known by its id, as an open handle knows it, wherever it moves.
    struct Entry { std::u16string path; bool folder, readOnly, hidden, held; std::u16string target, alias; int id; };
    struct Product { int id; std::u16string name; int32_t uninstallCode; std::u16string entry, ownFile; };
    std::map<std::u16string, Key> keys;
    std::map<std::u16string, Entry> disk;
    std::vector<Product> products;

    // Where a path leads, as Windows reads it: "." and ".." first, trailing
    // dots and spaces trimmed, names in any case or by their alias, links on
    // the way followed, and the last one too when `follow`.
    Entry* Resolve(const std::u16string& path, bool follow);
    std::u16string ShortPath(const std::u16string& path);  // with every alias there is
    Entry* ById(int id);
    // The entry each path the file service has named was, when it named it.
    std::map<std::u16string, int> named;
    // Where a key's path leads ("HKLM\SOFTWARE\X"): registry links on the way
    // followed, and the last one too when `follow`.
    std::u16string KeyAt(const std::u16string& path, bool follow) const;

    // The entries directly below a key or folder, in upper-case order.
    template <typename Map>
    static std::vector<typename Map::mapped_type*> Below(Map& map, const std::u16string& at) {
        std::vector<typename Map::mapped_type*> found;
        const std::u16string prefix = Upper(at) + u"\\";
        for (auto it = map.lower_bound(prefix); it != map.end() && it->first.rfind(prefix, 0) == 0; ++it) {
            if (it->first.find(u'\\', prefix.size()) == std::u16string::npos) found.push_back(&it->second);
        }
        return found;
    }
    // Removes a key or folder and everything below it.
    template <typename Map>
    static void Erase(Map& map, const std::u16string& at) {
        const std::u16string key = Upper(at);
        map.erase(key);
        for (auto it = map.lower_bound(key + u"\\"); it != map.end() && it->first.rfind(key + u"\\", 0) == 0;) it = map.erase(it);
    }

private:
    int nextProduct_ = 1;
    int nextEntry_ = 1;
    std::unique_ptr<ManagementService> management_;
    std::unique_ptr<FileService> files_;
};

}  // namespace clearstrand::memory
