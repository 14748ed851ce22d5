#include "removal/folder_safety.h"

#include "platform/errors.h"
#include "platform/paths.h"

namespace clearstrand {

namespace {

bool IsRoot(std::u16string_view path) {
    const auto parsed = paths::Parse(path);
    return !parsed || parsed->names.empty();
}

bool Judge(std::u16string_view folder, FileService& files) {
    if (IsRoot(folder)) return false;
    const auto final = files.FinalPath(std::u16string(folder));
    if (!final) return true;
    // The same rule again where the folder really is: a link may lead to a root.
    if (IsRoot(*final)) return false;

    const ProtectedFolders protectedFolders = files.GetProtectedFolders();
    // A Windows folder that cannot be placed could be this one.
    const auto windows = files.FinalPath(protectedFolders.windows);
    if (!windows || paths::Encloses(*windows, *final) || paths::Encloses(*final, *windows)) return false;
    for (const auto& shell : protectedFolders.shell) {
        const auto place = files.FinalPath(shell);
        if (place && paths::Encloses(*final, *place)) return false;
    }
    const auto own = files.FinalPath(protectedFolders.profile);
    for (const auto& profile : protectedFolders.profiles) {
        const auto place = files.FinalPath(profile);
        if (!place) continue;
        if (paths::Encloses(*final, *place)) return false;
        if (place != own && paths::Encloses(*place, *final)) return false;
    }
    return true;
}

}  // namespace

bool IsSafeToErase(std::u16string_view folder, FileService& files, std::u16string* reason) {
    try {
        return Judge(folder, files);
    } catch (const PlatformError& error) {
        if (reason) *reason = error.description();
        return false;
    }
}

}  // namespace clearstrand
