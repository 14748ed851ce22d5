#include <memory>
#include <optional>
#include <vector>

#include "app/form1.h"
#include "removal/folder_safety.h"

namespace clearstrand {

// The folder is opened once, judged as opened, and erased from that opened
// folder, so that what was judged is what is erased: a path that leads
// elsewhere by the time of the erase cannot redirect it. A path where no
// folder is has nothing to erase.
void Form1::EraseFolder(std::u16string folder) {
    std::u16string reason;
    std::unique_ptr<Folder> opened;
    if (IsErasablePath(folder)) {
        const auto fileSystem = services.files.CreateFileSystem();
        opened = fileSystem->GetFolder(folder);
        if (!opened) return;
        if (!folderRule) folderRule = std::make_shared<const FolderRule>(services.files);
        if (folderRule->Allows(*opened, &reason)) return EraseFolder(*opened);
    }
    // A refused folder is named alone; one that could not be checked, with
    // the system's reason.
    services.shell.MsgBox(kFailedToDelete + folder + (reason.empty() ? u"" : u"\r" + reason), kMsgBoxOkOnly,
                          std::nullopt);
}

// Depth first and post-order: a folder's own files go first, then each
// subfolder is erased completely, then the folder itself. An entry that
// cannot go (a link, a file in use) is named in a box and the erase goes on
// with the rest, so that all else the user ticked goes; the folders that
// hold it then stay, each named too. What was deleted stays deleted.
void Form1::EraseFolder(Folder& current) {
    const auto told = [this](auto&& step) {
        try {
            step();
        } catch (const PlatformError& error) {
            ReportFailure(kFailedToDelete, error);
        }
    };
    std::vector<std::unique_ptr<File>> files;
    std::vector<std::unique_ptr<Folder>> folders;
    try {
        files = current.Files();
        folders = current.SubFolders();
    } catch (const PlatformError& error) {
        return ReportFailure(kFailedToDelete, error);  // unlisted, it keeps all it holds
    }
    for (const auto& file : files) told([&] { file->Delete(true); });
    for (const auto& subFolder : folders) EraseFolder(*subFolder);
    told([&] { current.Delete(true); });
}

}  // namespace clearstrand
