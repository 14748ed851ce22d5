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

// The 64-bit view of HKEY_LOCAL_MACHINE: a hive the provider never reaches,
// since the program reads the products' own 32-bit view.
inline constexpr int32_t kHiveLocalMachine64 = 64;

// "HKLM", "HKCU", "HKLM64"; nullopt for anything else.
std::optional<int32_t> HiveByName(const std::string& name);
std::string HiveName(int32_t hive);

class Machine {
public:
    Machine();
    ~Machine();
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    // Set-up, none of it logged. Parents are created as needed.
    void AddKey(int32_t hive, const std::u16string& path);
    void SetValue(int32_t hive, const std::u16string& path, const std::u16string& name,
                  const std::u16string& data, bool dword = false);
    // A product the installer lists; `entry` is the uninstall entry and
    // `ownFile` the file its package installed, both removed with it.
    void AddProduct(const std::u16string& name, int32_t uninstallCode,
                    const std::u16string& entry = {}, const std::u16string& ownFile = {});
    void AddFolder(const std::u16string& path);
    void AddFile(const std::u16string& path, bool readOnly, bool hidden, bool held);

    // Logs a call ("DeleteKey HKLM SOFTWARE\KTRN") and passes it to `fault`,
    // which may raise PlatformError or return a code for the call to give
    // instead of its own.
    std::optional<int32_t> Call(const std::string& call);
    std::vector<std::string> calls;
    std::function<std::optional<int32_t>(const std::string&)> fault;
    // Where program events go besides `calls` (the window's log).
    std::function<void(const std::string&)> onCall;

    // Everything on the machine as sorted lines: "key HKLM SOFTWARE\X",
    // "value HKLM SOFTWARE\X | Name = data", "product Name",
    // "folder C:\X", "file C:\X\a.txt [ro]".
    std::vector<std::string> Describe() const;

    ManagementService& management() { return *management_; }
    FileService& files() { return *files_; }

    struct Key;
    struct Entry;
    struct Product {
        int id;
        std::u16string name;
        int32_t uninstallCode;
        std::u16string entry;
        std::u16string ownFile;
    };

    Key* FindKey(int32_t hive, const std::u16string& path) const;
    void RemoveKey(int32_t hive, const std::u16string& path);
    Entry* FindEntry(const std::u16string& path) const;
    void RemoveEntry(Entry& entry);
    std::vector<Product> products;

private:
    Key& MakeKey(int32_t hive, const std::u16string& path);
    Entry& MakeEntry(const std::u16string& path);

    std::map<int32_t, std::unique_ptr<Key>> hives_;
    std::unique_ptr<Entry> disk_;
    int nextProduct_ = 1;
    std::unique_ptr<ManagementService> management_;
    std::unique_ptr<FileService> files_;
};

struct Machine::Key {
    std::u16string name;
    std::map<std::u16string, std::unique_ptr<Key>> subkeys;  // by upper-cased name
    struct Value {
        std::u16string name;
        std::u16string data;
        bool dword = false;
    };
    std::map<std::u16string, Value> values;  // by upper-cased name
};

struct Machine::Entry {
    bool folder = true;
    std::u16string name;
    std::u16string path;
    Entry* parent = nullptr;
    bool readOnly = false;
    bool hidden = false;
    bool held = false;
    std::map<std::u16string, std::unique_ptr<Entry>> children;  // by upper-cased name
};

// Upper case for the names the registry and the file system compare without
// regard to case (ASCII is enough for the scenarios).
std::u16string Upper(std::u16string text);

}  // namespace clearstrand::memory
