// Plays the scenarios of real.txt against clearstrand.exe under Wine: the
// machine is seeded through the registry, installer and file API, the
// program is driven from outside as a user drives it, and afterwards the
// whole machine must have changed exactly as the scenario declares.
//
//   player.exe CLEARSTRAND_EXE MAKE_MSI MSI_FOLDER SCENARIO_FILE...   (Unix paths)
//
// Besides the scenario steps it takes four that only the real program can:
//   planted FOLDER | NAME...  the program runs from FOLDER, its current folder,
//                             beside stand-ins NAME.dll that Wine loads from
//                             there if anything asks for them by name; a
//                             stand-in leaves NAME.dll.loaded there once loaded
//   bulk FOLDER | N | M       N folders of M empty files each, made from Unix
//   probe CAPTION             during the next start the window is asked every
//                             250 ms; it must answer within 1 s and never be
//                             hung; CAPTION's box is clicked during the run
//   report DLL | TEXT         the program runs without Wine's DLL; after the
//                             disclaimer its error report must stay up, say
//                             TEXT and a reason, and the program end in error

#include <windows.h>

#include <msi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cstdio>
#include <map>
#include <memory>
#include <set>
#include <thread>

#include "platform/errors.h"
#include "platform/management.h"
#include "platform/windows/handles.h"
#include "platform/windows/main_window.h"
#include "platform/windows/registry_links.h"
#include "platform/windows/wide_strings.h"
#include "platform/windows/win32_files.h"
#include "platform/windows/wmi_management.h"
#include "removal/folder_safety.h"
#include "scenario/scenario.h"
#include "wine/driver.h"

namespace clearstrand::scenario {
namespace {

using namespace win32;
using namespace std::chrono_literals;
namespace drv = clearstrand::driver;
std::wstring g_exe, g_msis, g_planted;
std::string g_makeMsi, g_msiDir;  // scripts/make-msi.sh and the packages' folder, as Unix paths

std::wstring W(const std::string& text) { return ToWide(FromUtf8(text)); }
std::string U(const std::wstring& text) { return ToUtf8(FromWide(text)); }
std::wstring Long(const std::wstring& path) { return L"\\\\?\\" + path; }  // past 260 characters, names as given
bool Exists(const std::wstring& path) { return GetFileAttributesW(Long(path).c_str()) != INVALID_FILE_ATTRIBUTES; }


struct Hive { std::string name; HKEY root; REGSAM view; };

Hive HiveOf(const std::string& name) {
    if (name == "HKLM") return {name, HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY};  // the program's view (ConnectStdRegProv)
    if (name == "HKLM64") return {name, HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY};
    return {"HKCU", HKEY_CURRENT_USER, 0};
}

// Read, a registry link is opened itself, not what it leads to.
UniqueRegKey OpenKey(const Hive& hive, const std::wstring& path, bool create, DWORD options = 0) {
    UniqueRegKey key;
    if (create) RegCreateKeyExW(hive.root, path.c_str(), 0, nullptr, options, KEY_ALL_ACCESS | hive.view, nullptr, key.put(), nullptr);
    else RegOpenKeyExW(hive.root, path.c_str(), REG_OPTION_OPEN_LINK, KEY_READ | hive.view, key.put());
    return key;
}

// A registry link's target as it holds it, the native path; empty for a key that is no link.
std::wstring LinkTarget(HKEY key) {
    wchar_t target[1024] = {};
    DWORD type = 0, size = sizeof(target) - sizeof(wchar_t);
    const bool link = !RegQueryValueExW(key, L"SymbolicLinkValue", nullptr, &type, reinterpret_cast<BYTE*>(target), &size) && type == REG_LINK;
    return link ? std::wstring(target, size / sizeof(wchar_t)) : L"";
}

// A key's own name in the registry, "\REGISTRY\Machine\...".
std::wstring NativeName(HKEY key) {
    using Query = LONG(NTAPI*)(HANDLE, int, void*, ULONG, ULONG*);
    static const auto query = reinterpret_cast<Query>(reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"ntdll.dll"), "NtQueryKey")));
    alignas(ULONG) BYTE info[2048] = {};
    ULONG needed = 0;
    if (query(key, 3, info, sizeof(info), &needed)) throw std::runtime_error("no name for a key");  // KeyNameInformation
    return std::wstring(reinterpret_cast<const wchar_t*>(info + sizeof(ULONG)), *reinterpret_cast<const ULONG*>(info) / sizeof(wchar_t));
}

std::vector<std::wstring> SubKeys(HKEY key) {
    std::vector<std::wstring> names;
    wchar_t name[256];
    for (DWORD i = 0, length = 256; !RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr); ++i, length = 256) {
        names.emplace_back(name);
    }
    return names;
}

// Every key below `path`, with its values and their data.
void DumpKey(const Hive& hive, const std::wstring& path, std::vector<std::string>& out) {
    const UniqueRegKey key = OpenKey(hive, path, false);
    if (!key) return;
    const std::string at = hive.name + " " + U(path);
    if (const std::wstring target = LinkTarget(key.get()); !target.empty()) return out.push_back("link " + at + " -> " + U(target));
    out.push_back("key " + at);
    wchar_t name[16384];
    BYTE data[16384];
    for (DWORD i = 0, length = 16384, type = 0, size = sizeof(data) - 2;
         !RegEnumValueW(key.get(), i, name, &length, nullptr, &type, data, &size); ++i, length = 16384, size = sizeof(data) - 2) {
        data[size] = data[size + 1] = 0;
        std::string text = type == REG_DWORD ? "#" + std::to_string(*reinterpret_cast<DWORD*>(data)) : "";
        if (type == REG_SZ || type == REG_EXPAND_SZ) text = U(reinterpret_cast<wchar_t*>(data));
        else for (DWORD b = 0; type != REG_DWORD && b < size; ++b) text += std::to_string(data[b]) + ",";
        out.push_back("value " + at + " | " + U(name) + " = " + text);
    }
    const auto children = SubKeys(key.get());
    for (const auto& child : children) DumpKey(hive, path + L"\\" + child, out);
}

// Files with their attributes and content, and folders; a link to a folder is
// not entered, what it leads to is dumped where it is.
void DumpFiles(const std::wstring& path, std::vector<std::string>& out) {
    const DWORD attributes = GetFileAttributesW(Long(path).c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        out.push_back("folder " + U(path));
        if (attributes & FILE_ATTRIBUTE_REPARSE_POINT) return;
        // Listed through a handle that shares deletion: FindFirstFileW does
        // not, and the program holds the folders it erases open for theirs.
        const UniqueFileHandle folder(CreateFileW(Long(path).c_str(), FILE_LIST_DIRECTORY, 7, nullptr, OPEN_EXISTING,
                                                  FILE_FLAG_BACKUP_SEMANTICS, nullptr));
        std::vector<LONGLONG> buffer(8 * 1024);  // 64 KiB, aligned
        while (folder && GetFileInformationByHandleEx(folder.get(), FileFullDirectoryInfo, buffer.data(),
                                                      static_cast<DWORD>(buffer.size() * sizeof(LONGLONG)))) {
            for (auto at = reinterpret_cast<const BYTE*>(buffer.data());;) {
                const auto& info = *reinterpret_cast<const FILE_FULL_DIR_INFO*>(at);
                const std::wstring name(info.FileName, info.FileNameLength / sizeof(wchar_t));
                if (name != L"." && name != L"..") DumpFiles(path + L"\\" + name, out);
                if (!info.NextEntryOffset) break;
                at += info.NextEntryOffset;
            }
        }
    } else if (attributes != INVALID_FILE_ATTRIBUTES) {
        char content[4096];
        DWORD read = 0;
        const UniqueFileHandle file(CreateFileW(Long(path).c_str(), GENERIC_READ, 7, nullptr, OPEN_EXISTING, 0, nullptr));
        ReadFile(file.get(), content, sizeof(content), &read, nullptr);
        out.push_back("file " + U(path) + (attributes & FILE_ATTRIBUTE_READONLY ? " [ro]" : "") +
                      (attributes & FILE_ATTRIBUTE_HIDDEN ? " [hidden]" : "") + " = " + std::string(content, read));
    }
}

using drv::WindowsPath;

std::wstring ShellFolder(int csidl) {
    wchar_t path[MAX_PATH] = {};
    SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, path);
    return path;
}

// Runs a Unix command on drive paths, and waits for `done`: Wine does not
// wait for a Unix program's end.
bool RunUnix(const std::string& command, const std::vector<std::wstring>& paths, const std::function<bool()>& done) {
    using Convert = char*(CDECL*)(const wchar_t*);
    static const auto unix = reinterpret_cast<Convert>(
        reinterpret_cast<void*>(GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "wine_get_unix_file_name")));
    std::string line = command;
    for (const auto& path : paths) {
        char* converted = unix(path.c_str());
        line += " '" + std::string(converted) + "'";
        HeapFree(GetProcessHeap(), 0, converted);
    }
    // Wine starts a Unix program with no process handle and leaves a stale
    // value where the thread's handle goes: closing that once closed this
    // thread's desktop, after which no window of the program could be found.
    std::wstring commandLine = L"Z:\\bin\\sh -c \"" + W(line) + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION ignored{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &ignored)) return false;
    return drv::PumpUntil(done, 10s);
}

std::vector<std::pair<std::wstring, std::wstring>> Products() {  // code, name
    std::vector<std::pair<std::wstring, std::wstring>> products;
    wchar_t code[39], name[512];
    for (DWORD i = 0, size = 512; MsiEnumProductsW(i, code) == ERROR_SUCCESS; ++i, size = 512) {
        products.push_back({code, MsiGetProductInfoW(code, INSTALLPROPERTY_PRODUCTNAME, name, &size) ? L"" : name});
    }
    return products;
}

// Asks a window from a thread of its own, every 250 ms, whether it answers
// within 1 s and whether the system takes it for hung.
class Probe {
public:
    explicit Probe(HWND window) : thread_([this, window] { Ask(window); }) {}
    ~Probe() { Stop(); }
    Probe(const Probe&) = delete;
    Probe& operator=(const Probe&) = delete;

    void Check() {
        Stop();
        const long long longest = std::chrono::duration_cast<std::chrono::milliseconds>(longest_).count();
        std::printf("the window was asked %d times; longest without an answer: %lld ms\n", asked_, longest);
        EXPECT_EQ(unanswered_, 0) << "times the window did not answer within 1 s";
        EXPECT_EQ(hung_, 0) << "times the window was taken for hung";
        EXPECT_LT(longest, 1000);
    }

private:
    void Ask(HWND window) {
        auto answered = drv::Clock::now();
        while (!stop_) {
            const auto asked = drv::Clock::now();
            DWORD_PTR result = 0;
            if (SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 1000, &result)) {
                longest_ = std::max(longest_, drv::Clock::now() - answered);
                answered = drv::Clock::now();
            } else {
                ++unanswered_;
            }
            hung_ += IsHungAppWindow(window) ? 1 : 0;
            ++asked_;
            std::this_thread::sleep_until(asked + 250ms);
        }
        longest_ = std::max(longest_, drv::Clock::now() - answered);
    }
    void Stop() {
        stop_ = true;
        if (thread_.joinable()) thread_.join();
    }

    std::atomic<bool> stop_{false};
    int asked_ = 0, unanswered_ = 0, hung_ = 0;
    drv::Clock::duration longest_{};
    std::thread thread_;  // last: it starts once the rest is made
};

class WinePlayer final : public Player {
public:
    // Takes away what the case seeded; files from the Unix side, which
    // removes a link and not what it leads to.
    ~WinePlayer() override {
        program_.reset();
        held_.clear();
        for (const auto& [code, name] : Products()) {
            if (packages_.count(U(name))) drv::Run(L"msiexec /x " + code + L" /qn");
        }
        // Links go as links first: deleting a tree would follow them.
        for (const auto& [hive, path] : links_) {
            try {
                DeleteRegistryLink(hive.root == HKEY_CURRENT_USER ? kHiveCurrentUser : kHiveLocalMachine, FromWide(path));
            } catch (const PlatformError&) {
            }
        }
        for (auto it = keys_.rbegin(); it != keys_.rend(); ++it) {
            const UniqueRegKey software = OpenKey(it->first, L"SOFTWARE", true);  // so that the hive's view applies
            RegDeleteTreeW(software.get(), it->second.substr(9).c_str());
        }
        RunUnix("rm -rf", files_, [&] { return std::none_of(files_.begin(), files_.end(), Exists); });
    }

protected:
    void Key(const std::string& hive, const std::string& path) override { Value(hive, path, "", "", Type::String); }
    void Value(const std::string& hiveName, const std::string& path, const std::string& name, const std::string& data,
               Type type) override {
        const Hive hive = HiveOf(hiveName);
        const std::wstring key = W(path);
        for (size_t at = key.find(L'\\');; at = key.find(L'\\', at + 1)) {  // the first key the case makes
            const bool existing = static_cast<bool>(OpenKey(hive, key.substr(0, at), false));
            if (!existing) keys_.push_back({hive, key.substr(0, at)});
            if (!existing && hiveName == "HKLM64") roots64_.insert(key.substr(0, at));
            if (!existing || at == std::wstring::npos) break;
        }
        if (type == Type::Dword) throw std::runtime_error("the real cases seed strings only");
        const UniqueRegKey handle = OpenKey(hive, key, true);
        const std::wstring text = W(data);
        if (!name.empty()) {
            RegSetValueExW(handle.get(), W(name).c_str(), 0, type == Type::Expandable ? REG_EXPAND_SZ : REG_SZ,
                           reinterpret_cast<const BYTE*>(text.c_str()), static_cast<DWORD>((text.size() + 1) * sizeof(wchar_t)));
        }
    }
    std::string Msi(const std::string& name, const std::string& version, const std::string& folder,
                    const std::optional<std::string>& location) override {
        std::string file = name;
        std::replace(file.begin(), file.end(), ' ', '_');
        const std::wstring package = g_msis + L"\\" + W(file) + L".msi";
        // Made from the case's own line, anew in each run.
        static std::map<std::string, std::string> made;  // name: version and folder
        if (made[name] != version + "|" + folder) {
            DeleteFileW(package.c_str());
            const std::string line = "'" + g_makeMsi + "' '" + g_msiDir + "/" + file + ".msi' '" + name + "' '" + version + "' '" + folder + "'";
            if (!RunUnix(line, {}, [&] { return Exists(package); })) throw std::runtime_error("cannot make the package " + name);
            made[name] = version + "|" + folder;
        }
        packages_.insert(name);
        if (drv::Run(L"msiexec /i \"" + package + L"\" /qn")) throw std::runtime_error("cannot install " + name);
        files_.push_back(W(Macro("pf86", "") + "\\" + folder));  // and what the user adds there
        std::string entry;
        for (const auto& [code, product] : Products()) entry = product == W(name) ? kUninstall + ("\\" + U(code)) : entry;
        if (location) Value("HKLM", entry, "InstallLocation", *location, Type::String);
        return entry;
    }
    void File(const std::string& path, bool readOnly, bool hidden, bool held) override {
        const std::wstring file = W(path);
        Folder(path.substr(0, path.rfind('\\')));
        Note(file);
        {
            const UniqueFileHandle handle(CreateFileW(Long(file).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            const std::string content = "data of " + path;
            DWORD written = 0;
            WriteFile(handle.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        }
        SetFileAttributesW(Long(file).c_str(), FILE_ATTRIBUTE_ARCHIVE | (readOnly ? FILE_ATTRIBUTE_READONLY : 0) |
                                                   (hidden ? FILE_ATTRIBUTE_HIDDEN : 0));
        // Held open by this process, which lets no other delete it.
        if (held) held_.emplace_back(CreateFileW(Long(file).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    void Folder(const std::string& path) override {
        const std::wstring folder = W(path);
        for (size_t at = folder.find(L'\\', 3);; at = folder.find(L'\\', at + 1)) {
            Note(folder.substr(0, at));
            CreateDirectoryW(Long(folder.substr(0, at)).c_str(), nullptr);
            if (at == std::wstring::npos) return;
        }
    }
    // Held open by this process, which lets no other delete it.
    void Hold(const std::string& folder) override {
        held_.emplace_back(CreateFileW(Long(W(folder)).c_str(), FILE_LIST_DIRECTORY, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                       OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr));
    }
    // Made as a planted link would be, the target named by its native path.
    void KeyLink(const std::string& hiveName, const std::string& path, const std::string& targetHive, const std::string& target) override {
        const Hive hive = HiveOf(hiveName);
        if (hive.name == "HKLM64" || targetHive == "HKLM64") throw std::runtime_error("links in the program's hives only");
        Key(hiveName, path.substr(0, path.rfind('\\')));
        links_.push_back({hive, W(path)});
        // HKLM's SOFTWARE is the program's view: the 32-bit one, a key of its own.
        const std::wstring to = W(target);
        const size_t first = targetHive == "HKCU" ? 0 : to.find(L'\\');
        UniqueRegKey root;
        if (targetHive == "HKCU") RegOpenCurrentUser(KEY_READ, root.put());
        else root = OpenKey(HiveOf(targetHive), to.substr(0, first), false);
        const std::wstring native = NativeName(root.get()) + (first ? L"" : L"\\") + to.substr(first);
        const UniqueRegKey link = OpenKey(hive, W(path), true, REG_OPTION_CREATE_LINK);
        if (!link || RegSetValueExW(link.get(), L"SymbolicLinkValue", 0, REG_LINK, reinterpret_cast<const BYTE*>(native.data()),
                                    static_cast<DWORD>(native.size() * sizeof(wchar_t)))) {
            throw std::runtime_error("no key link " + path);
        }
    }
    void Link(const std::string& path, const std::string& target) override {
        Folder(path.substr(0, path.rfind('\\')));
        Note(W(path));
        if (!RunUnix("ln -s", {W(target), W(path)}, [&] { return Exists(W(path)); })) throw std::runtime_error("no link " + path);
    }
    // From Unix, as another program would while this one holds the folder open.
    void Move(const std::string& path, const std::string& to) override {
        Note(W(to));
        if (!RunUnix("mv", {W(path), W(to)}, [&] { return Exists(W(to)) && !Exists(W(path)); })) {
            throw std::runtime_error("cannot move " + path);
        }
    }
    std::string Name() const override { return "wine"; }
    std::string Macro(const std::string& name, const std::string& argument) override {
        if (name == "windows") return U(ShellFolder(CSIDL_WINDOWS));
        if (name == "documents") return U(ShellFolder(CSIDL_PERSONAL));
        if (name == "profile") return U(ShellFolder(CSIDL_PROFILE));
        if (name == "pf86") return U(ShellFolder(CSIDL_PROGRAM_FILESX86));
        wchar_t buffer[MAX_PATH] = {};
        if (name == "short" && GetShortPathNameW(W(argument).c_str(), buffer, MAX_PATH)) return U(buffer);
        if (name == "outside" && GetEnvironmentVariableW(L"WINEPREFIX", buffer, MAX_PATH)) {  // beside the prefix
            const std::string prefix = U(WindowsPath(buffer));
            return prefix.substr(0, prefix.rfind('\\')) + "\\outside";
        }
        throw std::runtime_error("unknown macro " + name);
    }

    bool Other(const Step& s) override {
        const auto f = Fields(s.arg);
        if (s.verb == "planted") {
            Folder(f.at(0));
            folder_ = W(f[0]);
            exe_ = folder_ + L"\\clearstrand.exe";
            bool copied = CopyFileW(g_exe.c_str(), exe_.c_str(), FALSE);
            for (size_t i = 1; i < f.size(); ++i) {
                copied &= CopyFileW(g_planted.c_str(), (folder_ + L"\\" + W(f[i]) + L".dll").c_str(), FALSE) != FALSE;
                // Native first: Wine then searches as Windows does. Wine reads
                // WINEDLLOVERRIDES from the Unix environment, which a Windows
                // parent cannot set for its child; the program's own overrides
                // in the registry are the same switch.
                Value("HKCU", "SOFTWARE\\Wine\\AppDefaults\\clearstrand.exe\\DllOverrides", f[i], "native,builtin", Type::String);
            }
            if (!copied) throw std::runtime_error("cannot plant in " + f[0]);
        } else if (s.verb == "bulk") {
            Folder(f.at(0));
            const std::wstring last = W(f[0] + "\\" + f.at(1) + "\\" + f.at(2));
            const std::string fill = "b() { IFS=; mkdir -p $1; cd $1; unset IFS; mkdir $(seq " + f[1] + "); for f in $(seq " +
                                     f[2] + "); do touch $(seq -f %g/$f " + f[1] + "); done; }; b";  // few processes
            if (!RunUnix(fill, {W(f[0])}, [&] { return Exists(last); })) throw std::runtime_error("cannot fill " + f[0]);
        } else if (s.verb == "probe") {
            probe_ = s.arg;
        } else if (s.verb == "report") {
            // Wine's loader takes the program's own overrides beside the usual ones (see "planted").
            Value("HKCU", "SOFTWARE\\Wine\\AppDefaults\\clearstrand.exe\\DllOverrides", f.at(0), "", Type::String);
            report_ = f.at(1);
        }
        return s.verb == "planted" || s.verb == "bulk" || s.verb == "probe" || s.verb == "report";
    }

    void Open() override {
        wchar_t folder[MAX_PATH] = {};
        GetCurrentDirectoryW(MAX_PATH, folder);
        if (!folder_.empty()) SetCurrentDirectoryW(folder_.c_str());  // for the program alone
        program_ = std::make_unique<drv::Process>(L"\"" + exe_ + L"\"");
        SetCurrentDirectoryW(folder);
        if (!drv::PumpUntil([&] { return AnswerBox(); }, 30s)) throw std::runtime_error("no disclaimer");
        if (!report_.empty()) return ExpectReport();
        if (!drv::PumpUntil([&] { return (main_ = drv::FindTopWindow(program_->Id(), kWindowClass)); }, 20s) ||
            // "Ready" shows once before the first population too: ready is a
            // filled tree.
            !drv::PumpUntil([&] { return Status() == L"Ready" && !drv::ReadTree(Control(kTreeView1Id)).empty(); }, 60s)) {
            throw std::runtime_error("the program never got ready");
        }
    }
    void Toggle(const std::string& caption, const std::string& how) override {
        std::optional<drv::TreeItem> item;
        for (auto& i : drv::ReadTree(Control(kTreeView1Id))) item = U(i.text) == caption ? i : item;
        if (!item || (how == "tick" && item->checked) || (how == "untick" && !item->checked)) {
            throw std::runtime_error("cannot " + how + " " + caption);
        }
        if (how == "space") drv::PressSpaceOn(Control(kTreeView1Id), item->item);
        else drv::ClickCheckBox(Control(kTreeView1Id), item->item);
        const auto flipped = [&] {
            const auto now = drv::ReadTree(Control(kTreeView1Id));
            return std::any_of(now.begin(), now.end(), [&](auto& i) { return i.item == item->item && i.checked != item->checked; });
        };
        if (!drv::PumpUntil(flipped)) throw std::runtime_error("could not " + how + " " + caption);
    }
    // Presses a button and waits until its work is done, answering boxes.
    void Press(const std::string& button) override {
        if (button == "cancel") {
            drv::ClickButton(Control(kCommand3Id), [&] { return program_->WaitForExit(0ms).has_value(); });
            EXPECT_EQ(program_->WaitForExit(10s), std::optional<DWORD>(0)) << "Cancel did not end the program";
            return;
        }
        const HWND refresh = Control(kCommand1Id);
        const auto tree = drv::ReadTree(Control(kTreeView1Id));
        std::unique_ptr<Probe> probe;
        POINT box{};
        if (button == "start" && !probe_.empty()) {
            const auto item = std::find_if(tree.begin(), tree.end(), [&](auto& i) { return U(i.text) == probe_; });
            if (item == tree.end()) throw std::runtime_error("no " + probe_ + " to click");
            box = drv::CheckBoxPoint(Control(kTreeView1Id), item->item);  // while the window answers
            probe = std::make_unique<Probe>(main_);
        }
        drv::ClickButton(Control(button == "start" ? kCommand2Id : kCommand1Id), [&] {
            // Or a rebuilt tree; reading it waits for a busy window, so not while it is probed.
            return !IsWindowEnabled(refresh) || drv::FindMessageBox(program_->Id()) ||
                   (!probe && drv::ReadTree(Control(kTreeView1Id)).at(0).item != tree.at(0).item);
        });
        if (probe) {
            drv::PumpFor(1s);
            drv::ClickAt(box);
            if (IsWindowEnabled(refresh)) throw std::runtime_error("the run ended before the click");
        }
        if (!drv::PumpUntil([&] { return !AnswerBox() && IsWindowEnabled(refresh) && Status() == L"Ready"; }, 180s)) {
            throw std::runtime_error(button + " never ended");
        }
        if (probe) probe->Check();
    }
    void Close() override {
        if (program_ && !program_->WaitForExit(0ms)) Press("cancel");
    }
    std::vector<Shown> Tree() override {
        std::vector<Shown> shown;
        for (const auto& i : drv::ReadTree(Control(kTreeView1Id))) shown.push_back({i.depth, U(i.text), i.checked, i.bold, i.expanded});
        return shown;
    }
    std::vector<std::string> Window() override {
        if (program_->WaitForExit(0ms)) return {"ended"};
        std::vector<std::pair<std::string, bool>> buttons;
        for (int id : {kCommand1Id, kCommand2Id, kCommand3Id}) buttons.push_back({ToUtf8(WindowText(Control(id))), IsWindowEnabled(Control(id))});
        std::vector<ShownPanel> panels;
        const HWND bar = Control(kStatusBar1Id);
        RECT client{};
        GetClientRect(bar, &client);
        const auto edges = drv::Exchange(bar, SB_GETPARTS, 16, std::array<int, 16>{});
        for (int i = 0; i < static_cast<int>(SendMessageW(bar, SB_GETPARTS, 0, 0)); ++i) {
            const bool flat = HIWORD(SendMessageW(bar, SB_GETTEXTLENGTHW, i, 0)) & SBT_NOBORDERS;
            const bool spring = edges.at(i) < 0 || edges.at(i) >= client.right;
            panels.push_back({flat, spring, U(drv::StatusText(bar, i))});
        }
        return ShownWindow(buttons, panels, ToUtf8(WindowText(Control(kLabel2Id))));
    }
    std::vector<std::string> Describe() override {
        std::vector<std::string> lines;
        // The system's, Wine's and the installer's own keys change as
        // programs run; of them only the uninstall entries are the program's.
        for (const Hive& hive : {HiveOf("HKLM"), HiveOf("HKCU")}) {
            for (const auto& name : SubKeys(OpenKey(hive, L"SOFTWARE", false).get())) {
                if (name != L"Microsoft" && name != L"Classes" && name != L"Wine" && name != L"Wow6432Node")
                    DumpKey(hive, L"SOFTWARE\\" + name, lines);
            }
            DumpKey(hive, W(kUninstall), lines);
        }
        for (const auto& root : roots64_) DumpKey(HiveOf("HKLM64"), root, lines);
        for (const auto& [code, name] : Products()) lines.push_back("product " + U(name));
        DumpFiles(ShellFolder(CSIDL_PROGRAM_FILESX86), lines);
        for (const auto& path : files_) DumpFiles(path, lines);
        std::sort(lines.begin(), lines.end());
        lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
        return lines;
    }
    void Settle(const std::function<bool()>& want) override { drv::PumpUntil(want, 3s); }
    bool SafeToErase(const std::string& folder) override { return IsSafeToErase(FromUtf8(folder), Files()); }
    ManagementService& Management() override { return *(management_ ? management_ : management_ = MakeWmiManagementService()); }
    FileService& Files() override { return *(files_service_ ? files_service_ : files_service_ = MakeWin32FileService()); }

private:
    // The report stays up until it is read, says first what failed and then
    // the system's reason, whatever it is; after OK the program ends with an
    // error.
    void ExpectReport() {
        std::optional<drv::Box> report;
        drv::PumpUntil([&] { return (report = drv::FindMessageBox(program_->Id())) || program_->WaitForExit(0ms); }, 60s);
        if (!report) throw std::runtime_error("no report");
        drv::PumpFor(2s);
        const auto still = drv::FindMessageBox(program_->Id());
        EXPECT_TRUE(still && still->hwnd == report->hwnd) << "the report went before it could be read";
        const std::string text = ToUtf8(report->text);
        const size_t line = text.find('\n');
        EXPECT_EQ(text.substr(0, line), report_) << text;
        EXPECT_LT(line + 1, text.size()) << "no reason in " << text;
        drv::PressOk(report->hwnd);
        const auto code = program_->WaitForExit(10s);
        EXPECT_TRUE(code && *code != 0) << "the program did not end with an error";
    }

    // Reads and answers the box that is up, if any.
    bool AnswerBox() {
        const auto box = drv::FindMessageBox(program_->Id());
        if (!box) return false;
        // The disclaimer comes while the window is still hidden.
        if (boxes.empty() && drv::FindTopWindow(program_->Id(), kWindowClass)) ADD_FAILURE() << "window before disclaimer";
        boxes.push_back(ShownBox(ToUtf8(box->title), box->icon, ToUtf8(box->text)));
        BoxShown(boxes.back());
        drv::PressOk(box->hwnd);
        return true;
    }
    HWND Control(int id) { return GetDlgItem(main_, id); }
    std::wstring Status() { return main_ && IsWindow(main_) ? drv::StatusText(Control(kStatusBar1Id), 1) : L""; }
    // A file or folder the case made, unless it was there before.
    void Note(const std::wstring& path) {
        const bool inside = std::any_of(files_.begin(), files_.end(), [&](auto& made) { return path.rfind(made + L"\\", 0) == 0; });
        if (!inside && !Exists(path)) files_.push_back(path);
    }

    std::unique_ptr<drv::Process> program_;
    std::wstring exe_ = g_exe, folder_;  // the program, and the folder it runs from if not its own
    std::string probe_, report_;
    HWND main_ = nullptr;
    std::vector<std::pair<Hive, std::wstring>> keys_, links_;
    std::vector<std::wstring> files_;  // made by the case, outermost first
    std::set<std::wstring> roots64_;
    std::set<std::string> packages_;
    std::vector<UniqueFileHandle> held_;
    std::unique_ptr<ManagementService> management_;
    std::unique_ptr<FileService> files_service_;
};

}  // namespace
}  // namespace clearstrand::scenario

int main(int argc, char** argv) {
    using namespace clearstrand::scenario;
    ::testing::InitGoogleTest(&argc, argv);
    if (argc < 5) return 2;
    g_exe = WindowsPath(W(argv[1]));
    g_makeMsi = argv[2];
    g_msiDir = argv[3];
    g_msis = WindowsPath(W(argv[3]));
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    g_planted = std::wstring(self).substr(0, std::wstring(self).rfind(L'\\')) + L"\\planted.dll";
    for (int i = 4; i < argc; ++i) {
        for (const Case& c : Load(U(WindowsPath(W(argv[i]))))) Register("Real", c, [](const Case& c) { WinePlayer().Play(c); });
    }
    // The program runs its services on an apartment thread; so do the window's tests.
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);
    return RUN_ALL_TESTS();
}
