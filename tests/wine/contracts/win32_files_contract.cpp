#include <windows.h>

#include <string>
#include <vector>

#include "contract/files_contract.h"
#include "platform/windows/wide_strings.h"
#include "platform/windows/win32_files.h"
#include "wine_support.h"

namespace clearstrand::contract {
namespace {

using namespace wine_tests;
using win32::FromWide;
using win32::ToWide;

struct Win32FileTraits {
    Win32FileTraits() {
        static int next = 0;
        wchar_t temp[MAX_PATH + 1];
        std::wstring root(temp, GetTempPathW(MAX_PATH + 1, temp));
        while (!root.empty() && root.back() == L'\\') root.pop_back();
        root_ = FromWide(root + L"\\ClearstrandTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                         std::to_wstring(++next));
        AddFolder(root_);
    }

    ~Win32FileTraits() {
        held_.clear();  // open handles first, or the clean-up cannot delete those files
        RemoveTree(ToWide(root_));
    }

    FileService& Service() { return *service_; }
    std::u16string Root() { return root_; }
    void AddFolder(const std::u16string& path) { MakeFolder(ToWide(path)); }
    void AddFile(const std::u16string& path, bool readOnly, bool hidden) {
        const DWORD attributes = (readOnly ? FILE_ATTRIBUTE_READONLY : 0) | (hidden ? FILE_ATTRIBUTE_HIDDEN : 0);
        MakeFile(ToWide(path), "content\r\n", attributes ? attributes : FILE_ATTRIBUTE_NORMAL);
    }

    // Open for reading without FILE_SHARE_DELETE, as a running program holds its files.
    void HoldOpen(const std::u16string& path) {
        win32::UniqueFileHandle file(CreateFileW(Extended(ToWide(path)).c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                 nullptr));
        CheckBool(static_cast<bool>(file), L"CreateFileW(" + ToWide(path) + L")");
        held_.push_back(std::move(file));
    }

    bool AddLink(const std::u16string& link, const std::u16string& target) {
        return MakeFolderLink(ToWide(link), ToWide(target));
    }
    // Wine 8 makes neither junctions (FSCTL_SET_REPARSE_POINT is not
    // supported) nor symbolic links (CreateSymbolicLinkW succeeds and makes
    // nothing): the link test can only run on Windows.
    static const char* WhyNoLinks() {
        return UnderWine() ? "todo_wine: Wine 8 cannot make junctions or symbolic links" : nullptr;
    }
    bool Exists(const std::u16string& path) { return wine_tests::Exists(ToWide(path)); }

private:
    std::unique_ptr<FileService> service_ = win32::MakeWin32FileService();
    std::u16string root_;
    std::vector<win32::UniqueFileHandle> held_;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Win32, FilesContract, Win32FileTraits);

// Paths the caller writes in other ways reach the same folder and come back
// in the ordinary full form.
TEST(Win32Files, PathsComeBackInTheirOrdinaryForm) {
    Win32FileTraits traits;
    const std::u16string root = traits.Root();
    traits.AddFile(root + u"\\Sub\\a.txt", false, false);
    auto fs = traits.Service().CreateFileSystem();

    for (const std::u16string& spelled :
         {root + u"\\Sub\\", root + u"\\Sub\\.\\", root + u"\\x\\..\\Sub", u"\\\\?\\" + root + u"\\Sub"}) {
        SCOPED_TRACE(ToUtf8(spelled));
        EXPECT_TRUE(fs->FolderExists(spelled));
        EXPECT_EQ(fs->GetFolder(spelled)->Path(), root + u"\\Sub");
    }
    EXPECT_FALSE(fs->FolderExists(u""));
    EXPECT_THROW(fs->GetFolder(u""), PlatformError);

    EXPECT_EQ(win32::ToExtendedPath(L"C:\\A\\B"), L"\\\\?\\C:\\A\\B");
    EXPECT_EQ(win32::ToExtendedPath(L"\\\\server\\share\\B"), L"\\\\?\\UNC\\server\\share\\B");
    EXPECT_EQ(win32::ToExtendedPath(L"\\\\?\\C:\\A"), L"\\\\?\\C:\\A");
}

}  // namespace
}  // namespace clearstrand::contract
