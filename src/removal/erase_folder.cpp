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

// Depth first and post-order: a folder's own files go first, then each
// subfolder is erased completely, then the folder itself. Failures pass on
// to the caller; what was deleted before stays deleted.
void Form1::EraseFolder(std::u16string folder) {
    const auto fileSystem = services.files.CreateFileSystem();
    if (!fileSystem->FolderExists(folder)) return;

    const auto current = fileSystem->GetFolder(folder);
    const int linksBefore = linksKept;
    for (const auto& file : current->Files()) KeepingLinks(*this, [&] { file->Delete(true); });
    for (const auto& subFolder : current->SubFolders()) EraseFolder(subFolder->Path());
    if (linksKept == linksBefore) return KeepingLinks(*this, [&] { current->Delete(true); });
    // A link left below keeps this folder too, which the user is told.
    try {
        current->Delete(true);
    } catch (const PlatformError& error) {
        ReportFailure(u"Failed to delete ", error);
    }
}

}  // namespace clearstrand
