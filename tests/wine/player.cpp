// Plays the scenarios of real.txt against clearstrand.exe under Wine: the
// machine is seeded with the registry, installer and file API, the program
// is driven from outside as a user drives it, and afterwards the whole
// machine must have changed exactly as the scenario declares.
//
//   player.exe CLEARSTRAND_EXE MSI_FOLDER SCENARIO_FILE   (Unix paths go through Z:)

#include <windows.h>

#include <msi.h>
#include <shellapi.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <map>
#include <memory>
#include <set>

#include "platform/errors.h"
#include "platform/windows/wide_strings.h"
#include "scenario/scenario.h"
#include "wine/driver.h"

namespace clearstrand::scenario {
namespace {

namespace drv = clearstrand::driver;
using win32::FromWide;
using win32::ToWide;
using namespace std::chrono_literals;

std::wstring g_exe, g_msis, g_cases;

std::wstring W(const std::string& text) { return ToWide(FromUtf8(text)); }
std::string U(const std::wstring& text) { return ToUtf8(FromWide(text)); }
std::wstring Long(const std::wstring& path) { return L"\\\\?\\" + path; }  // past 260 characters, names as given

constexpr wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// ---- Registry --------------------------------------------------------------

struct Hive {
    std::string name;
    HKEY root;
    REGSAM view;
};

Hive HiveOf(const std::string& name) {
    // The products' keys live in the 32-bit view, which the program reads.
    if (name == "HKLM") return {name, HKEY_LOCAL_MACHINE, KEY_WOW64_32KEY};
    if (name == "HKLM64") return {name, HKEY_LOCAL_MACHINE, KEY_WOW64_64KEY};
    if (name == "HKCU") return {name, HKEY_CURRENT_USER, 0};
    throw std::runtime_error("unknown hive " + name);
}

bool KeyExists(const Hive& hive, const std::wstring& path) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive.root, path.c_str(), 0, KEY_READ | hive.view, &key) != ERROR_SUCCESS) return false;
    RegCloseKey(key);
    return true;
}

void SetValue(const Hive& hive, const std::wstring& path, const std::wstring& name, const std::wstring& data, bool dword) {
    HKEY key = nullptr;
    if (RegCreateKeyExW(hive.root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | hive.view, nullptr, &key, nullptr)) {
        throw std::runtime_error("cannot create " + U(path));
    }
    if (dword) {
        const DWORD number = std::stoul(data);
        RegSetValueExW(key, name.c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&number), sizeof(number));
    } else if (!name.empty() || !data.empty()) {
        RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data.c_str()),
                       static_cast<DWORD>((data.size() + 1) * sizeof(wchar_t)));
    }
    RegCloseKey(key);
}

// The system's, Wine's and the installer's own keys, which change as
// programs run; of them only the uninstall entries are the program's concern.
bool Volatile(const std::wstring& path) {
    const auto under = [&](const wchar_t* root) {
        const size_t n = wcslen(root);
        return _wcsnicmp(path.c_str(), root, n) == 0 && (path.size() == n || path[n] == L'\\');
    };
    if (under(kUninstall)) return false;
    return under(L"SOFTWARE\\Microsoft") || under(L"SOFTWARE\\Classes") || under(L"SOFTWARE\\Wine") ||
           under(L"SOFTWARE\\Wow6432Node");
}

void DumpKey(const Hive& hive, const std::wstring& path, std::vector<std::string>& out) {
    const bool onlyOnTheWay = Volatile(path);  // to the uninstall entries
    if (onlyOnTheWay && !std::wstring(kUninstall).starts_with(path + L"\\")) return;
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive.root, path.c_str(), 0, KEY_READ | hive.view, &key) != ERROR_SUCCESS) return;
    const std::string at = hive.name + " " + U(path);
    if (!onlyOnTheWay) out.push_back("key " + at);
    for (DWORD i = 0; !onlyOnTheWay; ++i) {
        wchar_t name[16384];
        DWORD length = 16384, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &length, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size + 2);
        length = 16384;
        RegEnumValueW(key, i, name, &length, nullptr, &type, data.data(), &size);
        std::string text;
        if (type == REG_SZ || type == REG_EXPAND_SZ) text = U(reinterpret_cast<const wchar_t*>(data.data()));
        else if (type == REG_DWORD) text = "#" + std::to_string(*reinterpret_cast<const DWORD*>(data.data()));
        else for (DWORD b = 0; b < size; ++b) text += std::to_string(data[b]) + ",";
        out.push_back("value " + at + " | " + U(name) + " = " + text);
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(key, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(name);
    }
    RegCloseKey(key);
    for (const auto& child : children) DumpKey(hive, path + L"\\" + child, out);
}

// ---- Disk ------------------------------------------------------------------

void DumpFiles(const std::wstring& path, std::vector<std::string>& out) {
    const DWORD attributes = GetFileAttributesW(Long(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    std::string marks = std::string(attributes & FILE_ATTRIBUTE_READONLY ? " [ro]" : "") +
                        (attributes & FILE_ATTRIBUTE_HIDDEN ? " [hidden]" : "");
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        std::string content(4096, '\0');
        HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        DWORD read = 0;
        if (file != INVALID_HANDLE_VALUE) {
            ReadFile(file, content.data(), static_cast<DWORD>(content.size()), &read, nullptr);
            CloseHandle(file);
        }
        content.resize(read);
        out.push_back("file " + U(path) + marks + " = " + content);
        return;
    }
    out.push_back("folder " + U(path));
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Long(path + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") DumpFiles(path + L"\\" + name, out);
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

// Clears read-only and deletes, bottom up.
void RemoveTree(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(Long(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    SetFileAttributesW(Long(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(Long(path).c_str());
        return;
    }
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW(Long(path + L"\\*").c_str(), &data);
    std::vector<std::wstring> names;
    if (find != INVALID_HANDLE_VALUE) {
        do {
            if (wcscmp(data.cFileName, L".") && wcscmp(data.cFileName, L"..")) names.emplace_back(data.cFileName);
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    for (const auto& name : names) RemoveTree(path + L"\\" + name);
    RemoveDirectoryW(Long(path).c_str());
}

std::wstring KnownFolder(REFKNOWNFOLDERID id) {
    wchar_t* path = nullptr;
    SHGetKnownFolderPath(id, 0, nullptr, &path);
    std::wstring text = path ? path : L"";
    CoTaskMemFree(path);
    return text;
}

std::string Lookup(const std::string& name, const std::string& argument) {
    if (name == "windows") return U(KnownFolder(FOLDERID_Windows));
    if (name == "documents") return U(KnownFolder(FOLDERID_Documents));
    if (name == "pf") return U(KnownFolder(FOLDERID_ProgramFiles));
    if (name == "pf86") return U(KnownFolder(FOLDERID_ProgramFilesX86));
    if (name == "short") {
        wchar_t buffer[MAX_PATH] = {};
        GetShortPathNameW(W(argument).c_str(), buffer, MAX_PATH);
        return U(buffer);
    }
    throw std::runtime_error("unknown macro " + name);
}

// ---- Installer ---------------------------------------------------------------

std::vector<std::pair<std::wstring, std::wstring>> Products() {  // code, name
    std::vector<std::pair<std::wstring, std::wstring>> products;
    wchar_t code[39];
    for (DWORD i = 0; MsiEnumProductsW(i, code) == ERROR_SUCCESS; ++i) {
        wchar_t name[512] = {};
        DWORD size = 512;
        MsiGetProductInfoW(code, INSTALLPROPERTY_PRODUCTNAME, name, &size);
        products.push_back({code, name});
    }
    return products;
}

std::wstring EntryOf(const std::wstring& displayName) {
    HKEY root = nullptr;
    std::wstring found;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_READ | KEY_WOW64_32KEY, &root);
    for (DWORD i = 0; root; ++i) {
        wchar_t name[256], value[512];
        DWORD length = 256, size = sizeof(value);
        if (RegEnumKeyExW(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        if (!RegGetValueW(root, name, L"DisplayName", RRF_RT_REG_SZ, nullptr, value, &size) && displayName == value) {
            found = std::wstring(kUninstall) + L"\\" + name;
        }
    }
    if (root) RegCloseKey(root);
    return found;
}

// ---- A case --------------------------------------------------------------------

// One case: what it seeded (taken away again at its end), the program it
// drives, and what it saw.
class Session {
public:
    ~Session() {
        program_.reset();
        for (auto& [name, folder] : msiFolders_) {
            for (const auto& [code, product] : Products()) {
                if (product == W(name)) drv::Run(L"msiexec /x " + code + L" /qn");
            }
        }
        for (HANDLE held : held_) CloseHandle(held);
        for (auto it = createdKeys_.rbegin(); it != createdKeys_.rend(); ++it) {
            // Opened through SOFTWARE, so that the hive's view applies.
            HKEY software = nullptr;
            if (!RegOpenKeyExW(it->first.root, L"SOFTWARE", 0, KEY_ALL_ACCESS | it->first.view, &software)) {
                RegDeleteTreeW(software, it->second.substr(9).c_str());
                RegCloseKey(software);
            }
        }
        for (auto it = createdFiles_.rbegin(); it != createdFiles_.rend(); ++it) RemoveTree(*it);
    }

    void Seed(const Step& s) {
        const auto f = Fields(s.arg);
        if (s.verb == "key" || s.verb == "value") {
            auto [hiveName, path] = Word(f.at(0));
            const Hive hive = HiveOf(hiveName);
            NoteKey(hive, W(path));
            SetValue(hive, W(path), s.verb == "value" ? W(f.at(1)) : L"", s.verb == "value" ? W(f.at(2)) : L"",
                     s.verb == "value" && f.at(2).rfind('#', 0) == 0);
            if (hiveName == "HKLM64") roots64_.insert(W(path.substr(0, path.find('\\', 9))));
        } else if (s.verb == "entry") {
            const Hive hive = HiveOf("HKLM");
            const std::wstring key = std::wstring(kUninstall) + L"\\" + W(f.at(0));
            NoteKey(hive, key);
            const wchar_t* names[] = {L"DisplayName", L"DisplayVersion", L"InstallLocation"};
            SetValue(hive, key, L"", L"", false);
            for (size_t i = 1; i < f.size() && i < 4; ++i) {
                if (!f[i].empty()) SetValue(hive, key, names[i - 1], W(f[i]), false);
            }
        } else if (s.verb == "msi") {
            std::string file = f.at(0);
            std::replace(file.begin(), file.end(), ' ', '_');
            msiFolders_[f.at(0)] = Lookup("pf86", "") + "\\" + f.at(2);
            if (drv::Run(L"msiexec /i \"" + g_msis + L"\\" + W(file) + L".msi\" /qn") != 0) {
                throw std::runtime_error("cannot install " + f.at(0));
            }
            entries_[f.at(0)] = EntryOf(W(f.at(0)));
            if (f.size() > 3) SetValue(HiveOf("HKLM"), entries_[f.at(0)], L"InstallLocation", W(f[3]), false);
        } else if (s.verb == "file" || s.verb == "folder") {
            const std::wstring path = W(f.at(0));
            NoteFile(path);
            const auto has = [&](const char* flag) { return std::find(f.begin() + 1, f.end(), flag) != f.end(); };
            for (size_t at = path.find(L'\\', 3); at != std::wstring::npos; at = path.find(L'\\', at + 1)) {
                CreateDirectoryW(Long(path.substr(0, at)).c_str(), nullptr);
            }
            if (s.verb == "folder") {
                CreateDirectoryW(Long(path).c_str(), nullptr);
                return;
            }
            HANDLE file = CreateFileW(Long(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
            const std::string content = "data of " + f.at(0);
            DWORD written = 0;
            WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
            CloseHandle(file);
            SetFileAttributesW(Long(path).c_str(), (has("ro") ? FILE_ATTRIBUTE_READONLY : 0) |
                                                       (has("hidden") ? FILE_ATTRIBUTE_HIDDEN : 0) | FILE_ATTRIBUTE_ARCHIVE);
            // Held open by this process, which refuses deletion to others.
            if (has("held")) held_.push_back(CreateFileW(Long(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
        } else {
            throw std::runtime_error(s.verb + " is for the in-memory platform only");
        }
    }

    void Declare(const std::string& arg) {
        auto [kind, what] = Word(arg);
        if (kind != "msi") return gone_.push_back({kind, what});
        // A package takes its product, its entry and its own file.
        gone_.push_back({"product", what});
        gone_.push_back({"key", "HKLM " + U(entries_.at(what))});
        gone_.push_back({"file", msiFolders_.at(what) + "\\readme.txt"});
    }

    std::vector<std::string> Describe() {
        std::vector<std::string> lines;
        DumpKey(HiveOf("HKLM"), L"SOFTWARE", lines);
        DumpKey(HiveOf("HKCU"), L"SOFTWARE", lines);
        for (const auto& root : roots64_) DumpKey(HiveOf("HKLM64"), root, lines);
        for (const auto& [code, name] : Products()) lines.push_back("product " + U(name));
        DumpFiles(KnownFolder(FOLDERID_ProgramFilesX86), lines);
        for (const auto& path : createdFiles_) {
            if (path.rfind(KnownFolder(FOLDERID_ProgramFilesX86) + L"\\", 0) != 0) DumpFiles(path, lines);
        }
        std::sort(lines.begin(), lines.end());
        lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
        return lines;
    }

    void Open() {
        before_ = Describe();
        program_ = std::make_unique<drv::Process>(L"\"" + g_exe + L"\"");
        ASSERT_TRUE(drv::PumpUntil([&] { return AnswerBox(); }, 30s)) << "no disclaimer";
        main_ = nullptr;
        ASSERT_TRUE(drv::PumpUntil([&] { return (main_ = drv::FindTopWindow(program_->Id(), L"ClearstrandUtilityWindow")); }, 20s));
        ASSERT_TRUE(drv::PumpUntil([&] { return Status() == L"Ready"; }, 60s)) << "never ready";
        opened_ = true;
    }

    // Reads and answers the box that is up, if any.
    bool AnswerBox() {
        const auto box = drv::FindMessageBox(program_->Id());
        if (!box) return false;
        // The disclaimer comes while the window is still hidden.
        if (boxes_.empty()) {
            EXPECT_FALSE(drv::FindTopWindow(program_->Id(), L"ClearstrandUtilityWindow"));
        }
        std::string text = box->title == L"Clearstrand" ? "" : "[" + U(box->title) + "] ";
        if (box->icon) text += "[!] ";
        for (const char c : U(box->text)) text += c == '\r' ? std::string(" | ") : c == '\n' ? std::string("\\n") : std::string(1, c);
        boxes_.push_back(text);
        drv::PressOk(box->hwnd);
        return true;
    }

    HWND Child(const wchar_t* className, const wchar_t* caption = nullptr) {
        if (caption) return FindWindowExW(main_, nullptr, className, caption);
        return drv::FindChild(main_, className);
    }
    HWND Tree() { return Child(WC_TREEVIEWW); }
    HWND Bar() { return Child(STATUSCLASSNAMEW); }
    // The statics: the instruction text, and the picture, which shows an icon.
    HWND Static(bool picture) {
        for (int i = 0;; ++i) {
            HWND hwnd = drv::FindChild(main_, L"Static", i);
            if (!hwnd || ((GetWindowLongPtrW(hwnd, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) == picture) return hwnd;
        }
    }
    HWND Label() { return Static(false); }
    std::wstring Status() { return main_ && IsWindow(main_) ? drv::StatusText(Bar(), 1) : L""; }
    bool Enabled(const wchar_t* caption) { return IsWindowEnabled(Child(L"Button", caption)) != FALSE; }

    std::vector<std::string> Outline() {
        std::vector<std::string> lines;
        for (const auto& item : drv::ReadTree(Tree())) {
            const std::string marks = std::string(item.expanded && item.hasChildren ? "+" : "") +
                                      (item.bold ? "b" : "") + (item.checked ? "x" : "");
            lines.push_back(std::string(static_cast<size_t>(item.depth) * 2, ' ') + U(item.text) +
                            (marks.empty() ? "" : " [" + marks + "]"));
        }
        return lines;
    }

    std::string Checked() {
        std::string out;
        for (const auto& item : drv::ReadTree(Tree())) {
            if (item.checked) out += (out.empty() ? "" : ", ") + U(item.text);
        }
        return out;
    }

    std::vector<std::string> Window() {
        if (program_->WaitForExit(0ms)) return {"ended"};
        std::string buttons;
        for (const wchar_t* b : {L"Refresh", L"Start", L"Cancel"}) {
            buttons += (buttons.empty() ? "" : ", ") + U(b) + (Enabled(b) ? " on" : " off");
        }
        std::string panels = "panels:";
        RECT bar{};
        GetClientRect(Bar(), &bar);
        const auto parts = drv::StatusParts(Bar());
        for (size_t i = 0; i < parts.size(); ++i) {
            const bool spring = parts[i].first < 0 || parts[i].first >= bar.right;
            panels += std::string(parts[i].second ? " flat" : " inset") + (spring ? " spring" : " fixed") + " \"" +
                      U(drv::StatusText(Bar(), static_cast<int>(i))) + "\"";
        }
        std::string label;
        for (const char c : U(drv::WindowText(Label()))) label += c == '\r' ? std::string(" | ") : std::string(1, c);
        return {buttons, panels, "label: " + label};
    }

    std::vector<std::string> Layout() {
        const std::pair<const char*, HWND> controls[] = {
            {"Picture1", Static(true)},
            {"Label2", Label()}, {"TreeView1", Tree()}, {"Refresh", Child(L"Button", L"Refresh")},
            {"Start", Child(L"Button", L"Start")}, {"Cancel", Child(L"Button", L"Cancel")}, {"StatusBar1", Bar()}};
        std::vector<std::string> lines;
        for (const auto& [name, hwnd] : controls) {
            RECT r{};
            GetWindowRect(hwnd, &r);
            MapWindowPoints(nullptr, main_, reinterpret_cast<POINT*>(&r), 2);
            lines.push_back(std::string(name) + " " + std::to_string(r.left) + " " + std::to_string(r.top) + " " +
                            std::to_string(r.right - r.left) + " " + std::to_string(r.bottom - r.top));
        }
        RECT client{};
        GetClientRect(main_, &client);
        lines.push_back("client " + std::to_string(client.right) + " " + std::to_string(client.bottom));
        return lines;
    }

    void Toggle(const std::string& caption, const std::string& how) {
        std::optional<drv::TreeItem> item;
        for (auto& i : drv::ReadTree(Tree())) {
            if (U(i.text) == caption) item = i;
        }
        ASSERT_TRUE(item) << "no node " << caption;
        ASSERT_FALSE(how == "tick" && item->checked) << caption << " is already ticked";
        ASSERT_FALSE(how == "untick" && !item->checked) << caption << " is not ticked";
        if (how == "space") drv::PressSpaceOn(Tree(), item->item);
        else drv::ClickCheckBox(Tree(), item->item);
        ASSERT_TRUE(drv::PumpUntil([&] {
            for (const auto& now : drv::ReadTree(Tree())) {
                if (now.item == item->item) return now.checked != item->checked;
            }
            return false;
        })) << "could not flip " << caption;
    }

    // Presses a button and waits until its work is done, answering boxes.
    void Press(const std::string& button) {
        if (button == "cancel") {
            ASSERT_TRUE(drv::ClickButton(Child(L"Button", L"Cancel"), [&] { return program_->WaitForExit(0ms).has_value(); }));
            EXPECT_EQ(program_->WaitForExit(10s), std::optional<DWORD>(0));
            return;
        }
        const auto firstItem = drv::ReadTree(Tree()).at(0).item;
        const HWND refresh = Child(L"Button", L"Refresh");
        drv::ClickButton(Child(L"Button", button == "start" ? L"Start" : L"Refresh"), [&] {
            return !IsWindowEnabled(refresh) || drv::FindMessageBox(program_->Id()) ||
                   drv::ReadTree(Tree()).at(0).item != firstItem;  // a rebuilt tree
        });
        ASSERT_TRUE(drv::PumpUntil([&] { return !AnswerBox() && IsWindowEnabled(refresh) && Status() == L"Ready"; }, 180s));
    }

    // Waits a little for the window to show what is expected, then compares.
    template <typename Read, typename Want>
    void Expect(Read read, const Want& want) {
        drv::PumpUntil([&] { return read() == want; }, 3s);
        EXPECT_EQ(read(), want);
    }

    void Play(const Step& raw) {
        Step s = raw;
        s.arg = Expand(s.arg, Lookup);
        for (auto& line : s.block) line = Expand(line, Lookup);
        SCOPED_TRACE(s.where);
        static const std::set<std::string> setup = {"key", "value", "entry", "msi", "file", "folder", "product", "fail"};
        if (setup.count(s.verb)) {
            if (opened_) throw std::runtime_error("seeding while the program runs is for the in-memory platform");
            return Seed(s);
        }
        if (s.verb == "gone") return Declare(s.arg);
        if (!opened_) Open();
        if (HasFatalFailure()) return;
        if (s.verb == "tick" || s.verb == "untick" || s.verb == "space") Toggle(s.arg, s.verb);
        else if (s.verb == "start" || s.verb == "refresh" || s.verb == "cancel") Press(s.verb);
        else if (s.verb == "tree") Expect([&] { return Outline(); }, s.block);
        else if (s.verb == "checked") Expect([&] { return Checked(); }, s.arg);
        else if (s.verb == "buttons") Expect([&] { return Window().at(0); }, s.arg);
        else if (s.verb == "window") Expect([&] { return Window(); }, s.block);
        else if (s.verb == "layout") Expect([&] { return Layout(); }, s.block);
        else if (s.verb == "disclaimer") EXPECT_EQ(boxes_.at(0), s.arg);
        else if (s.verb == "boxes") {
            EXPECT_EQ(std::vector<std::string>(boxes_.begin() + static_cast<long>(boxesSeen_), boxes_.end()), s.block);
            boxesSeen_ = boxes_.size();
        } else if (s.verb != "log" && s.verb != "faults" && s.verb != "open") {  // memory only, or nothing to do
            throw std::runtime_error("unknown step " + s.verb);
        }
    }

    void Finish() {
        if (!opened_) Open();
        if (HasFatalFailure()) return;
        if (!program_->WaitForExit(0ms)) Press("cancel");
        EXPECT_EQ(std::vector<std::string>(boxes_.begin() + static_cast<long>(boxesSeen_), boxes_.end()),
                  std::vector<std::string>{})
            << "boxes that no step expected";
        for (const auto& problem : Diff(before_, Describe(), gone_)) ADD_FAILURE() << problem;
    }

    static bool HasFatalFailure() { return ::testing::Test::HasFatalFailure(); }

private:
    void NoteKey(const Hive& hive, const std::wstring& path) {
        for (size_t at = path.find(L'\\'); ; at = path.find(L'\\', at + 1)) {
            const std::wstring prefix = path.substr(0, at);
            if (!KeyExists(hive, prefix)) return createdKeys_.push_back({hive, prefix});
            if (at == std::wstring::npos) return;
        }
    }
    void NoteFile(const std::wstring& path) {
        for (size_t at = path.find(L'\\', 3); ; at = path.find(L'\\', at + 1)) {
            const std::wstring prefix = path.substr(0, at);
            if (GetFileAttributesW(Long(prefix).c_str()) == INVALID_FILE_ATTRIBUTES) return createdFiles_.push_back(prefix);
            if (at == std::wstring::npos) return;
        }
    }

    std::unique_ptr<drv::Process> program_;
    HWND main_ = nullptr;
    bool opened_ = false;
    std::vector<std::string> before_, boxes_;
    size_t boxesSeen_ = 1;  // the disclaimer is "disclaimer"'s
    std::vector<Gone> gone_;
    std::vector<std::pair<Hive, std::wstring>> createdKeys_;
    std::vector<std::wstring> createdFiles_;
    std::set<std::wstring> roots64_;
    std::map<std::string, std::string> msiFolders_;
    std::map<std::string, std::wstring> entries_;
    std::vector<HANDLE> held_;
};

class Scenario : public ::testing::Test {
public:
    explicit Scenario(Case c) : case_(std::move(c)) {}
    void TestBody() override {
        Session session;
        for (const auto& step : case_.steps) {
            session.Play(step);
            if (HasFatalFailure()) return;
        }
        session.Finish();
    }

private:
    Case case_;
};

std::wstring WindowsPath(std::wstring path) {
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

}  // namespace
}  // namespace clearstrand::scenario

int main(int argc, char** argv) {
    using namespace clearstrand::scenario;
    ::testing::InitGoogleTest(&argc, argv);
    int count = 0;
    wchar_t** args = CommandLineToArgvW(GetCommandLineW(), &count);
    if (count < 4) {
        std::fprintf(stderr, "usage: player CLEARSTRAND_EXE MSI_FOLDER SCENARIO_FILE\n");
        return 2;
    }
    g_exe = WindowsPath(args[1]);
    g_msis = WindowsPath(args[2]);
    g_cases = WindowsPath(args[3]);
    LocalFree(args);
    for (const Case& c : Load(U(g_cases))) {
        ::testing::RegisterTest("Real", c.name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                                [c]() -> ::testing::Test* { return new Scenario(c); });
    }
    return RUN_ALL_TESTS();
}
