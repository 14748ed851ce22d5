#include "core/removal_fixture.h"

namespace clearstrand::removal_test {
namespace {

using Strings = std::vector<std::string>;
using Paths = std::vector<std::u16string>;

class FolderErase : public RemovalTest {
protected:
    const std::u16string app = u"C:\\Apps\\Veltramark";
};

TEST_F(FolderErase, NothingHappensWhereNoFolderIs) {
    p.files.AddFile(u"C:\\Apps\\setup.log");
    form().EraseFolder(u"C:\\Apps\\Missing");
    form().EraseFolder(u"C:\\Apps\\setup.log");

    EXPECT_EQ(p.files.calls, (Strings{"FolderExists C:\\Apps\\Missing", "FolderExists C:\\Apps\\setup.log"}));
    EXPECT_TRUE(p.files.Exists(u"C:\\Apps\\setup.log"));
    EXPECT_TRUE(p.shell.boxes.empty());
}

TEST_F(FolderErase, EmptyFolderAndReadOnlyFilesAreDeleted) {
    p.files.AddFolder(app + u"\\Empty");
    p.files.AddFile(app + u"\\licence.dat", true);
    p.files.AddFile(app + u"\\bin\\core.dll", true);
    p.files.AddFile(u"C:\\Apps\\Other\\keep.txt");

    form().EraseFolder(app);
    EXPECT_EQ(p.files.AllPaths(), (Paths{u"C:", u"C:\\Apps", u"C:\\Apps\\Other", u"C:\\Apps\\Other\\keep.txt"}));
}

TEST_F(FolderErase, FilesFirstThenEachSubfolderCompletelyThenTheFolder) {
    p.files.AddFile(app + u"\\a.exe");
    p.files.AddFile(app + u"\\b.dll");
    p.files.AddFile(app + u"\\Data\\one.dat");
    p.files.AddFile(app + u"\\Data\\Deep\\two.dat");
    p.files.AddFolder(app + u"\\Help");

    form().EraseFolder(app);

    const std::string a = "C:\\Apps\\Veltramark";
    EXPECT_EQ(p.files.calls,
              (Strings{"FolderExists " + a, "GetFolder " + a, "DeleteFile " + a + "\\a.exe",
                       "DeleteFile " + a + "\\b.dll",
                       "FolderExists " + a + "\\Data", "GetFolder " + a + "\\Data",
                       "DeleteFile " + a + "\\Data\\one.dat",
                       "FolderExists " + a + "\\Data\\Deep", "GetFolder " + a + "\\Data\\Deep",
                       "DeleteFile " + a + "\\Data\\Deep\\two.dat", "DeleteFolder " + a + "\\Data\\Deep",
                       "DeleteFolder " + a + "\\Data",
                       "FolderExists " + a + "\\Help", "GetFolder " + a + "\\Help", "DeleteFolder " + a + "\\Help",
                       "DeleteFolder " + a}));
    // Each level works with a file-system object of its own.
    EXPECT_EQ(p.files.fileSystemsCreated, 4);
    EXPECT_FALSE(p.files.Exists(app));

    // Once gone, a second erase only looks.
    p.files.calls.clear();
    form().EraseFolder(app);
    EXPECT_EQ(p.files.calls, Strings{"FolderExists " + a});
}

TEST_F(FolderErase, LinksAreRemovedWithoutTouchingWhatTheyPointTo) {
    p.files.AddFile(u"C:\\Shared\\Fonts\\font.ttf");
    p.files.AddLink(app + u"\\Fonts", u"C:\\Shared\\Fonts");   // points outside
    p.files.AddFile(app + u"\\Data\\one.dat");
    p.files.AddLink(app + u"\\DataLink", app + u"\\Data");    // points inside
    p.files.AddLink(u"C:\\Apps\\Alias", u"C:\\Shared");

    form().EraseFolder(app);
    // A folder that is itself a link goes, and only the link.
    form().EraseFolder(u"C:\\Apps\\Alias");

    EXPECT_EQ(p.files.AllPaths(), (Paths{u"C:", u"C:\\Apps", u"C:\\Shared", u"C:\\Shared\\Fonts",
                                         u"C:\\Shared\\Fonts\\font.ttf"}));
}

TEST_F(FolderErase, TheFirstFailureEndsTheEraseAndWhatWasDeletedStaysDeleted) {
    const auto seed = [&](const std::u16string& root) {
        p.files.AddFile(root + u"\\a.exe");
        p.files.AddFile(root + u"\\b.dll");
        p.files.AddFile(root + u"\\Data\\one.dat");
        p.files.AddFile(root + u"\\Help\\index.htm");
    };

    seed(app);
    p.files.SetInUse(app + u"\\b.dll");
    EXPECT_THROW(form().EraseFolder(app), PlatformError);
    EXPECT_FALSE(p.files.Exists(app + u"\\a.exe"));
    EXPECT_TRUE(p.files.Exists(app + u"\\b.dll"));
    EXPECT_TRUE(p.files.Exists(app + u"\\Data\\one.dat"));

    // Raised by each other kind of call, inside the first subfolder.
    for (const std::string call : {"FolderExists ", "GetFolder ", "DeleteFolder "}) {
        SCOPED_TRACE(call);
        const std::u16string root = u"D:\\" + FromUtf8(call.substr(0, call.size() - 1));
        const std::u16string data = root + u"\\Data";
        seed(root);
        p.files.onCall = FailNth(call + ToUtf8(data), 1);
        EXPECT_THROW(form().EraseFolder(root), PlatformError);
        p.files.onCall = nullptr;
        EXPECT_FALSE(p.files.Exists(root + u"\\b.dll"));
        EXPECT_TRUE(p.files.Exists(root + u"\\Help\\index.htm"));
        EXPECT_EQ(p.files.Exists(data + u"\\one.dat"), call != "DeleteFolder ");
        EXPECT_TRUE(p.files.Exists(data));
    }
}

}  // namespace
}  // namespace clearstrand::removal_test
