#include <optional>

#include "app/form1.h"

namespace clearstrand {

namespace {

// A link the platform cannot remove alone stays; the user is told, and the
// erase goes on with the rest.
template <typename Delete>
void KeepingLinks(Form1& form, Delete remove) {
    try {
        remove();
    } catch (const LinkKept& link) {
        ++form.linksKept;
        form.ReportFailure(u"Failed to delete ", link);
    }
}

}  // namespace

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
        if (!folderRule) folderRule.emplace(services.files);
        if (folderRule->Allows(*opened, &reason)) return EraseFolder(*opened);
    }
    // A refused folder is named alone; one that could not be checked, with
    // the system's reason.
    services.shell.MsgBox(u"Failed to delete " + folder + (reason.empty() ? u"" : u"\r" + reason), kMsgBoxOkOnly,
                          std::nullopt);
}

// Depth first and post-order: a folder's own files go first, then each
// subfolder is erased completely, then the folder itself. Failures pass on
// to the caller; what was deleted before stays deleted.
void Form1::EraseFolder(Folder& current) {
    const int linksBefore = linksKept;
    for (const auto& file : current.Files()) KeepingLinks(*this, [&] { file->Delete(true); });
    for (const auto& subFolder : current.SubFolders()) EraseFolder(*subFolder);
    if (linksKept == linksBefore) return KeepingLinks(*this, [&] { current.Delete(true); });
    // A link left below keeps this folder too, which the user is told.
    try {
        current.Delete(true);
    } catch (const PlatformError& error) {
        ReportFailure(u"Failed to delete ", error);
    }
}

}  // namespace clearstrand
