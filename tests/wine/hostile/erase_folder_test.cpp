// EraseFolder on real folders that fight back: read-only and hidden files,
// read-only folders, paths far past 260 characters, names in every script,
// names Windows trims or reserves, and links. Each case erases one folder
// and checks that nothing of it is left while its neighbour, and anything a
// link points to, is untouched.

#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "hostile_support.h"
#include "platform/windows/wide_strings.h"

namespace clearstrand::hostile {
namespace {

// Every file below `folder` with its content, and every folder, for a
// before-and-after comparison.
std::map<std::wstring, std::string> Snapshot(const std::wstring& folder) {
    std::map<std::wstring, std::string> out;
    for (const auto& relative : ListTree(folder)) {
        out[relative] = relative.back() == L'\\' ? std::string() : ReadFile(folder + L"\\" + relative);
    }
    return out;
}

struct EraseCase {
    const char* name;
    // The erased folder, relative to the test root.
    std::wstring victim;
    // Fills the victim; `outside` is a folder next to it holding content of
    // its own. false when this system cannot build the case.
    std::function<bool(const std::wstring& victim, const std::wstring& outside)> build;
    const char* whyNot = nullptr;  // shown when build says it cannot
};

std::wstring Repeat(const std::wstring& part, int times, const std::wstring& separator) {
    std::wstring out;
    for (int i = 0; i < times; ++i) out += (i ? separator : L"") + part + std::to_wstring(i);
    return out;
}

// Names in Latin with accents, Greek, Cyrillic, CJK, and an emoji outside
// the Basic Multilingual Plane (a surrogate pair).
const std::vector<std::wstring> kScriptNames = {
    L"Caf\u00e9 \u00c5ngstr\u00f6m \u0141\u00f3d\u017a",
    L"\u0395\u03bb\u03bb\u03b7\u03bd\u03b9\u03ba\u03ac",
    L"\u041a\u0438\u0440\u0438\u043b\u043b\u0438\u0446\u0430",
    L"\u4e2d\u6587\u6587\u4ef6\u5939",
    L"\U0001F4C1 folder \U0001F389",
};

const std::vector<EraseCase>& Cases() {
    static const std::vector<EraseCase> cases = {
        {"ReadOnlyFiles", L"victim",
         [](const std::wstring& v, const std::wstring&) {
             MakeFile(v + L"\\setup.ini", "a", FILE_ATTRIBUTE_READONLY);
             MakeFile(v + L"\\bin\\tool.exe", "b", FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_ARCHIVE);
             MakeFile(v + L"\\bin\\plain.dll", "c");
             return true;
         }},
        {"HiddenAndSystemFiles", L"victim",
         [](const std::wstring& v, const std::wstring&) {
             MakeFile(v + L"\\hidden.dat", "a", FILE_ATTRIBUTE_HIDDEN);
             MakeFile(v + L"\\system.dat", "b", FILE_ATTRIBUTE_SYSTEM);
             MakeFile(v + L"\\all.dat", "c", FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_READONLY);
             MakeFile(v + L"\\cache\\index.db", "d", FILE_ATTRIBUTE_HIDDEN);
             SetFileAttributesW(Extended(v + L"\\cache").c_str(), FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
             return true;
         }},
        {"ReadOnlySubfolders", L"victim",
         [](const std::wstring& v, const std::wstring&) {
             MakeFile(v + L"\\locked\\inner\\data.bin", "a", FILE_ATTRIBUTE_READONLY);
             MakeFolder(v + L"\\locked\\empty");
             for (const auto& folder : {v + L"\\locked\\inner", v + L"\\locked\\empty", v + L"\\locked"}) {
                 SetFileAttributesW(Extended(folder).c_str(), FILE_ATTRIBUTE_READONLY);
             }
             SetFileAttributesW(Extended(v).c_str(), FILE_ATTRIBUTE_READONLY);
             return true;
         }},
        {"DeepNesting", L"victim",
         [](const std::wstring& v, const std::wstring&) {
             // 16 levels of 40-character names: about 700 characters deep.
             const std::wstring level(38, L'd');
             const std::wstring deep = v + L"\\" + Repeat(level, 16, L"\\");
             MakeFile(deep + L"\\bottom.txt", "a", FILE_ATTRIBUTE_READONLY);
             MakeFile(v + L"\\" + Repeat(level, 8, L"\\") + L"\\middle.txt", "b");
             return deep.size() > 600;
         }},
        {"VictimPathBeyond260", Repeat(std::wstring(60, L'p'), 5, L"\\") + L"\\victim",
         [](const std::wstring& v, const std::wstring&) {
             MakeFile(v + L"\\" + Repeat(std::wstring(50, L'q'), 3, L"\\") + L"\\file.txt", "a");
             MakeFile(v + L"\\top.txt", "b", FILE_ATTRIBUTE_READONLY);
             return v.size() > 260;
         }},
        // Every script at every level, past 260 characters, with a read-only
        // file on each level and a read-only hidden folder at the bottom.
        {"NonAsciiNamesPast260", L"victim",
         [](const std::wstring& v, const std::wstring&) {
             std::wstring folder = v;
             for (int i = 0; i < 4; ++i) {
                 for (const auto& name : kScriptNames) {
                     folder += L"\\" + name;
                     MakeFile(folder + L"\\" + name + L" \u00e9t\u00e9.dat", "b", FILE_ATTRIBUTE_READONLY);
                 }
             }
             MakeFile(folder + L"\\\U0001F4BE.bin", "a",
                      FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM);
             SetFileAttributesW(Extended(folder).c_str(), FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN);
             return folder.size() > 260;
         }},
        {"NonAsciiVictim", L"\u0412\u0435\u043b\u044c\u0442\u0440\u0430 \u00c9t\u00e9 \u4e2d \U0001F680",
         [](const std::wstring& v, const std::wstring&) {
             MakeFile(v + L"\\\u03b1\u03b2\u03b3\\\U0001F600.txt", "a");
             return true;
         }},
        // Names the ordinary path rules would trim or turn into devices; only
        // the "\\?\" form makes or reaches them.
        {"TrimmedAndReservedNames", L"victim",
         [](const std::wstring& v, const std::wstring&) {
             MakeFile(v + L"\\dots...\\inside.txt", "a");
             MakeFile(v + L"\\space \\inside.txt", "b");
             MakeFile(v + L"\\file. ", "c");
             MakeFile(v + L"\\aux.txt", "d");
             MakeFile(v + L"\\con\\nul", "e");
             return true;
         }},
        {"LinkToFolderOutside", L"victim",
         [](const std::wstring& v, const std::wstring& outside) {
             MakeFile(v + L"\\own.txt", "a");
             return MakeFolderLink(v + L"\\link", outside);
         },
         // Wine's todo: FSCTL_SET_REPARSE_POINT is not supported and
         // CreateSymbolicLinkW succeeds without making anything.
         "todo_wine: Wine 8 cannot make junctions or symbolic links"},
        {"LinkToSiblingInside", L"victim",
         [](const std::wstring& v, const std::wstring&) {
             MakeFile(v + L"\\target\\kept.txt", "a");
             // Named to come before and after its target in a listing.
             return MakeFolderLink(v + L"\\a link", v + L"\\target") &&
                    MakeFolderLink(v + L"\\z link", v + L"\\target");
         },
         "todo_wine: Wine 8 cannot make junctions or symbolic links"},
    };
    return cases;
}

class EraseHostileFolder : public ::testing::TestWithParam<size_t> {};

TEST_P(EraseHostileFolder, LeavesNothingBelowAndTouchesNothingBeside) {
    const EraseCase& c = Cases()[GetParam()];
    const TestRoot root(L"erase");
    const std::wstring victim = root / c.victim;
    const std::wstring outside = root / L"outside";
    MakeFile(outside + L"\\keep.txt", "outside content");
    MakeFile(outside + L"\\nested\\keep \u00e9.txt", "nested content", FILE_ATTRIBUTE_READONLY);
    MakeFolder(victim);

    if (!c.build(victim, outside)) {
        if (c.whyNot) GTEST_SKIP() << c.whyNot;
        FAIL() << "the case could not be built";
    }
    CountCase();
    const auto outsideBefore = Snapshot(outside);
    const size_t entries = ListTree(victim).size();
    ASSERT_GT(entries, 0u);

    GuardedFileService files({victim});
    Rig rig(files);
    try {
        rig.form.EraseFolder(win32::FromWide(victim));
    } catch (const PlatformError& error) {
        ADD_FAILURE() << "EraseFolder raised: " << error.what();
    }

    EXPECT_FALSE(Exists(victim)) << "left behind: " << ListTree(victim).size() << " entries";
    EXPECT_EQ(Snapshot(outside), outsideBefore);
    // One Delete per entry and one for the folder itself: nothing was taken
    // twice and nothing behind a link was reached.
    EXPECT_EQ(files.deleted.size(), entries + 1);
    EXPECT_TRUE(rig.shell.boxes.empty());
    EXPECT_TRUE(rig.shell.errors.empty());

    // A second erase of the same path finds nothing and does nothing.
    const size_t deletes = files.deleted.size();
    rig.form.EraseFolder(win32::FromWide(victim));
    EXPECT_EQ(files.deleted.size(), deletes);
}

// A path that names a file, or nothing, is no folder: nothing is deleted
// and nothing is reported.
TEST(EraseNoFolder, LeavesAFileOrAMissingPathAlone) {
    const TestRoot root(L"nofolder");
    const std::wstring file = root / L"program.exe";
    MakeFile(file, "a file, not a folder", FILE_ATTRIBUTE_READONLY);
    GuardedFileService files({root.path()});
    Rig rig(files);
    for (const auto& path : {file, root / L"missing", root / L"missing\\deeper\\"}) {
        SCOPED_TRACE(Narrow(path));
        CountCase();
        rig.form.EraseFolder(win32::FromWide(path));
    }
    EXPECT_EQ(ReadFile(file), "a file, not a folder");
    EXPECT_TRUE(files.deleted.empty());
    EXPECT_TRUE(rig.shell.boxes.empty());
}

INSTANTIATE_TEST_SUITE_P(Wine, EraseHostileFolder, ::testing::Range<size_t>(0, Cases().size()),
                         [](const ::testing::TestParamInfo<size_t>& info) {
                             return std::string(Cases()[info.param].name);
                         });

}  // namespace
}  // namespace clearstrand::hostile
