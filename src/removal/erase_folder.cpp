#include "app/form1.h"

namespace clearstrand {

// Depth first and post-order: a folder's own files go first, then each
// subfolder is erased completely, then the folder itself. Failures pass on
// to the caller; what was deleted before stays deleted.
void Form1::EraseFolder(std::u16string folder) {
    const auto fileSystem = services.files.CreateFileSystem();
    if (!fileSystem->FolderExists(folder)) return;

    const auto current = fileSystem->GetFolder(folder);
    for (const auto& file : current->Files()) file->Delete(true);
    for (const auto& subFolder : current->SubFolders()) EraseFolder(subFolder->Path());
    current->Delete(true);
}

}  // namespace clearstrand
