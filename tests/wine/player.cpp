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

std::wstring g_exe, g_msis;

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

// ---- The player --------------------------------------------------------------

class WinePlayer final : public Player {
public:
    // Takes away what the case seeded.
    ~WinePlayer() override {
        program_.reset();
        for (HANDLE held : held_) CloseHandle(held);
        for (const auto& [code, name] : Products()) {
            if (packages_.count(U(name))) drv::Run(L"msiexec /x " + code + L" /qn");
        }
        for (auto it = keys_.rbegin(); it != keys_.rend(); ++it) {
            HKEY software = nullptr;  // opened through SOFTWARE, so that the hive's view applies
            if (!RegOpenKeyExW(it->first.root, L"SOFTWARE", 0, KEY_ALL_ACCESS | it->first.view, &software)) {
                RegDeleteTreeW(software, it->second.substr(9).c_str());
                RegCloseKey(software);
            }
        }
        for (auto it = files_.rbegin(); it != files_.rend(); ++it) RemoveTree(*it);
    }

protected:
    void Key(const std::string& hive, const std::string& path) override { Value(hive, path, "", "", false); }
    void Value(const std::string& hiveName, const std::string& path, const std::string& name, const std::string& data,
               bool dword) override {
        const Hive hive = HiveOf(hiveName);
        const std::wstring wide = W(path);
        if (wide.rfind(L"SOFTWARE\\", 0) != 0) throw std::runtime_error("keys are seeded under SOFTWARE only");
        for (size_t at = wide.find(L'\\');; at = wide.find(L'\\', at + 1)) {
            if (!KeyExists(hive, wide.substr(0, at))) {
                keys_.push_back({hive, wide.substr(0, at)});
                break;
            }
            if (at == std::wstring::npos) break;
        }
        if (hiveName == "HKLM64") roots64_.insert(wide.substr(0, wide.find(L'\\', 9)));
        SetValue(hive, wide, W(name), W(data), dword);
    }
    std::string Msi(const std::string& name, const std::string&, const std::string& folder,
                    const std::optional<std::string>& location) override {
        std::string file = name;
        std::replace(file.begin(), file.end(), ' ', '_');
        packages_.insert(name);
        if (drv::Run(L"msiexec /i \"" + g_msis + L"\\" + W(file) + L".msi\" /qn") != 0) {
            throw std::runtime_error("cannot install " + name);
        }
        files_.push_back(W(Macro("pf86", "") + "\\" + folder));  // the files the user adds there
        const std::wstring entry = EntryOf(W(name));
        if (location) SetValue(HiveOf("HKLM"), entry, L"InstallLocation", W(*location), false);
        return U(entry);
    }
    void File(const std::string& path, bool readOnly, bool hidden, bool held) override {
        const std::wstring wide = W(path);
        Folder(path.substr(0, path.rfind('\\')));
        Note(wide);
        HANDLE file = CreateFileW(Long(wide).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
        const std::string content = "data of " + path;
        DWORD written = 0;
        WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(file);
        SetFileAttributesW(Long(wide).c_str(), (readOnly ? FILE_ATTRIBUTE_READONLY : 0) |
                                                   (hidden ? FILE_ATTRIBUTE_HIDDEN : 0) | FILE_ATTRIBUTE_ARCHIVE);
        // Held open by this process, which lets no other delete it.
        if (held) held_.push_back(CreateFileW(Long(wide).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr));
    }
    void Folder(const std::string& path) override {
        const std::wstring wide = W(path);
        for (size_t at = wide.find(L'\\', 3);; at = wide.find(L'\\', at + 1)) {
            Note(wide.substr(0, at));
            CreateDirectoryW(Long(wide.substr(0, at)).c_str(), nullptr);
            if (at == std::wstring::npos) return;
        }
    }
    std::string Macro(const std::string& name, const std::string& argument) override { return Lookup(name, argument); }

    void Open() override {
        program_ = std::make_unique<drv::Process>(L"\"" + g_exe + L"\"");
        if (!drv::PumpUntil([&] { return AnswerBox(); }, 30s)) throw std::runtime_error("no disclaimer");
        if (!drv::PumpUntil([&] { return (main_ = drv::FindTopWindow(program_->Id(), kWindowClass)); }, 20s) ||
            !drv::PumpUntil([&] { return Status() == L"Ready"; }, 60s)) {
            throw std::runtime_error("the program never got ready");
        }
    }
    void Toggle(const std::string& caption, const std::string& how) override {
        std::optional<drv::TreeItem> item;
        for (auto& i : drv::ReadTree(Child(WC_TREEVIEWW))) {
            if (U(i.text) == caption) item = i;
        }
        if (!item || (how == "tick" && item->checked) || (how == "untick" && !item->checked)) {
            throw std::runtime_error("cannot " + how + " " + caption);
        }
        if (how == "space") drv::PressSpaceOn(Child(WC_TREEVIEWW), item->item);
        else drv::ClickCheckBox(Child(WC_TREEVIEWW), item->item);
        const bool flipped = drv::PumpUntil([&] {
            for (const auto& now : drv::ReadTree(Child(WC_TREEVIEWW))) {
                if (now.item == item->item) return now.checked != item->checked;
            }
            return false;
        });
        if (!flipped) throw std::runtime_error("could not " + how + " " + caption);
    }
    // Presses a button and waits until its work is done, answering boxes.
    void Press(const std::string& button) override {
        if (button == "cancel") {
            drv::ClickButton(Child(L"Button", L"Cancel"), [&] { return program_->WaitForExit(0ms).has_value(); });
            EXPECT_EQ(program_->WaitForExit(10s), std::optional<DWORD>(0)) << "Cancel did not end the program";
            return;
        }
        const HWND refresh = Child(L"Button", L"Refresh");
        const auto root = drv::ReadTree(Child(WC_TREEVIEWW)).at(0).item;
        drv::ClickButton(Child(L"Button", button == "start" ? L"Start" : L"Refresh"), [&] {
            return !IsWindowEnabled(refresh) || drv::FindMessageBox(program_->Id()) ||
                   drv::ReadTree(Child(WC_TREEVIEWW)).at(0).item != root;  // a rebuilt tree
        });
        if (!drv::PumpUntil([&] { return !AnswerBox() && IsWindowEnabled(refresh) && Status() == L"Ready"; }, 180s)) {
            throw std::runtime_error(button + " never ended");
        }
    }
    void Close() override {
        if (program_ && !program_->WaitForExit(0ms)) Press("cancel");
    }
    std::vector<Shown> Tree() override {
        std::vector<Shown> shown;
        for (const auto& i : drv::ReadTree(Child(WC_TREEVIEWW))) shown.push_back({i.depth, U(i.text), i.checked, i.bold, i.expanded});
        return shown;
    }
    std::vector<std::string> Window() override {
        if (program_->WaitForExit(0ms)) return {"ended"};
        std::string buttons;
        for (const wchar_t* b : {L"Refresh", L"Start", L"Cancel"}) {
            buttons += (buttons.empty() ? "" : ", ") + U(b) + (IsWindowEnabled(Child(L"Button", b)) ? " on" : " off");
        }
        std::string panels = "panels:";
        RECT bar{};
        GetClientRect(Child(STATUSCLASSNAMEW), &bar);
        const auto parts = drv::StatusParts(Child(STATUSCLASSNAMEW));
        for (size_t i = 0; i < parts.size(); ++i) {
            const bool spring = parts[i].first < 0 || parts[i].first >= bar.right;
            panels += std::string(parts[i].second ? " flat" : " inset") + (spring ? " spring" : " fixed") + " \"" +
                      U(drv::StatusText(Child(STATUSCLASSNAMEW), static_cast<int>(i))) + "\"";
        }
        return {buttons, panels, "label: " + Render(U(drv::WindowText(Static(false))))};
    }
    std::optional<std::vector<std::string>> Layout() override {
        const std::pair<const char*, HWND> controls[] = {
            {"Picture1", Static(true)}, {"Label2", Static(false)}, {"TreeView1", Child(WC_TREEVIEWW)},
            {"Refresh", Child(L"Button", L"Refresh")}, {"Start", Child(L"Button", L"Start")},
            {"Cancel", Child(L"Button", L"Cancel")}, {"StatusBar1", Child(STATUSCLASSNAMEW)}};
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
    std::vector<std::string> Describe() override {
        std::vector<std::string> lines;
        DumpKey(HiveOf("HKLM"), L"SOFTWARE", lines);
        DumpKey(HiveOf("HKCU"), L"SOFTWARE", lines);
        for (const auto& root : roots64_) DumpKey(HiveOf("HKLM64"), root, lines);
        for (const auto& [code, name] : Products()) lines.push_back("product " + U(name));
        const std::wstring programFiles = KnownFolder(FOLDERID_ProgramFilesX86);
        DumpFiles(programFiles, lines);
        for (const auto& path : files_) {
            if (path.rfind(programFiles + L"\\", 0) != 0) DumpFiles(path, lines);
        }
        std::sort(lines.begin(), lines.end());
        lines.erase(std::unique(lines.begin(), lines.end()), lines.end());
        return lines;
    }
    void Settle(const std::function<bool()>& want) override { drv::PumpUntil(want, 3s); }

private:
    static constexpr wchar_t kWindowClass[] = L"ClearstrandUtilityWindow";

    // Reads and answers the box that is up, if any.
    bool AnswerBox() {
        const auto box = drv::FindMessageBox(program_->Id());
        if (!box) return false;
        // The disclaimer comes while the window is still hidden.
        if (boxes.empty() && drv::FindTopWindow(program_->Id(), kWindowClass)) ADD_FAILURE() << "window before disclaimer";
        boxes.push_back((box->title == L"Clearstrand" ? "" : "[" + U(box->title) + "] ") + (box->icon ? "[!] " : "") +
                        Render(U(box->text)));
        drv::PressOk(box->hwnd);
        return true;
    }
    HWND Child(const wchar_t* className, const wchar_t* caption = nullptr) {
        return caption ? FindWindowExW(main_, nullptr, className, caption) : drv::FindChild(main_, className);
    }
    // The statics: the instruction text, and the picture, which shows an icon.
    HWND Static(bool picture) {
        for (int i = 0;; ++i) {
            HWND hwnd = drv::FindChild(main_, L"Static", i);
            if (!hwnd || ((GetWindowLongPtrW(hwnd, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) == picture) return hwnd;
        }
    }
    std::wstring Status() { return main_ && IsWindow(main_) ? drv::StatusText(Child(STATUSCLASSNAMEW), 1) : L""; }
    // A file or folder the case made, unless it was there before.
    void Note(const std::wstring& path) {
        const bool inside = std::any_of(files_.begin(), files_.end(), [&](auto& made) { return path.rfind(made + L"\\", 0) == 0; });
        if (!inside && GetFileAttributesW(Long(path).c_str()) == INVALID_FILE_ATTRIBUTES) files_.push_back(path);
    }

    std::unique_ptr<drv::Process> program_;
    HWND main_ = nullptr;
    std::vector<std::pair<Hive, std::wstring>> keys_;
    std::vector<std::wstring> files_;
    std::set<std::wstring> roots64_;
    std::set<std::string> packages_;
    std::vector<HANDLE> held_;
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
    if (count < 4) return 2;
    g_exe = WindowsPath(args[1]);
    g_msis = WindowsPath(args[2]);
    const std::string cases = U(WindowsPath(args[3]));
    LocalFree(args);
    for (const Case& c : Load(cases)) {
        struct Test : ::testing::Test {
            explicit Test(Case c) : c(std::move(c)) {}
            void TestBody() override { WinePlayer().Play(c); }
            Case c;
        };
        ::testing::RegisterTest("Real", c.name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                                [c]() -> ::testing::Test* { return new Test(c); });
    }
    return RUN_ALL_TESTS();
}
