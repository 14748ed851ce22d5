// The whole program, driven from outside its process on a seeded machine:
// tick, Start, answer the message boxes, wait for "Ready", then check that
// every ticked item is gone from both hives, the installer and the disk, and
// that everything else is still there, byte for byte.
//
// Arguments: the path of clearstrand.exe and the folder of the test's
// installer packages (Unix paths are taken through drive Z:).

#include <windows.h>

#include <commctrl.h>
#include <msi.h>
#include <shellapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "wine/contracts/wine_support.h"
#include "wine/driver/driver.h"

namespace {

namespace drv = clearstrand::driver;
using namespace clearstrand::wine_tests;
using namespace std::chrono_literals;

std::wstring g_exe;
std::wstring g_msiDir;

std::wstring WindowsPath(std::wstring path) {
    if (!path.empty() && path[0] == L'/') path = L"Z:" + path;
    std::replace(path.begin(), path.end(), L'/', L'\\');
    return path;
}

// ---- Registry ------------------------------------------------------------------

constexpr REGSAM kView32 = KEY_WOW64_32KEY;
constexpr REGSAM kView64 = KEY_WOW64_64KEY;
constexpr wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

// Every key below `path` with its values, as "path|name|type|bytes" lines.
void Dump(HKEY hive, REGSAM view, const std::wstring& path, std::set<std::wstring>& out) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) return;
    out.insert(path);
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLength = 16384, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) != ERROR_SUCCESS) break;
        std::vector<BYTE> data(size + 2);
        nameLength = 16384;
        RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data.data(), &size);
        std::wstring line = path + L"|" + name + L"|" + std::to_wstring(type) + L"|";
        for (DWORD b = 0; b < size; ++b) line += std::to_wstring(data[b]) + L",";
        out.insert(line);
    }
    std::vector<std::wstring> children;
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        children.emplace_back(name);
    }
    RegCloseKey(key);
    for (const auto& child : children) Dump(hive, view, path + L"\\" + child, out);
}

struct RegistrySnapshot {
    std::set<std::wstring> machine32, machine64, user;
};

RegistrySnapshot SnapshotRegistry() {
    RegistrySnapshot s;
    Dump(HKEY_LOCAL_MACHINE, kView32, L"SOFTWARE", s.machine32);
    Dump(HKEY_LOCAL_MACHINE, kView64, L"SOFTWARE\\KTRN", s.machine64);
    Dump(HKEY_CURRENT_USER, 0, L"SOFTWARE", s.user);
    return s;
}

// The lines of `before` that do not lie below any of `removed`, and are not
// the noise that Wine itself writes while programs run.
std::set<std::wstring> Without(const std::set<std::wstring>& before, const std::vector<std::wstring>& removed) {
    std::set<std::wstring> kept;
    for (const auto& line : before) {
        const std::wstring path = line.substr(0, line.find(L'|'));
        bool gone = false;
        for (const auto& r : removed)
            if (path == r || path.rfind(r + L"\\", 0) == 0) gone = true;
        if (!gone) kept.insert(line);
    }
    return kept;
}

bool IsVolatile(const std::wstring& line) {
    // The installer and Wine keep their own bookkeeping under these keys.
    static const wchar_t* const kVolatile[] = {
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Installer",
        L"SOFTWARE\\Classes\\Installer",
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Explorer",
        L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Fonts",
        L"SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Perflib",
        L"SOFTWARE\\Microsoft\\Cryptography\\RNG",
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Diagnostics",
        L"SOFTWARE\\Wine",
        L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall",  // compared entry by entry below
    };
    for (const wchar_t* v : kVolatile)
        if (line.rfind(v, 0) == 0) return true;
    return false;
}

std::set<std::wstring> Stable(const std::set<std::wstring>& lines) {
    std::set<std::wstring> out;
    for (const auto& l : lines)
        if (!IsVolatile(l)) out.insert(l);
    return out;
}

// Uninstall entries by subkey name, each with all its lines.
std::map<std::wstring, std::set<std::wstring>> UninstallEntries(const std::set<std::wstring>& lines) {
    const std::wstring root = std::wstring(kUninstall) + L"\\";
    std::map<std::wstring, std::set<std::wstring>> byEntry;
    for (const auto& l : lines) {
        if (l.rfind(root, 0) != 0) continue;
        const std::wstring path = l.substr(0, l.find(L'|'));
        const std::wstring entry = path.substr(root.size(), path.find(L'\\', root.size()) - root.size());
        byEntry[entry].insert(l);
    }
    return byEntry;
}

// ---- Disk ----------------------------------------------------------------------

void DumpFiles(const std::wstring& folder, std::map<std::wstring, std::string>& out) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &data);
    if (find == INVALID_HANDLE_VALUE) return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const std::wstring path = folder + L"\\" + name;
        if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
            out[path + L"\\"] = {};
            DumpFiles(path, out);
        } else {
            std::ifstream in(std::filesystem::path(path), std::ios::binary);
            std::stringstream content;
            content << in.rdbuf();
            out[path] = content.str();
        }
    } while (FindNextFileW(find, &data));
    FindClose(find);
}

void WriteFile(const std::wstring& path, const std::string& content) {
    std::ofstream(std::filesystem::path(path), std::ios::binary) << content;
}

// ---- Installer -----------------------------------------------------------------

std::set<std::wstring> InstalledProducts() {
    std::set<std::wstring> names;
    wchar_t code[39];
    for (DWORD i = 0; MsiEnumProductsW(i, code) == ERROR_SUCCESS; ++i) {
        wchar_t name[512];
        DWORD size = 512;
        if (MsiGetProductInfoW(code, INSTALLPROPERTY_PRODUCTNAME, name, &size) == ERROR_SUCCESS)
            names.insert(name);
    }
    return names;
}

void Install(const std::wstring& file) {
    const std::wstring msi = g_msiDir + L"\\" + file;
    ASSERT_EQ(0u, RunAndWait(L"msiexec /i \"" + msi + L"\" /qn")) << "installing " << std::string(file.begin(), file.end());
}

std::wstring UninstallEntryOf(const std::wstring& displayName) {
    HKEY root = nullptr;
    RegOpenKeyExW(HKEY_LOCAL_MACHINE, kUninstall, 0, KEY_READ | kView32, &root);
    std::wstring found;
    for (DWORD i = 0; root; ++i) {
        wchar_t name[256];
        DWORD length = 256;
        if (RegEnumKeyExW(root, i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        wchar_t value[512];
        DWORD size = sizeof(value);
        if (RegGetValueW(root, name, L"DisplayName", RRF_RT_REG_SZ, nullptr, value, &size) == ERROR_SUCCESS &&
            displayName == value)
            found = std::wstring(kUninstall) + L"\\" + name;
    }
    if (root) RegCloseKey(root);
    return found;
}

// ---- The scenario ----------------------------------------------------------------

class EndToEnd : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(g_exe.empty()) << "usage: e2e_test CLEARSTRAND_EXE MSI_DIR";
        wchar_t buffer[MAX_PATH];
        ExpandEnvironmentStringsW(L"%ProgramFiles(x86)%", buffer, MAX_PATH);
        programFiles_ = buffer;
    }
    void TearDown() override { app_.Kill(); }

    HWND Main() const { return main_; }
    HWND Button(const wchar_t* caption) const { return FindWindowExW(main_, nullptr, L"Button", caption); }
    HWND Status() const { return drv::FindChild(main_, STATUSCLASSNAMEW); }
    HWND Tree() const { return drv::FindChild(main_, WC_TREEVIEWW); }

    void StartProgram() {
        app_ = drv::Launch(g_exe);
        auto disclaimer = drv::AnswerMessageBox(app_.Id(), L"Clearstrand", IDOK, 20s);
        ASSERT_TRUE(disclaimer) << "no disclaimer";
        main_ = drv::WaitForTopWindow(app_.Id(), nullptr, L"Clearstrand Utility", 20s);
        ASSERT_TRUE(main_) << "no main window";
        ASSERT_TRUE(drv::WaitForStatusText(Status(), 1, L"Ready", 60s)) << Narrow(drv::StatusText(Status(), 1));
    }

    void Tick(const std::wstring& caption, bool withSpace) {
        auto item = drv::FindItem(Tree(), caption);
        ASSERT_TRUE(item) << "no node " << Narrow(caption);
        if (withSpace)
            drv::PressSpaceOn(Tree(), item->item);
        else
            drv::ClickCheckBox(Tree(), item->item);
        ASSERT_TRUE(drv::PumpUntil([&] {
            auto now = drv::FindItem(Tree(), caption);
            return now && now->checked;
        })) << "could not tick " << Narrow(caption);
    }

    std::set<std::wstring> Captions() {
        std::set<std::wstring> out;
        for (const auto& i : drv::ReadTree(Tree())) out.insert(i.text);
        return out;
    }

    // Presses Start and answers every message box until the run is over.
    std::vector<std::wstring> RunRemoval() {
        std::vector<std::wstring> boxes;
        const HWND refresh = Button(L"Refresh");
        drv::ClickButtonUntil(Button(L"Start"), [&] {
            return !drv::IsEnabled(refresh) || drv::FindTopWindow(app_.Id(), drv::kDialogClass, nullptr);
        });
        const auto deadline = GetTickCount64() + 300000;
        while (GetTickCount64() < deadline) {
            if (HWND box = drv::FindTopWindow(app_.Id(), drv::kDialogClass, nullptr)) {
                boxes.push_back(drv::MessageBoxText(box));
                drv::PressDialogButton(box, IDOK);
                drv::PumpUntil([&] { return !IsWindow(box) || !IsWindowVisible(box); }, 10s);
                continue;
            }
            if (drv::IsEnabled(refresh) && drv::StatusText(Status(), 1) == L"Ready") break;
            drv::PumpFor(100ms);
        }
        return boxes;
    }

    drv::Process app_;
    HWND main_ = nullptr;
    std::wstring programFiles_;
};

TEST_F(EndToEnd, StartRemovesEveryTickedItemAndNothingElse) {
    // The machine: release keys in both hives, miscellaneous keys, bystanders
    // whose names are close to the ticked ones, and four installed products.
    SetRegistryString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veltramark\\Veltramark 2005\\Settings\\Deep", L"Units", L"mm", kView32);
    SetRegistryString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veltramark\\Veltramark 2005", L"Path", L"x", kView32);
    SetRegistryString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veltramark\\Veltramark 2005 Extras", L"Keep", L"yes", kView32);
    SetRegistryString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veltramark\\Veltramark 2003", L"Keep", L"yes", kView32);
    SetRegistryString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Planoview\\p2005", L"Keep", L"yes", kView32);
    SetRegistryString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KTRN\\Sub", L"Gone", L"yes", kView32);
    SetRegistryString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\QBEL", L"Keep", L"yes", kView32);
    SetRegistryString(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KTRN", L"Other view", L"kept: not what was shown", kView64);
    SetRegistryString(HKEY_CURRENT_USER, L"SOFTWARE\\Veltramark\\Veltramark 2005\\Recent", L"File1", L"C:\\plan.vmk");
    SetRegistryString(HKEY_CURRENT_USER, L"SOFTWARE\\KTRN", L"Gone", L"yes");
    SetRegistryString(HKEY_CURRENT_USER, L"SOFTWARE\\Castwell", L"Keep", L"yes");
    SetRegistryString(HKEY_CURRENT_USER, L"SOFTWARE\\Veltramark\\Veltramark 2006", L"Keep", L"yes");
    Install(L"Veltramark_2005_SP1.msi");
    Install(L"Planoview_2005.msi");
    Install(L"Tracemill_14.msi");
    Install(L"Tracemill_15_Danger.msi");
    if (HasFatalFailure()) return;

    // Files the user added to program folders, and an uninstall entry that
    // names a folder no erase may take.
    WriteFile(programFiles_ + L"\\Veltramark 2005\\drawing.vmk", "user data");
    CreateDirectoryW((programFiles_ + L"\\Veltramark 2005\\Plugins").c_str(), nullptr);
    WriteFile(programFiles_ + L"\\Veltramark 2005\\Plugins\\p.dll", "plugin");
    SetFileAttributesW((programFiles_ + L"\\Veltramark 2005\\Plugins\\p.dll").c_str(), FILE_ATTRIBUTE_READONLY);
    WriteFile(programFiles_ + L"\\Tracemill 14\\notes.txt", "not ticked");
    const std::wstring dangerEntry = UninstallEntryOf(L"Tracemill 15 Danger");
    ASSERT_FALSE(dangerEntry.empty());
    SetRegistryString(HKEY_LOCAL_MACHINE, dangerEntry, L"InstallLocation", programFiles_ + L"\\", kView32);

    const RegistrySnapshot before = SnapshotRegistry();
    std::map<std::wstring, std::string> filesBefore;
    DumpFiles(programFiles_, filesBefore);
    const std::set<std::wstring> productsBefore = InstalledProducts();
    ASSERT_EQ(1u, productsBefore.count(L"Veltramark 2005 SP1"));

    StartProgram();
    if (HasFatalFailure()) return;
    const auto shown = Captions();
    for (const wchar_t* caption : {L"All Veltramark Software", L"Veltramark 2005 (registry key)",
                                   L"Veltramark 2005 SP1", L"p2005 (Registry Key)", L"Planoview 2005", L"KTRN",
                                   L"QBEL", L"Castwell", L"Tracemill", L"Tracemill 14", L"Tracemill 15 Danger"})
        EXPECT_EQ(1u, shown.count(caption)) << Narrow(caption);
    EXPECT_FALSE(drv::IsEnabled(Button(L"Start")));

    // Ticking the release ticks its product below it too.
    Tick(L"Veltramark 2005 (registry key)", false);
    Tick(L"Planoview 2005", true);
    Tick(L"KTRN", false);
    Tick(L"Tracemill 15 Danger", true);
    if (HasFatalFailure()) return;
    EXPECT_TRUE(drv::FindItem(Tree(), L"Veltramark 2005 SP1")->checked);
    EXPECT_FALSE(drv::FindItem(Tree(), L"p2005 (Registry Key)")->checked);
    ASSERT_TRUE(drv::IsEnabled(Button(L"Start")));

    const auto boxes = RunRemoval();
    ASSERT_EQ(L"Ready", drv::StatusText(Status(), 1));
    EXPECT_TRUE(drv::IsEnabled(Button(L"Refresh")));
    EXPECT_FALSE(drv::IsEnabled(Button(L"Start")));
    // The dangerous folder is refused with a message; nothing else fails.
    ASSERT_EQ(1u, boxes.size());
    EXPECT_EQ(L"Failed to delete " + programFiles_ + L"\\", boxes[0]);

    // The rebuilt tree no longer shows what was removed.
    const auto after = Captions();
    for (const wchar_t* gone : {L"Veltramark 2005 (registry key)", L"Veltramark 2005 SP1", L"Planoview 2005",
                                L"KTRN", L"Tracemill 15 Danger"})
        EXPECT_EQ(0u, after.count(gone)) << Narrow(gone);
    for (const wchar_t* kept : {L"p2005 (Registry Key)", L"QBEL", L"Castwell", L"Tracemill 14"})
        EXPECT_EQ(1u, after.count(kept)) << Narrow(kept);
    for (const auto& item : drv::ReadTree(Tree())) EXPECT_FALSE(item.checked) << Narrow(item.text);

    // Registry: the ticked keys are gone in both hives with their subtrees...
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veltramark\\Veltramark 2005", kView32));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, L"SOFTWARE\\Veltramark\\Veltramark 2005", 0));
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, L"SOFTWARE\\KTRN", kView32));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, L"SOFTWARE\\KTRN", 0));
    // ...and everything else is as it was, byte for byte.
    const RegistrySnapshot now = SnapshotRegistry();
    const std::vector<std::wstring> removedKeys = {L"SOFTWARE\\Veltramark\\Veltramark 2005", L"SOFTWARE\\KTRN"};
    EXPECT_EQ(Stable(Without(before.machine32, removedKeys)), Stable(now.machine32));
    EXPECT_EQ(before.machine64, now.machine64);
    EXPECT_EQ(Stable(Without(before.user, removedKeys)), Stable(now.user));

    // Uninstall entries: the three uninstalled products' entries are gone,
    // every other entry is unchanged, byte for byte.
    auto entriesBefore = UninstallEntries(before.machine32);
    auto entriesNow = UninstallEntries(now.machine32);
    size_t removedEntries = 0;
    for (const auto& [entry, lines] : entriesBefore) {
        if (!entriesNow.count(entry)) {
            ++removedEntries;
            continue;
        }
        EXPECT_EQ(lines, entriesNow[entry]) << Narrow(entry);
    }
    EXPECT_EQ(3u, removedEntries);

    // Installer: exactly the three ticked products are gone.
    std::set<std::wstring> expectedProducts = productsBefore;
    for (const wchar_t* p : {L"Veltramark 2005 SP1", L"Planoview 2005", L"Tracemill 15 Danger"})
        expectedProducts.erase(p);
    EXPECT_EQ(expectedProducts, InstalledProducts());

    // Disk: the ticked products' folders are gone with the user's files; the
    // refused folder and everything else is untouched.
    std::map<std::wstring, std::string> filesNow;
    DumpFiles(programFiles_, filesNow);
    std::map<std::wstring, std::string> expectedFiles;
    for (const auto& [path, content] : filesBefore) {
        const bool inRemoved = path.rfind(programFiles_ + L"\\Veltramark 2005\\", 0) == 0 ||
                               path.rfind(programFiles_ + L"\\Planoview 2005\\", 0) == 0 ||
                               path.rfind(programFiles_ + L"\\Tracemill Danger\\", 0) == 0;
        if (!inRemoved) expectedFiles[path] = content;
    }
    EXPECT_EQ(expectedFiles, filesNow);
    EXPECT_EQ(1u, filesNow.count(programFiles_ + L"\\Tracemill 14\\notes.txt"));

    // Cancel ends the program.
    drv::ClickButtonUntil(Button(L"Cancel"), [&] { return app_.WaitForExit(0ms).has_value(); });
    auto code = app_.WaitForExit(20s);
    ASSERT_TRUE(code);
    EXPECT_EQ(0u, *code);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    int wargc = 0;
    wchar_t** wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
    if (wargc >= 3) {
        g_exe = WindowsPath(wargv[1]);
        g_msiDir = WindowsPath(wargv[2]);
    }
    LocalFree(wargv);
    return RUN_ALL_TESTS();
}
