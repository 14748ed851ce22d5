// An uninstall entry whose InstallLocation is a folder no erase may take:
// the product is uninstalled, the folder is refused with "Failed to delete "
// and the disk is left as it was. Every file-system object goes through a
// tripwire that raises on any Delete outside the test's own folders, so a
// broken rule fails here instead of erasing the prefix.

#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cwctype>
#include <map>
#include <string>
#include <vector>

#include "hostile_support.h"
#include "platform/windows/wide_strings.h"

namespace clearstrand::hostile {
namespace {

std::wstring Environment(const wchar_t* name) {
    wchar_t buffer[MAX_PATH];
    const DWORD length = GetEnvironmentVariableW(name, buffer, MAX_PATH);
    return length > 0 && length < MAX_PATH ? std::wstring(buffer, length) : std::wstring();
}

std::wstring ShellFolder(int csidl) {
    wchar_t buffer[MAX_PATH];
    return SUCCEEDED(SHGetFolderPathW(nullptr, csidl, nullptr, SHGFP_TYPE_CURRENT, buffer)) ? buffer : L"";
}

std::wstring Upper(std::wstring text) {
    CharUpperBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::wstring Lower(std::wstring text) {
    CharLowerBuffW(text.data(), static_cast<DWORD>(text.size()));
    return text;
}

std::wstring Slashes(std::wstring text) {
    std::replace(text.begin(), text.end(), L'\\', L'/');
    return text;
}

bool SamePath(const std::wstring& a, const std::wstring& b) {
    return CompareStringOrdinal(a.c_str(), -1, b.c_str(), -1, TRUE) == CSTR_EQUAL;
}

// The machine's real protected folders, found through other calls than the
// file service's own.
struct RealFolders {
    RealFolders() {
        wchar_t buffer[MAX_PATH];
        windows.assign(buffer, GetWindowsDirectoryW(buffer, MAX_PATH));
        system32.assign(buffer, GetSystemDirectoryW(buffer, MAX_PATH));
        programFiles = Environment(L"ProgramW6432");
        programFilesX86 = Environment(L"ProgramFiles(x86)");
        commonFiles = Environment(L"CommonProgramW6432");
        commonFilesX86 = Environment(L"CommonProgramFiles(x86)");
        programData = Environment(L"ProgramData");
        profile = Environment(L"USERPROFILE");
        users = profile.substr(0, profile.rfind(L'\\'));
        desktop = ShellFolder(CSIDL_DESKTOPDIRECTORY);
        documents = ShellFolder(CSIDL_PERSONAL);
    }

    std::vector<std::wstring> All() const {
        return {windows,     system32,    programFiles, programFilesX86, commonFiles, commonFilesX86,
                programData, users,       profile,      desktop,         documents,   L"C:\\"};
    }

    std::wstring windows, system32, programFiles, programFilesX86, commonFiles, commonFilesX86, programData,
        users, profile, desktop, documents;
};

// A marker file in each real folder a case names, checked byte for byte.
// Each marker has a name of its own: Wine may map two folders (Desktop and
// Documents) to the same place.
class Markers {
public:
    explicit Markers(const std::vector<std::wstring>& folders) {
        const std::wstring name = L"\\ClearstrandHostileMarker-" + std::to_wstring(GetCurrentProcessId()) + L"-";
        for (size_t i = 0; i < folders.size(); ++i) {
            const std::wstring& folder = folders[i];
            const std::wstring path = (folder.back() == L'\\' ? folder.substr(0, folder.size() - 1) : folder) +
                                      name + std::to_wstring(i) + L".txt";
            MakeFile(path, "marker in " + Narrow(folder));
            markers_[path] = "marker in " + Narrow(folder);
        }
    }
    ~Markers() {
        for (const auto& marker : markers_) RemoveTree(marker.first);
    }

    // The markers that are missing or changed.
    std::vector<std::string> Changed() const {
        std::vector<std::string> changed;
        for (const auto& [path, content] : markers_) {
            if (ReadFile(path) != content) changed.push_back(Narrow(path));
        }
        return changed;
    }

private:
    std::map<std::wstring, std::string> markers_;
};

class CurrentDirectory {
public:
    explicit CurrentDirectory(const std::wstring& path) {
        GetCurrentDirectoryW(MAX_PATH, previous_);
        if (!SetCurrentDirectoryW(path.c_str())) throw std::runtime_error("SetCurrentDirectoryW(" + Narrow(path) + ")");
    }
    ~CurrentDirectory() { SetCurrentDirectoryW(previous_); }
    CurrentDirectory(const CurrentDirectory&) = delete;
    CurrentDirectory& operator=(const CurrentDirectory&) = delete;

private:
    wchar_t previous_[MAX_PATH];
};

struct Refused {
    std::string label;
    std::wstring path;
};

// Runs CheckSoftwareInstall for a product whose entry records `path`; the
// tripwire allows deletes only in `allowed`.
struct Outcome {
    std::vector<std::u16string> productsLeft;
    std::vector<MsgBoxRecord> boxes;
    std::vector<std::wstring> deleted;
    std::string escaped;
};

Outcome Uninstall(const std::wstring& path, std::vector<std::wstring> allowed) {
    GuardedFileService files(std::move(allowed));
    Rig rig(files);
    const std::u16string name = u"Tracemill 14 Danger";
    rig.installer.AddProduct(name);
    rig.form.installedProducts = {ProductRow{u"{DANGER}", name, u"14.0", win32::FromWide(path)}};
    rig.form.statusPanel = &rig.statusBar.Item(1);
    Outcome outcome;
    try {
        rig.form.CheckSoftwareInstall(name);
    } catch (const EscapedDelete& error) {
        outcome.escaped = error.what();
    }
    outcome.productsLeft = rig.installer.ProductNames();
    outcome.boxes = rig.shell.boxes;
    outcome.deleted = files.deleted;
    return outcome;
}

TEST(DangerousInstallLocation, IsRefusedAndNothingOnDiskChanges) {
    const RealFolders real;
    for (const auto& folder : real.All()) ASSERT_FALSE(folder.empty());
    const TestRoot root(L"danger");

    // A relative path names a folder below the current one: make it a real
    // folder, so that a broken rule would show on the disk as well.
    const CurrentDirectory inRoot(root.path());
    const std::wstring relativeTarget = root / L"Tracemill Danger";
    MakeFolder(relativeTarget);

    std::vector<std::wstring> folders = real.All();
    folders.push_back(relativeTarget);
    const Markers markers(folders);

    std::vector<Refused> cases = {
        {"relative", L"Tracemill Danger"},
        {"relative with dot", L".\\Tracemill Danger"},
        {"drive root", L"C:\\"},
        {"drive without separator", L"C:"},
        {"drive root with slash", L"C:/"},
        {"share root", L"\\\\server\\share"},
        {"share root with separator", L"\\\\server\\share\\"},
        {"extended drive root", L"\\\\?\\C:\\"},
        {"extended share root", L"\\\\?\\UNC\\server\\share"},
        {"device path to Windows", L"\\\\.\\" + real.windows},
        {"Windows", real.windows},
        {"inside Windows", real.system32},
        {"deep inside Windows", real.system32 + L"\\drivers\\etc"},
        {"extended Windows", L"\\\\?\\" + real.windows},
        {"Program Files", real.programFiles},
        {"Program Files (x86)", real.programFilesX86},
        {"Common Files", real.commonFiles},
        {"Common Files (x86)", real.commonFilesX86},
        {"ProgramData", real.programData},
        {"Users", real.users},
        {"profile", real.profile},
        {"Desktop", real.desktop},
        {"Documents", real.documents},
        {"Windows upper case", Upper(real.windows)},
        {"Program Files (x86) lower case", Lower(real.programFilesX86)},
        {"profile upper case", Upper(real.profile)},
        {"Documents lower case", Lower(real.documents)},
        {"Program Files trailing", real.programFiles + L"\\"},
        {"Windows two trailing", real.windows + L"\\\\"},
        {"Users trailing", real.users + L"\\"},
        {"inside Windows slashes", Slashes(real.system32)},
        {"Program Files (x86) slashes", Slashes(real.programFilesX86)},
        {"Users slashes trailing", Slashes(real.users) + L"/"},
        {"Desktop mixed separators", real.profile + L"/Desktop"},
        {"dot-dot to Program Files (x86)", real.programFilesX86 + L"\\Tracemill\\.."},
        {"dot-dot to Windows", real.system32 + L"\\.."},
        {"dot-dot to drive root", real.programFilesX86 + L"\\..\\"},
        {"dot-dot to a harmless folder", root / L"sub\\..\\Tracemill Danger"},
    };
    // The 8.3 name of Program Files, where this file system gives one.
    for (const auto& folder : {real.programFiles, real.programFilesX86}) {
        wchar_t shortName[MAX_PATH];
        const DWORD length = GetShortPathNameW(folder.c_str(), shortName, MAX_PATH);
        if (length > 0 && length < MAX_PATH && std::wstring(shortName, length) != folder) {
            cases.push_back({"8.3 name of " + Narrow(folder), std::wstring(shortName, length)});
        } else {
            ADD_FAILURE() << "no 8.3 name for " << Narrow(folder);
        }
    }

    for (const auto& c : cases) {
        SCOPED_TRACE(c.label + ": " + Narrow(c.path));
        CountCase();
        const Outcome outcome = Uninstall(c.path, {});
        EXPECT_EQ(outcome.escaped, "");
        EXPECT_TRUE(outcome.deleted.empty());
        EXPECT_TRUE(outcome.productsLeft.empty()) << "not uninstalled";
        EXPECT_EQ(outcome.boxes.size(), 1u);
        if (!outcome.boxes.empty()) {
            EXPECT_EQ(outcome.boxes[0].prompt, u"Failed to delete " + win32::FromWide(c.path));
            EXPECT_EQ(outcome.boxes[0].buttons, kMsgBoxOkOnly);
            EXPECT_EQ(outcome.boxes[0].title, std::nullopt);
        }
        EXPECT_EQ(markers.Changed(), std::vector<std::string>());
    }
}

// The service's own list of protected folders is the one the rule above
// was checked against: full paths without a trailing separator, each one of
// the refused cases.
TEST(DangerousInstallLocation, TheServiceProtectsEveryRealFolder) {
    const RealFolders real;
    const ProtectedFolders folders = GuardedFileService({}).GetProtectedFolders();
    EXPECT_EQ(win32::ToWide(folders.windows), real.windows);
    // Program Files and Common Files in both views, ProgramData, Users, the
    // profile, Desktop, Documents.
    EXPECT_EQ(folders.shell.size(), 9u);
    const std::vector<std::wstring> all = real.All();
    for (const auto& shell : folders.shell) {
        const std::wstring wide = win32::ToWide(shell);
        SCOPED_TRACE(Narrow(wide));
        EXPECT_NE(wide.back(), L'\\');
        EXPECT_TRUE(std::any_of(all.begin(), all.end(), [&](const std::wstring& f) { return SamePath(f, wide); }));
    }
}

// The same run does erase an ordinary program folder, so the test above can
// tell a refusal from an erase.
TEST(DangerousInstallLocation, AnOrdinaryProgramFolderIsErased) {
    CountCase();
    const RealFolders real;
    const std::wstring program =
        real.programFilesX86 + L"\\Clearstrand Hostile Safe " + std::to_wstring(GetCurrentProcessId());
    MakeFile(program + L"\\app.exe", "app", FILE_ATTRIBUTE_READONLY);
    MakeFile(program + L"\\data\\\u00e9t\u00e9.dat", "data");
    const Markers markers({real.programFilesX86});

    const Outcome outcome = Uninstall(program, {program});
    const bool left = Exists(program);
    RemoveTree(program);

    EXPECT_EQ(outcome.escaped, "");
    EXPECT_FALSE(left);
    EXPECT_EQ(outcome.deleted.size(), 4u);
    EXPECT_TRUE(outcome.productsLeft.empty());
    EXPECT_TRUE(outcome.boxes.empty());
    EXPECT_EQ(markers.Changed(), std::vector<std::string>());
}

}  // namespace
}  // namespace clearstrand::hostile
