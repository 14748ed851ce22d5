#pragma once

// The file service's contract as typed tests, run against every
// implementation of FileService. Instantiate with a traits type T,
// constructed afresh for each test, that has:
//   FileService& Service();
//   std::u16string Root();    // an existing empty folder, full path, no trailing "\"
//   void AddFolder(const std::u16string& path);                           // parents too
//   void AddFile(const std::u16string& path, bool readOnly, bool hidden); // parents too
//   // Keeps the file open, refusing deletion to others, until the traits die.
//   void HoldOpen(const std::u16string& path);
//   // A link (junction) at `link` to the folder `target`; false if the
//   // platform cannot make one.
//   bool AddLink(const std::u16string& link, const std::u16string& target);
//   // Why links cannot be made here (a known platform gap), or nullptr.
//   static const char* WhyNoLinks();
//   bool Exists(const std::u16string& path);   // a file or folder
// The traits remove whatever the test left when destroyed.

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <string>
#include <vector>

#include "platform/errors.h"
#include "platform/files.h"

namespace clearstrand::contract {

template <typename T>
class FilesContract : public ::testing::Test {
protected:
    void SetUp() override {
        root = traits.Root();
        fs = traits.Service().CreateFileSystem();
        ASSERT_NE(fs, nullptr);
    }

    std::u16string Under(const std::u16string& relative) const { return root + u"\\" + relative; }

    static std::vector<std::u16string> Sorted(std::vector<std::u16string> paths) {
        std::sort(paths.begin(), paths.end());
        return paths;
    }
    template <typename Entry>
    static std::vector<std::u16string> PathsOf(const std::vector<std::unique_ptr<Entry>>& entries) {
        std::vector<std::u16string> paths;
        for (const auto& e : entries) paths.push_back(e->Path());
        return Sorted(paths);
    }

    // Files first, then each subfolder, then the folder: the way a program
    // folder is erased.
    void Erase(const std::u16string& path) {
        if (!fs->FolderExists(path)) return;
        auto folder = fs->GetFolder(path);
        for (auto& file : folder->Files()) file->Delete(true);
        for (auto& sub : folder->SubFolders()) Erase(sub->Path());
        folder->Delete(true);
    }

    T traits;
    std::u16string root;
    std::unique_ptr<FileSystem> fs;
};

TYPED_TEST_SUITE_P(FilesContract);

TYPED_TEST_P(FilesContract, FolderExistsOnlyForFolders) {
    this->traits.AddFile(this->Under(u"plain.txt"), false, false);
    this->traits.AddFolder(this->Under(u"Sub"));

    EXPECT_TRUE(this->fs->FolderExists(this->root));
    EXPECT_TRUE(this->fs->FolderExists(this->Under(u"Sub")));
    EXPECT_FALSE(this->fs->FolderExists(this->Under(u"plain.txt")));
    EXPECT_FALSE(this->fs->FolderExists(this->Under(u"Missing")));
    EXPECT_FALSE(this->fs->FolderExists(this->Under(u"Missing\\Deeper")));

    EXPECT_THROW(this->fs->GetFolder(this->Under(u"Missing")), PlatformError);
    EXPECT_THROW(this->fs->GetFolder(this->Under(u"plain.txt")), PlatformError);
}

TYPED_TEST_P(FilesContract, ListsOneLevelWithFullPaths) {
    this->traits.AddFile(this->Under(u"a.txt"), false, false);
    this->traits.AddFile(this->Under(u"Read Only.dat"), true, false);
    this->traits.AddFile(this->Under(u"hidden.ini"), false, true);
    this->traits.AddFile(this->Under(u"Sub One\\deep.txt"), false, false);
    this->traits.AddFolder(this->Under(u"Sub One\\Inner"));
    this->traits.AddFolder(this->Under(u"Sub Two"));

    auto folder = this->fs->GetFolder(this->root);
    EXPECT_EQ(folder->Path(), this->root);
    EXPECT_EQ(this->PathsOf(folder->Files()),
              this->Sorted({this->Under(u"a.txt"), this->Under(u"Read Only.dat"), this->Under(u"hidden.ini")}));
    EXPECT_EQ(this->PathsOf(folder->SubFolders()),
              this->Sorted({this->Under(u"Sub One"), this->Under(u"Sub Two")}));

    auto sub = this->fs->GetFolder(this->Under(u"Sub One"));
    EXPECT_EQ(this->PathsOf(sub->Files()), std::vector<std::u16string>{this->Under(u"Sub One\\deep.txt")});
    EXPECT_EQ(this->PathsOf(sub->SubFolders()), std::vector<std::u16string>{this->Under(u"Sub One\\Inner")});
    EXPECT_TRUE(this->fs->GetFolder(this->Under(u"Sub Two"))->Files().empty());
}

TYPED_TEST_P(FilesContract, ErasesANestedTreeWithReadOnlyAndHiddenFiles) {
    this->traits.AddFile(this->Under(u"App\\app.exe"), true, false);
    this->traits.AddFile(this->Under(u"App\\bin\\lib.dll"), false, true);
    this->traits.AddFile(this->Under(u"App\\bin\\x\\y\\z.txt"), true, true);
    this->traits.AddFolder(this->Under(u"App\\empty"));
    this->traits.AddFile(this->Under(u"Neighbour\\keep.txt"), false, false);

    this->Erase(this->Under(u"App"));
    EXPECT_FALSE(this->traits.Exists(this->Under(u"App")));
    EXPECT_FALSE(this->fs->FolderExists(this->Under(u"App")));
    EXPECT_TRUE(this->traits.Exists(this->Under(u"Neighbour\\keep.txt")));
}

TYPED_TEST_P(FilesContract, DeleteRefusesWhatItMayNotRemove) {
    this->traits.AddFile(this->Under(u"locked.txt"), true, false);
    this->traits.AddFile(this->Under(u"Full\\inside.txt"), false, false);

    auto folder = this->fs->GetFolder(this->root);
    auto files = folder->Files();
    ASSERT_EQ(files.size(), 1u);
    // Without force a read-only file stays; with force it goes.
    EXPECT_THROW(files[0]->Delete(false), PlatformError);
    EXPECT_TRUE(this->traits.Exists(this->Under(u"locked.txt")));
    files[0]->Delete(true);
    EXPECT_FALSE(this->traits.Exists(this->Under(u"locked.txt")));

    // A folder must be emptied first.
    auto full = this->fs->GetFolder(this->Under(u"Full"));
    EXPECT_THROW(full->Delete(true), PlatformError);
    EXPECT_TRUE(this->traits.Exists(this->Under(u"Full\\inside.txt")));
}

TYPED_TEST_P(FilesContract, AFileInUseCannotBeDeleted) {
    this->traits.AddFile(this->Under(u"Busy\\open.log"), false, false);
    this->traits.HoldOpen(this->Under(u"Busy\\open.log"));

    auto files = this->fs->GetFolder(this->Under(u"Busy"))->Files();
    ASSERT_EQ(files.size(), 1u);
    EXPECT_THROW(files[0]->Delete(true), PlatformError);
    EXPECT_TRUE(this->traits.Exists(this->Under(u"Busy\\open.log")));
    EXPECT_THROW(this->Erase(this->Under(u"Busy")), PlatformError);
    EXPECT_TRUE(this->traits.Exists(this->Under(u"Busy")));
}

TYPED_TEST_P(FilesContract, PathsLongerThan260Characters) {
    std::u16string relative;
    for (char16_t c = u'a'; c < u'a' + 6; ++c) {
        relative += (relative.empty() ? u"" : u"\\") + std::u16string(50, c);
    }
    const std::u16string deep = this->Under(relative);
    ASSERT_GT(deep.size(), 300u);
    this->traits.AddFile(deep + u"\\bottom.txt", true, false);

    EXPECT_TRUE(this->fs->FolderExists(deep));
    auto folder = this->fs->GetFolder(deep);
    EXPECT_EQ(folder->Path(), deep);
    EXPECT_EQ(this->PathsOf(folder->Files()), std::vector<std::u16string>{deep + u"\\bottom.txt"});

    this->Erase(this->Under(std::u16string(50, u'a')));
    EXPECT_FALSE(this->traits.Exists(this->Under(std::u16string(50, u'a'))));
}

TYPED_TEST_P(FilesContract, NamesOutsideAsciiKeepTheirCharacters) {
    const std::u16string name = u"Pr\u00F6gramm \u00C9t\u00E9 \u65E5\u672C";
    this->traits.AddFile(this->Under(name + u"\\\u00FCber.txt"), false, false);

    auto folders = this->fs->GetFolder(this->root)->SubFolders();
    ASSERT_EQ(folders.size(), 1u);
    EXPECT_EQ(folders[0]->Path(), this->Under(name));
    EXPECT_EQ(this->PathsOf(folders[0]->Files()),
              std::vector<std::u16string>{this->Under(name + u"\\\u00FCber.txt")});
    this->Erase(this->Under(name));
    EXPECT_FALSE(this->traits.Exists(this->Under(name)));
}

TYPED_TEST_P(FilesContract, LinksAreNeverFollowed) {
    this->traits.AddFile(this->Under(u"Elsewhere\\precious.txt"), false, false);
    this->traits.AddFolder(this->Under(u"App"));
    if (!this->traits.AddLink(this->Under(u"App\\Shared"), this->Under(u"Elsewhere"))) {
        if (const char* why = TypeParam::WhyNoLinks()) {
            GTEST_SKIP() << why;
        }
        FAIL() << "could not create a link";
    }

    auto subs = this->fs->GetFolder(this->Under(u"App"))->SubFolders();
    ASSERT_EQ(subs.size(), 1u);
    EXPECT_EQ(subs[0]->Path(), this->Under(u"App\\Shared"));
    EXPECT_TRUE(subs[0]->Files().empty());
    EXPECT_TRUE(subs[0]->SubFolders().empty());
    EXPECT_TRUE(this->fs->FolderExists(this->Under(u"App\\Shared")));

    this->Erase(this->Under(u"App"));
    EXPECT_FALSE(this->traits.Exists(this->Under(u"App")));
    EXPECT_TRUE(this->traits.Exists(this->Under(u"Elsewhere\\precious.txt")));
}

REGISTER_TYPED_TEST_SUITE_P(FilesContract, FolderExistsOnlyForFolders, ListsOneLevelWithFullPaths,
                            ErasesANestedTreeWithReadOnlyAndHiddenFiles, DeleteRefusesWhatItMayNotRemove,
                            AFileInUseCannotBeDeleted, PathsLongerThan260Characters,
                            NamesOutsideAsciiKeepTheirCharacters, LinksAreNeverFollowed);

}  // namespace clearstrand::contract
