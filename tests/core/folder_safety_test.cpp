// Which recorded program folders may be erased: one table, one row a path.

#include <gtest/gtest.h>

#include "platform/errors.h"
#include "removal/folder_safety.h"

namespace clearstrand {
namespace {

const ProtectedFolders kMachine{
    u"C:\\Windows",
    {u"C:\\Program Files", u"C:\\Program Files (x86)", u"C:\\Program Files\\Common Files",
     u"C:\\Program Files (x86)\\Common Files", u"C:\\ProgramData", u"C:\\Users", u"C:\\Users\\user",
     u"C:\\Users\\user\\Desktop", u"C:\\Users\\user\\Documents", u"E:\\Profiles\\user\\Documents", u"C:\\Ärger",
     u"C:\\ΣΟΦΟΣ", u"C:\\ПРОГРАММЫ", u"C:\\Ｐｒｏｇ", u"", u"relative\\path"}};

struct Row {
    const char16_t* path;
    bool safe;
};

const Row kRows[] = {
    // Ordinary program folders, however they are written.
    {u"C:\\Program Files\\Veltramark\\Veltramark 2005", true},
    {u"C:\\Program Files (x86)\\Tracemill 14\\", true},
    {u"C:\\Program Files\\Common Files\\Veltramark Shared", true},
    {u"C:\\Users\\user\\Documents\\Veltramark Projects", true},
    {u"C:\\Users\\other", true},
    {u"D:\\Apps\\Veltramark", true},
    {u"C:\\WindowsApps\\Veltramark", true},
    {u"C:\\Program Files Old", true},
    {u"C:/Program Files/Veltramark", true},
    {u"C:\\Program Files\\\\Veltramark", true},
    {u"\\\\fileserver\\apps\\Veltramark", true},
    {u"\\\\?\\C:\\Program Files\\Veltramark", true},
    {u"\\\\?\\UNC\\fileserver\\apps\\Veltramark", true},
    {u"C:\\Program Files\\Tilde~Name Long", true},
    {u"E:\\Profiles\\user\\Documents\\Veltramark", true},
    {u"C:\\σοφoς", true},  // a Latin o: another name
    // Not absolute: they depend on the current folder.
    {u"", false},
    {u"Veltramark", false},
    {u"\\Program Files\\Veltramark", false},
    {u"C:Veltramark", false},
    {u"1:\\Veltramark", false},
    {u"\\\\.\\C:\\Veltramark", false},
    {u"\\\\?\\Volume{1234}\\Veltramark", false},
    {u"\\\\\\server\\share\\Veltramark", false},
    {u"%ProgramFiles%\\Veltramark", false},
    // Drive and share roots.
    {u"C:\\", false},
    {u"d:/", false},
    {u"\\\\?\\C:\\", false},
    {u"\\\\fileserver\\apps\\", false},
    {u"//fileserver/apps", false},
    {u"\\\\?\\unc\\fileserver\\apps", false},
    // The Windows folder, inside it, and what holds it.
    {u"c:\\windows\\System32", false},
    {u"C:\\WINDOWS\\", false},
    {u"\\\\?\\C:\\Windows\\Temp\\Veltramark", false},
    // Shell folders, in any case, and what holds them.
    {u"c:\\program files (x86)\\", false},
    {u"C:\\PROGRAM FILES (X86)\\COMMON FILES", false},
    {u"C:\\Users\\User", false},
    {u"C:\\Users\\user\\documents\\", false},
    {u"E:\\Profiles", false},
    {u"C:\\ärger", false},
    {u"C:\\σοφος", false},
    {u"C:\\программы", false},
    {u"C:\\ｐｒｏｇ", false},
    // Names whose meaning depends on how Windows resolves them.
    {u"C:\\Program Files\\Veltramark\\..", false},
    {u"C:\\Program Files\\.\\Veltramark", false},
    {u"C:\\PROGRA~1\\Veltramark", false},
    {u"C:\\PROG~FBU", false},
    {u"C:\\Tools\\VELT~A1B.EXE", false},
    {u"C:\\Windows.\\Temp", false},
    {u"C:\\Windows \\Temp", false},
    {u"C:\\Tools\\Veltramark::$DATA", false},
    {u"C:\\Tools\\Velt*", false},
    {u"C:\\Tools\\Velt\tmark", false},
    {u"\\\\fileserver\\..\\apps\\x", false},
};

TEST(FolderSafety, EachRecordedFolder) {
    for (const Row& row : kRows) EXPECT_EQ(IsSafeToErase(row.path, kMachine), row.safe) << ToUtf8(row.path);
    // The Windows folder kept below another folder protects that folder.
    ProtectedFolders moved = kMachine;
    moved.windows = u"D:\\OS\\Windows";
    EXPECT_FALSE(IsSafeToErase(u"D:\\OS", moved));
    EXPECT_FALSE(IsSafeToErase(u"D:\\OS\\Windows\\Fonts", moved));
    EXPECT_TRUE(IsSafeToErase(u"D:\\OS\\Tools", moved));
}

}  // namespace
}  // namespace clearstrand
