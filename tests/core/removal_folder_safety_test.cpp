#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/errors.h"
#include "removal/folder_safety.h"

namespace clearstrand {
namespace {

ProtectedFolders MachineFolders() {
    return ProtectedFolders{
        u"C:\\Windows",
        {u"C:\\Program Files", u"C:\\Program Files (x86)", u"C:\\Program Files\\Common Files",
         u"C:\\Program Files (x86)\\Common Files", u"C:\\ProgramData", u"C:\\Users",
         u"C:\\Users\\user", u"C:\\Users\\user\\Desktop", u"C:\\Users\\user\\Documents"},
    };
}

struct Case {
    std::u16string path;
    bool safe;
};

void ExpectAll(const std::vector<Case>& cases, const ProtectedFolders& folders) {
    for (const auto& c : cases) {
        EXPECT_EQ(IsSafeToErase(c.path, folders), c.safe) << ToUtf8(c.path);
    }
}

TEST(FolderSafety, OrdinaryProgramFoldersMayBeErased) {
    ExpectAll({
                  {u"C:\\Program Files\\Veltramark\\Veltramark 2005", true},
                  {u"C:\\Program Files (x86)\\Tracemill 14", true},
                  {u"C:\\Program Files\\Common Files\\Veltramark Shared", true},
                  {u"C:\\ProgramData\\Veltramark", true},
                  {u"C:\\Users\\user\\Documents\\Veltramark Projects", true},
                  {u"C:\\Users\\user\\AppData\\Local\\Planoview", true},
                  {u"C:\\Users\\other", true},
                  {u"C:\\Tools\\Planoview", true},
                  {u"D:\\Apps\\Veltramark", true},
                  {u"C:\\WindowsApps\\Veltramark", true},   // a sibling that merely starts alike
                  {u"C:\\Program Files Old", true},
                  {u"C:\\Program Files\\Veltramark\\", true},  // trailing separator
                  {u"C:/Program Files/Veltramark", true},      // forward slashes
                  {u"C:\\Program Files\\\\Veltramark", true},   // doubled separator
                  {u"\\\\fileserver\\apps\\Veltramark", true},
                  {u"\\\\?\\C:\\Program Files\\Veltramark", true},
                  {u"\\\\?\\UNC\\fileserver\\apps\\Veltramark", true},
                  {u"C:\\Program Files\\Tilde~Name", true},  // a tilde without a digit
              },
              MachineFolders());
}

TEST(FolderSafety, PathsThatAreNotAbsoluteAreRefused) {
    ExpectAll({
                  {u"", false},
                  {u"Veltramark", false},
                  {u"Program Files\\Veltramark", false},
                  {u"\\Program Files\\Veltramark", false},  // rooted on the current drive
                  {u"C:Veltramark", false},                 // relative to the drive's current folder
                  {u"C:", false},
                  {u"1:\\Veltramark", false},
                  {u"\\\\.\\C:\\Veltramark", false},  // device namespace
                  {u"\\\\?\\Volume{1234}\\Veltramark", false},
                  {u"\\\\\\server\\share\\Veltramark", false},
                  {u"%ProgramFiles%\\Veltramark", false},
              },
              MachineFolders());
}

TEST(FolderSafety, DriveAndShareRootsAreRefused) {
    ExpectAll({
                  {u"C:\\", false},
                  {u"d:\\", false},
                  {u"C:/", false},
                  {u"C:\\\\", false},
                  {u"\\\\?\\C:\\", false},
                  {u"\\\\fileserver", false},
                  {u"\\\\fileserver\\", false},
                  {u"\\\\fileserver\\apps", false},
                  {u"\\\\fileserver\\apps\\", false},
                  {u"//fileserver/apps", false},
                  {u"\\\\?\\UNC\\fileserver\\apps", false},
                  {u"\\\\?\\unc\\fileserver\\apps\\", false},
              },
              MachineFolders());
}

TEST(FolderSafety, WindowsFolderAndEverythingInsideOrAroundItAreRefused) {
    ExpectAll({
                  {u"C:\\Windows", false},
                  {u"C:\\WINDOWS\\", false},
                  {u"c:\\windows\\System32", false},
                  {u"C:\\Windows\\Temp\\Veltramark", false},
                  {u"C:/Windows/Installer", false},
                  {u"\\\\?\\C:\\Windows\\System32", false},
              },
              MachineFolders());

    // Installed below another folder, the Windows folder makes that folder
    // unsafe too.
    ProtectedFolders nested = MachineFolders();
    nested.windows = u"D:\\OS\\Windows";
    ExpectAll({{u"D:\\OS", false}, {u"D:\\OS\\Windows\\Fonts", false}, {u"D:\\OS\\Tools", true}},
              nested);
}

TEST(FolderSafety, ShellFoldersAndWhatHoldsThemAreRefused) {
    ExpectAll({
                  {u"C:\\Program Files", false},
                  {u"c:\\program files (x86)\\", false},
                  {u"C:\\Program Files\\Common Files", false},
                  {u"C:\\PROGRAM FILES (X86)\\COMMON FILES", false},
                  {u"C:\\ProgramData", false},
                  {u"C:\\Users", false},
                  {u"C:\\Users\\User", false},
                  {u"C:\\Users\\user\\Desktop", false},
                  {u"C:\\Users\\user\\documents\\", false},
                  {u"\\\\?\\C:\\Users\\user", false},
              },
              MachineFolders());

    // A profile kept below a folder of its own protects that folder too.
    ProtectedFolders moved = MachineFolders();
    moved.shell.push_back(u"E:\\Profiles\\user\\Documents");
    ExpectAll({{u"E:\\Profiles", false}, {u"E:\\Profiles\\user", false},
               {u"E:\\Profiles\\user\\Documents\\Veltramark", true}, {u"E:\\Other", true}},
              moved);
}

TEST(FolderSafety, ComponentsThatCannotBeComparedAreRefused) {
    ExpectAll({
                  {u"C:\\Program Files\\Veltramark\\..", false},
                  {u"C:\\Program Files\\Veltramark\\..\\..\\Windows", false},
                  {u"C:\\Program Files\\.\\Veltramark", false},
                  {u"C:\\Tools\\..", false},
                  {u"C:\\PROGRA~1\\Veltramark", false},
                  {u"C:\\Tools\\VELTRA~12", false},
                  {u"C:\\PROG~FBU", false},  // Wine's short names end in letters
                  {u"C:\\Tools\\VELT~A1B.EXE", false},
                  {u"C:\\Windows.\\Temp", false},   // trailing dots are trimmed on open
                  {u"C:\\Windows \\Temp", false},   // and so are trailing spaces
                  {u"C:\\Tools\\Veltramark::$DATA", false},
                  {u"C:\\Tools\\Velt*", false},
                  {u"C:\\Tools\\Velt?mark", false},
                  {u"C:\\Tools\\Velt\tmark", false},
                  {u"\\\\fileserver\\..\\apps\\x", false},
                  {u"\\\\~1\\apps\\x", false},
              },
              MachineFolders());
}

TEST(FolderSafety, NamesAreComparedByTheirUpperCase) {
    // Every pair below is one name to Windows: it must be refused in either
    // spelling when it is protected, and a different name must not be.
    ProtectedFolders folders{u"C:\\Windows",
                             {u"C:\\Ärger", u"C:\\ŁÓDŹ", u"C:\\ΠΡΟΓΡΆΜΜΑΤΑ", u"C:\\ПРОГРАММЫ",
                              u"C:\\Ёлка", u"C:\\Ÿ", u"C:\\ΣΟΦΟΣ", u"C:\\Ｐｒｏｇ"}};
    ExpectAll({
                  {u"C:\\ärger", false},
                  {u"C:\\łódź", false},
                  {u"C:\\προγράμματα", false},
                  {u"C:\\программы", false},
                  {u"C:\\ёлка", false},
                  {u"C:\\ÿ", false},
                  {u"C:\\σοφος", false},
                  {u"C:\\σοφoς", true},  // a Latin o is another name
                  {u"C:\\ｐｒｏｇ", false},
                  {u"C:\\Arger", true},
                  {u"C:\\лодзь", true},
              },
              folders);
}

TEST(FolderSafety, FoldingCoversTheCaseRangesOfEachScript) {
    const std::vector<std::pair<char16_t, char16_t>> pairs{
        {u'a', u'A'},   {u'z', u'Z'},   {0xE0, 0xC0},   {0xFE, 0xDE},   {0xFF, 0x178},
        {0x101, 0x100}, {0x137, 0x136}, {0x13A, 0x139}, {0x148, 0x147}, {0x14B, 0x14A},
        {0x177, 0x176}, {0x17A, 0x179}, {0x17E, 0x17D}, {0x3B1, 0x391}, {0x3C9, 0x3A9},
        {0x3C2, 0x3A3}, {0x3AC, 0x386}, {0x3AD, 0x388}, {0x3AF, 0x38A}, {0x3CC, 0x38C},
        {0x3CD, 0x38E}, {0x3CE, 0x38F}, {0x430, 0x410}, {0x44F, 0x42F}, {0x450, 0x400},
        {0x45F, 0x40F}, {0x461, 0x460}, {0x48B, 0x48A}, {0x4C2, 0x4C1}, {0x4CF, 0x4C0},
        {0x4D1, 0x4D0}, {0x52F, 0x52E}, {0xFF41, 0xFF21},
    };
    for (const auto& [lower, upper] : pairs) {
        EXPECT_EQ(FoldForCompare(lower), upper) << std::hex << static_cast<int>(lower);
        EXPECT_EQ(FoldForCompare(upper), upper) << std::hex << static_cast<int>(upper);
    }
    for (char16_t unchanged : {u'1', u'\\', char16_t{0xF7}, char16_t{0xDF}, char16_t{0x138},
                               char16_t{0x5D0}, char16_t{0x4E00}}) {
        EXPECT_EQ(FoldForCompare(unchanged), unchanged) << std::hex << static_cast<int>(unchanged);
    }
}

TEST(FolderSafety, UnusableProtectedEntriesDoNotUnprotectTheRest) {
    ProtectedFolders folders{u"", {u"", u"relative\\path", u"C:\\Users\\user"}};
    ExpectAll({{u"C:\\Users", false}, {u"C:\\Tools\\x", true}, {u"C:\\", false}}, folders);
}

}  // namespace
}  // namespace clearstrand
