// A removal run whose program folder holds a file that another process keeps
// open: the run reports that one failure and goes on with the rest of the
// selection, on the real registry and the real disk.

#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "hostile_support.h"
#include "platform/windows/wide_strings.h"

namespace clearstrand::hostile {
namespace {

constexpr wchar_t kContainer[] = L"SOFTWARE\\Veltramark";
constexpr wchar_t kRelease[] = L"SOFTWARE\\Veltramark\\Veltramark 2005";
constexpr wchar_t kEntry[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\ClearstrandHostileHeld";
constexpr char16_t kProduct[] = u"Veltramark 2005 Hostile";

// The keys the test adds, removed again whatever the run left.
class SeededRegistry {
public:
    explicit SeededRegistry(const std::wstring& installLocation) {
        for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
            if (RegistryKeyExists(hive, kRelease)) {
                throw std::runtime_error("the prefix already has a Veltramark 2005 key");
            }
            containerExisted_.push_back(RegistryKeyExists(hive, kContainer));
            SetRegistryString(hive, std::wstring(kRelease) + L"\\Settings", L"Path", installLocation);
        }
        SetRegistryString(HKEY_LOCAL_MACHINE, kEntry, L"DisplayName", win32::ToWide(kProduct));
        SetRegistryString(HKEY_LOCAL_MACHINE, kEntry, L"DisplayVersion", L"13.0.4");
        SetRegistryString(HKEY_LOCAL_MACHINE, kEntry, L"InstallLocation", installLocation);
    }

    ~SeededRegistry() {
        RemoveRegistryTree(HKEY_LOCAL_MACHINE, kEntry);
        const HKEY hives[] = {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER};
        for (size_t i = 0; i < 2; ++i) {
            RemoveRegistryTree(hives[i], kRelease);
            if (!containerExisted_[i]) RemoveRegistryTree(hives[i], kContainer);
        }
    }

private:
    std::vector<bool> containerExisted_;
};

// Loads the form over the seeded keys and ticks the release as a user
// would, which ticks the product below it: the product goes in the first
// pass, the release key in the second.
void LoadAndTickRelease(Rig& rig) {
    rig.installer.AddProduct(kProduct);
    rig.form.Form_Load();
    rig.shell.boxes.clear();  // the disclaimer
    rig.form.Form_Activate();
    TreeNode* release = rig.tree.Find(u"Veltramark 2005");
    TreeNode* product = rig.tree.Find(kProduct);
    ASSERT_NE(release, nullptr) << "the release key was not found through the provider";
    ASSERT_NE(product, nullptr) << "the uninstall entry did not show under its release";
    ASSERT_EQ(product->Parent(), release);
    rig.tree.UserToggle(*release);
    ASSERT_TRUE(product->Checked());
    ASSERT_TRUE(rig.command2.Enabled());
}

TEST(HeldFile, IsReportedAndTheRunGoesOn) {
    CountCase();
    const TestRoot root(L"held");
    const std::wstring program = root / L"Veltramark 2005 Hostile";
    const std::wstring held = program + L"\\bin\\held.dll";
    MakeFile(program + L"\\readme.txt", "read me");
    MakeFile(program + L"\\license.rtf", "license", FILE_ATTRIBUTE_READONLY);
    MakeFile(held, "held by another process");
    MakeFile(program + L"\\bin\\other.dll", "other");
    MakeFile(program + L"\\docs\\guide.txt", "guide");
    const SeededRegistry registry(program);

    GuardedFileService files({program});
    Rig rig(files);
    const FileHolder holder(held);
    ASSERT_NO_FATAL_FAILURE(LoadAndTickRelease(rig));

    rig.form.Command2_Click();

    ASSERT_EQ(rig.shell.errors.size(), 1u);
    EXPECT_NE(rig.shell.errors[0].find(u"held.dll"), std::u16string::npos) << ToUtf8(rig.shell.errors[0]);
    EXPECT_TRUE(rig.shell.boxes.empty());
    EXPECT_TRUE(rig.installer.ProductNames().empty());
    // The run went on past the failure.
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kRelease));
    EXPECT_FALSE(RegistryKeyExists(HKEY_CURRENT_USER, kRelease));
    EXPECT_EQ(rig.tree.Find(u"Veltramark 2005"), nullptr);
    EXPECT_EQ(rig.status(), u"Ready");
    EXPECT_TRUE(rig.command1.Enabled());
    EXPECT_FALSE(rig.command2.Enabled());

    // The held file and the folders above it stay; the folder's own files
    // were deleted before its subfolders were entered, and stay deleted.
    EXPECT_TRUE(Exists(held));
    EXPECT_TRUE(Exists(program));
    EXPECT_FALSE(Exists(program + L"\\readme.txt"));
    EXPECT_FALSE(Exists(program + L"\\license.rtf"));
    EXPECT_EQ(std::count(files.deleted.begin(), files.deleted.end(), held), 0);
    for (const auto& path : files.deleted) EXPECT_FALSE(Exists(path)) << Narrow(path);
}

// The same run on the real registry with an uninstall entry that records
// the Windows folder: refused with a message box, and the run still ends
// with the release key deleted.
TEST(RemovalRun, RefusesTheWindowsFolderFromARealUninstallEntry) {
    CountCase();
    wchar_t buffer[MAX_PATH];
    const std::wstring windows(buffer, GetWindowsDirectoryW(buffer, MAX_PATH));
    const SeededRegistry registry(windows);
    GuardedFileService files({});  // any Delete at all fails the test
    Rig rig(files);
    ASSERT_NO_FATAL_FAILURE(LoadAndTickRelease(rig));
    try {
        rig.form.Command2_Click();
    } catch (const EscapedDelete& error) {
        FAIL() << error.what();
    }

    ASSERT_EQ(rig.shell.boxes.size(), 1u);
    EXPECT_EQ(rig.shell.boxes[0].prompt, u"Failed to delete " + win32::FromWide(windows));
    EXPECT_TRUE(rig.shell.errors.empty());
    EXPECT_TRUE(files.deleted.empty());
    EXPECT_TRUE(rig.installer.ProductNames().empty());
    EXPECT_FALSE(RegistryKeyExists(HKEY_LOCAL_MACHINE, kRelease));
    EXPECT_EQ(rig.status(), u"Ready");
}

// Once the other process lets go, the same erase takes what was left.
TEST(HeldFile, ErasesTheRestOnceReleased) {
    CountCase();
    const TestRoot root(L"released");
    const std::wstring program = root / L"Tracemill 14";
    const std::wstring held = program + L"\\held.dll";
    MakeFile(held, "held");
    MakeFile(program + L"\\sub\\other.txt", "other");
    GuardedFileService files({program});
    Rig rig(files);
    {
        const FileHolder holder(held);
        EXPECT_THROW(rig.form.EraseFolder(win32::FromWide(program)), PlatformError);
        EXPECT_TRUE(Exists(held));
    }
    rig.form.EraseFolder(win32::FromWide(program));
    EXPECT_FALSE(Exists(program));
}

}  // namespace
}  // namespace clearstrand::hostile
