// The real program from outside: a few registry keys seeded in the prefix,
// clearstrand.exe started, its disclaimer read and answered, its tree read
// back and compared with what the keys must give, a few check boxes ticked,
// and the program ended with Cancel or by closing the window.
//
//   smoke_test.exe <path of clearstrand.exe>

#include <gtest/gtest.h>

#include <windows.h>

#include <shellapi.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

#include "wine/contracts/wine_support.h"
#include "wine/driver/driver.h"

namespace {

using namespace std::chrono_literals;
namespace drv = clearstrand::driver;
namespace wine_tests = clearstrand::wine_tests;

std::wstring g_exe;

constexpr wchar_t kUninstall[] = L"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

struct Seed {
    HKEY hive;
    std::wstring path;
    std::vector<std::pair<std::wstring, std::wstring>> values;
};

const std::vector<Seed>& Seeds() {
    static const std::vector<Seed> seeds = {
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Castwell", {}},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veltramark\\Veltramark 2005", {}},
        {HKEY_LOCAL_MACHINE, L"SOFTWARE\\Veltramark\\Veltramark 2009", {}},  // not in the catalog
        {HKEY_CURRENT_USER, L"SOFTWARE\\Planoview\\p2003", {}},
        {HKEY_CURRENT_USER, L"SOFTWARE\\QBEL", {}},
        {HKEY_LOCAL_MACHINE, std::wstring(kUninstall) + L"\\SmokeVeltramark",
         {{L"DisplayName", L"Veltramark 2005 SP0.0"}, {L"DisplayVersion", L"13.0.1"},
          {L"InstallLocation", L"C:\\SmokeVeltramark"}}},
        {HKEY_LOCAL_MACHINE, std::wstring(kUninstall) + L"\\SmokeTracemill",
         {{L"DisplayName", L"Tracemill 14 Smoke"}, {L"DisplayVersion", L"14.2"}}},
        {HKEY_LOCAL_MACHINE, std::wstring(kUninstall) + L"\\SmokeOther",
         {{L"DisplayName", L"Tracemill 12 Smoke"}, {L"DisplayVersion", L"12.0"}}},  // no row for 12
    };
    return seeds;
}

// Everything the catalog would find, in both hives, so that no key left by
// another test shows in the tree.
void RemoveCatalogKeys() {
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        for (const wchar_t* name : {L"Veltramark", L"Planoview", L"Lanternix Software", L"ModelHarbor", L"KTRN",
                                    L"Castwell", L"Veltramark Stockroom", L"QBEL"}) {
            wine_tests::RemoveRegistryTree(hive, std::wstring(L"SOFTWARE\\") + name);
        }
    }
    for (const Seed& seed : Seeds()) {
        if (!seed.values.empty()) wine_tests::RemoveRegistryTree(seed.hive, seed.path);
    }
}

void SeedKeys() {
    for (const Seed& seed : Seeds()) {
        wine_tests::MakeRegistryKey(seed.hive, seed.path);
        for (const auto& [name, value] : seed.values) wine_tests::SetRegistryString(seed.hive, seed.path, name, value);
    }
}

// One line per item: indentation for the depth, the caption, and marks for
// the check box, bold and expanded.
std::wstring Describe(const std::vector<drv::TreeItem>& items) {
    std::wstring out;
    for (const drv::TreeItem& item : items) {
        out += std::wstring(static_cast<size_t>(item.depth) * 2, L' ') + (item.checked ? L"[x] " : L"[ ] ") +
               item.text + (item.bold ? L" <b>" : L"") + (item.expanded ? L" <+>" : L"") + L"\n";
    }
    return out;
}

const std::wstring kSeededTree =
    L"[ ] All Veltramark Software <b> <+>\n"
    L"  [ ] Miscellaneous Registry Keys <b> <+>\n"
    L"    [ ] Castwell\n"
    L"    [ ] QBEL\n"
    L"  [ ] Veltramark <b> <+>\n"
    L"    [ ] Veltramark 2005 (registry key) <+>\n"
    L"      [ ] Veltramark 2005 SP0.0\n"
    L"  [ ] Planoview <b> <+>\n"
    L"    [ ] p2003 (Registry Key)\n"
    L"  [ ] Tracemill <b> <+>\n"
    L"    [ ] Tracemill 14 Smoke\n";

const std::wstring kDisclaimer =
    L"In no event shall Veltramark be liable for any types of damages whatsoever (including without\r"
    L"limitation damages resulting from loss of use, loss of data, loss of profits, or loss of business)\r"
    L"arising out of this application or service.\r"
    L"\r"
    L"Veltramark recommends that you back up all data and files on the system before using this utility.";

class SmokeTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_FALSE(g_exe.empty()) << "usage: smoke_test.exe <clearstrand.exe>";
        RemoveCatalogKeys();
        SeedKeys();
    }
    void TearDown() override {
        program.Kill();
        RemoveCatalogKeys();
    }

    // Starts the program, answers the disclaimer and waits until the tree is
    // built; the disclaimer's text is checked on the way.
    void StartAndWaitUntilIdle() {
        program = drv::Launch(g_exe);
        const HWND disclaimer = drv::WaitForTopWindow(program.Id(), drv::kDialogClass, L"Clearstrand", 20s);
        ASSERT_TRUE(disclaimer) << "no disclaimer";
        // The window is not shown before the disclaimer is answered.
        EXPECT_FALSE(drv::FindTopWindow(program.Id(), nullptr, L"Clearstrand Utility"));
        EXPECT_EQ(drv::MessageBoxText(disclaimer), kDisclaimer);
        drv::PressDialogButton(disclaimer, IDOK);

        main = drv::WaitForTopWindow(program.Id(), nullptr, L"Clearstrand Utility", 20s);
        ASSERT_TRUE(main) << "no main window";
        tree = drv::FindChild(main, WC_TREEVIEWW);
        status = drv::FindChild(main, STATUSCLASSNAMEW);
        ASSERT_TRUE(tree && status);
        for (int i = 0;; ++i) {
            HWND button = drv::FindChild(main, WC_BUTTONW, i);
            if (!button) break;
            buttons[drv::WindowText(button)] = button;
        }
        ASSERT_EQ(buttons.size(), 3u);
        // "Ready" is also the text before activation: wait for the tree too.
        drv::PumpUntil(
            [&] { return drv::StatusText(status, 1) == L"Ready" && Describe(drv::ReadTree(tree)) == kSeededTree; },
            30s);
    }

    HWND Button(const wchar_t* caption) { return buttons[caption]; }

    drv::Process program;
    HWND main = nullptr;
    HWND tree = nullptr;
    HWND status = nullptr;
    std::map<std::wstring, HWND> buttons;
};

TEST_F(SmokeTest, StartsWithTheDisclaimerShowsTheSeededTreeAndCancelEndsIt) {
    ASSERT_NO_FATAL_FAILURE(StartAndWaitUntilIdle());
    EXPECT_EQ(wine_tests::Narrow(Describe(drv::ReadTree(tree))), wine_tests::Narrow(kSeededTree));
    EXPECT_EQ(drv::StatusText(status, 1), L"Ready");
    EXPECT_EQ(drv::StatusText(status, 0), L"");
    EXPECT_EQ(drv::StatusPartCount(status), 2);
    EXPECT_TRUE(drv::IsEnabled(Button(L"Refresh")));
    EXPECT_FALSE(drv::IsEnabled(Button(L"Start")));
    EXPECT_TRUE(drv::IsEnabled(Button(L"Cancel")));

    drv::ClickButtonUntil(Button(L"Cancel"), [&] { return program.WaitForExit(0ms).has_value(); });
    const auto code = program.WaitForExit(10s);
    ASSERT_TRUE(code) << "still running after Cancel";
    EXPECT_EQ(*code, 0u);
}

TEST_F(SmokeTest, TicksPropagateEnableStartAndRefreshClearsThem) {
    ASSERT_NO_FATAL_FAILURE(StartAndWaitUntilIdle());
    const auto release = drv::FindItem(tree, L"Veltramark 2005 (registry key)");
    ASSERT_TRUE(release);

    // A click on the release's box ticks its product too.
    drv::ClickCheckBox(tree, release->item);
    EXPECT_TRUE(drv::PumpUntil([&] { return drv::IsEnabled(Button(L"Start")); }, 5s));
    EXPECT_TRUE(drv::FindItem(tree, L"Veltramark 2005 SP0.0")->checked);
    EXPECT_TRUE(drv::FindItem(tree, L"Veltramark 2005 (registry key)")->checked);
    EXPECT_FALSE(drv::FindItem(tree, L"Veltramark")->checked);

    // Space on the product clears it and its ancestors; nothing is left.
    drv::PressSpaceOn(tree, drv::FindItem(tree, L"Veltramark 2005 SP0.0")->item);
    EXPECT_TRUE(drv::PumpUntil([&] { return !drv::IsEnabled(Button(L"Start")); }, 5s));
    EXPECT_FALSE(drv::FindItem(tree, L"Veltramark 2005 (registry key)")->checked);

    // Refresh rebuilds the tree with every box clear.
    drv::ClickCheckBox(tree, drv::FindItem(tree, L"Castwell")->item);
    EXPECT_TRUE(drv::PumpUntil([&] { return drv::IsEnabled(Button(L"Start")); }, 5s));
    drv::ClickButton(Button(L"Refresh"));
    EXPECT_TRUE(drv::PumpUntil([&] { return !drv::IsEnabled(Button(L"Start")) && drv::IsEnabled(Button(L"Refresh")) &&
                                            drv::StatusText(status, 1) == L"Ready" &&
                                            Describe(drv::ReadTree(tree)) == kSeededTree; },
                               20s));
    EXPECT_EQ(wine_tests::Narrow(Describe(drv::ReadTree(tree))), wine_tests::Narrow(kSeededTree));

    // Closing the window ends the program as well.
    PostMessageW(main, WM_CLOSE, 0, 0);
    const auto code = program.WaitForExit(10s);
    ASSERT_TRUE(code) << "still running after the window closed";
    EXPECT_EQ(*code, 0u);
}

}  // namespace

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    int wargc = 0;
    wchar_t** wargv = CommandLineToArgvW(GetCommandLineW(), &wargc);
    for (int i = 1; wargv && i < wargc; ++i) {
        const std::wstring arg = wargv[i];
        if (arg.rfind(L"--", 0) == 0) continue;  // a test flag
        // A Unix path reaches us through drive Z:.
        g_exe = arg[0] == L'/' ? L"Z:" + arg : arg;
    }
    LocalFree(wargv);
    return RUN_ALL_TESTS();
}
