#include <windows.h>
#include <winioctl.h>

#include <cstring>
#include <string>
#include <vector>

#include "contract/files_contract.h"
#include "platform/windows/com.h"
#include "platform/windows/wide_strings.h"
#include "platform/windows/win32_files.h"
#include "wine_support.h"

namespace clearstrand::contract {
namespace {

using win32::FromWide;
using win32::ToWide;
using wine_tests::CheckBool;

// Test paths are plain drive paths; the "\\?\" form lets them pass 260 characters.
std::wstring Extended(const std::u16string& path) { return L"\\\\?\\" + ToWide(path); }

std::wstring TempRoot() {
    wchar_t buffer[MAX_PATH + 1];
    const DWORD length = GetTempPathW(MAX_PATH + 1, buffer);
    std::wstring path(buffer, length);
    while (!path.empty() && path.back() == L'\\') path.pop_back();
    return path;
}

// The layout of a mount-point reparse buffer (ntifs.h's REPARSE_DATA_BUFFER).
struct MountPointReparse {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
    wchar_t paths[1024];
};

void RemoveAll(const std::wstring& extended) {
    const DWORD attributes = GetFileAttributesW(extended.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (attributes & FILE_ATTRIBUTE_READONLY) {
        SetFileAttributesW(extended.c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(extended.c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        WIN32_FIND_DATAW data;
        win32::UniqueFindHandle find(FindFirstFileW((extended + L"\\*").c_str(), &data));
        if (find) {
            do {
                const std::wstring name = data.cFileName;
                if (name != L"." && name != L"..") RemoveAll(extended + L"\\" + name);
            } while (FindNextFileW(find.get(), &data));
        }
    }
    RemoveDirectoryW(extended.c_str());
}

struct Win32FileTraits {
    Win32FileTraits() {
        static int next = 0;
        root_ = FromWide(TempRoot() + L"\\ClearstrandTest-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
                         std::to_wstring(++next));
        AddFolder(root_);
    }

    ~Win32FileTraits() {
        held_.clear();  // open handles first, or the clean-up cannot delete those files
        RemoveAll(Extended(root_));
    }

    FileService& Service() { return *service_; }
    std::u16string Root() { return root_; }

    void AddFolder(const std::u16string& path) {
        // Every component after the drive, so that long paths work too.
        for (size_t at = path.find(u'\\', 3);; at = path.find(u'\\', at + 1)) {
            const std::wstring part = Extended(path.substr(0, at));
            if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
                CheckBool(FALSE, L"CreateDirectoryW(" + part + L")");
            }
            if (at == std::u16string::npos) break;
        }
    }

    void AddFile(const std::u16string& path, bool readOnly, bool hidden) {
        AddFolder(path.substr(0, path.rfind(u'\\')));
        const DWORD attributes = (readOnly ? FILE_ATTRIBUTE_READONLY : 0) | (hidden ? FILE_ATTRIBUTE_HIDDEN : 0);
        win32::UniqueFileHandle file(CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                                 attributes ? attributes : FILE_ATTRIBUTE_NORMAL, nullptr));
        CheckBool(static_cast<bool>(file), L"CreateFileW(" + ToWide(path) + L")");
        DWORD written = 0;
        CheckBool(WriteFile(file.get(), "content\r\n", 9, &written, nullptr), L"WriteFile");
    }

    // Open for reading without FILE_SHARE_DELETE, as a running program holds its files.
    void HoldOpen(const std::u16string& path) {
        win32::UniqueFileHandle file(CreateFileW(Extended(path).c_str(), GENERIC_READ,
                                                 FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                 nullptr));
        CheckBool(static_cast<bool>(file), L"CreateFileW(" + ToWide(path) + L")");
        held_.push_back(std::move(file));
    }

    // A junction, set by hand: an empty folder made a mount point.
    bool AddLink(const std::u16string& link, const std::u16string& target) {
        AddFolder(link);
        win32::UniqueFileHandle folder(CreateFileW(Extended(link).c_str(), GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                                                   FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                                   nullptr));
        const std::wstring substitute = L"\\??\\" + ToWide(target);
        const std::wstring print = ToWide(target);
        MountPointReparse buffer{};
        buffer.tag = IO_REPARSE_TAG_MOUNT_POINT;
        buffer.substituteLength = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
        buffer.printOffset = static_cast<WORD>((substitute.size() + 1) * sizeof(wchar_t));
        buffer.printLength = static_cast<WORD>(print.size() * sizeof(wchar_t));
        std::memcpy(buffer.paths, substitute.c_str(), (substitute.size() + 1) * sizeof(wchar_t));
        std::memcpy(buffer.paths + substitute.size() + 1, print.c_str(), (print.size() + 1) * sizeof(wchar_t));
        buffer.dataLength = static_cast<WORD>(4 * sizeof(WORD) + (substitute.size() + print.size() + 2) * sizeof(wchar_t));
        DWORD returned = 0;
        const bool made = folder && DeviceIoControl(folder.get(), FSCTL_SET_REPARSE_POINT, &buffer,
                                                    buffer.dataLength + 8u, nullptr, 0, &returned, nullptr);
        folder.reset();
        if (!made) {
            RemoveDirectoryW(Extended(link).c_str());
        }
        return made;
    }

    // Wine 8 makes neither junctions (FSCTL_SET_REPARSE_POINT is not
    // supported) nor symbolic links (CreateSymbolicLinkW succeeds and makes
    // nothing): the link test can only run on Windows.
    static const char* WhyNoLinks() {
        return wine_tests::UnderWine() ? "todo_wine: Wine 8 cannot make junctions or symbolic links" : nullptr;
    }

    bool Exists(const std::u16string& path) {
        return GetFileAttributesW(Extended(path).c_str()) != INVALID_FILE_ATTRIBUTES;
    }

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

TEST(Win32Files, ProtectedFoldersAreFullPathsWithoutTrailingBackslash) {
    const ProtectedFolders folders = win32::MakeWin32FileService()->GetProtectedFolders();
    wchar_t windows[MAX_PATH];
    const UINT length = GetWindowsDirectoryW(windows, MAX_PATH);
    EXPECT_EQ(folders.windows, FromWide(std::wstring_view(windows, length)));
    // Program Files in both views, Common Files in both, ProgramData, Users,
    // the profile, Desktop, Documents.
    EXPECT_EQ(folders.shell.size(), 9u);
    for (const auto& path : folders.shell) {
        SCOPED_TRACE(ToUtf8(path));
        ASSERT_GE(path.size(), 3u);
        EXPECT_EQ(path[1], u':');
        EXPECT_NE(path.back(), u'\\');
    }
}

}  // namespace
}  // namespace clearstrand::contract
