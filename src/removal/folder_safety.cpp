#include "removal/folder_safety.h"

#include "platform/paths.h"

namespace clearstrand {

bool IsSafeToErase(std::u16string_view folder, FileService& files) {
    const auto parsed = paths::Parse(folder);
    if (!parsed || parsed->names.empty()) return false;
    const auto final = files.FinalPath(std::u16string(folder));
    if (!final) return true;
    // The same rules again where the folder really is: a link may lead to a root.
    if (const auto real = paths::Parse(*final); !real || real->names.empty()) return false;

    const ProtectedFolders protectedFolders = files.GetProtectedFolders();
    // The Windows folder is refused both ways: nothing inside it, nothing
    // that holds it.
    if (const auto windows = files.FinalPath(protectedFolders.windows)) {
        if (paths::Encloses(*windows, *final) || paths::Encloses(*final, *windows)) return false;
    }
    for (const auto& shell : protectedFolders.shell) {
        const auto protectedFolder = files.FinalPath(shell);
        if (protectedFolder && paths::Encloses(*final, *protectedFolder)) return false;
    }
    return true;
}

}  // namespace clearstrand
