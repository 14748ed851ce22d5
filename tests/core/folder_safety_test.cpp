// Which recorded program folders may be erased, on a machine whose Windows
// folder sits below C:\OS and that has short names and links: one table.

#include <gtest/gtest.h>

#include "memory/machine.h"
#include "platform/errors.h"
#include "removal/folder_safety.h"

namespace clearstrand {
namespace {

struct Row {
    const char16_t* path;
    bool safe;
};

const Row kRows[] = {
    // Ordinary program folders, however they are written.
    {u"C:\\Program Files\\Veltramark\\Veltramark 2005", true},
    {u"c:\\program files (x86)\\TRACEMILL 14\\", true},
    {u"C:/Program Files/Veltramark", true},
    {u"\\\\?\\C:\\Program Files\\Veltramark", true},
    {u"C:\\Tools\\..\\Program Files\\Veltramark", true},
    {u"D:\\Apps\\Veltramark", true},
    {u"C:\\WindowsApps\\Veltramark", true},  // merely starts like another
    {u"C:\\Program Files Old", true},
    {u"C:\\users\\user\\Documents\\Veltramark Projects", true},
    {u"C:\\Tools\\ToApps", true},  // a link to an ordinary folder
    {u"C:\\Missing\\Folder", true},  // nothing there to erase
    // Not absolute, or a root: refused as written.
    {u"", false},
    {u"Veltramark", false},
    {u"\\Program Files\\Veltramark", false},
    {u"C:Veltramark", false},
    {u"1:\\Veltramark", false},
    {u"\\\\.\\C:\\Veltramark", false},
    {u"\\\\?\\Volume{1234}\\Veltramark", false},
    {u"C:\\", false},
    {u"d:/", false},
    {u"\\\\server\\share\\", false},
    {u"\\\\?\\UNC\\server\\share", false},
    {u"C:\\Tools\\ToDrive", false},  // a link to a root
    // The Windows folder, inside it, what holds it: however reached.
    {u"C:\\OS\\windows\\System32", false},
    {u"C:\\OS\\WINDOWS\\", false},
    {u"C:\\OS", false},
    {u"C:\\OS\\windows.\\System32", false},
    {u"C:\\Tools\\ToSystem", false},
    // Shell folders and what holds them: by short name, "..", case, link.
    {u"C:\\PROG~FBU", false},
    {u"C:\\PROG~5P2\\Common Files", false},
    {u"C:\\Program Files (x86)\\Common Files\\..", false},
    {u"C:\\users\\user\\Documents\\..\\..", false},
    {u"C:\\users\\user\\DOCU~OWL", false},
    {u"\\\\?\\C:\\USERS\\USER", false},
    {u"C:\\Tools\\ToProgramFiles", false},
};

TEST(FolderSafety, EachRecordedFolder) {
    memory::Machine machine;
    for (const char16_t* folder : {u"C:\\Program Files\\Veltramark\\Veltramark 2005", u"C:\\Program Files (x86)\\Tracemill 14",
                                   u"D:\\Apps\\Veltramark", u"C:\\WindowsApps\\Veltramark", u"C:\\Program Files Old",
                                   u"C:\\users\\user\\Documents\\Veltramark Projects", u"C:\\OS\\windows\\System32",
                                   u"C:\\Program Files (x86)\\Common Files"}) {
        machine.AddEntry(folder, true);
    }
    machine.AddLink(u"C:\\Tools\\ToApps", u"D:\\Apps\\Veltramark");
    machine.AddLink(u"C:\\Tools\\ToDrive", u"D:\\");
    machine.AddLink(u"C:\\Tools\\ToSystem", u"C:\\OS\\windows\\System32");
    machine.AddLink(u"C:\\Tools\\ToProgramFiles", u"C:\\Program Files");
    for (const Row& row : kRows) EXPECT_EQ(IsSafeToErase(row.path, machine.files()), row.safe) << ToUtf8(row.path);
}

}  // namespace
}  // namespace clearstrand
