#include "removal/folder_safety.h"

#include "platform/errors.h"
#include "platform/paths.h"

namespace clearstrand {

namespace {

bool IsDriveLetter(const paths::Parsed& parsed) { return parsed.root.size() == 2 && parsed.root[1] == u':'; }

}  // namespace

bool IsErasablePath(std::u16string_view folder) {
    const auto parsed = paths::Parse(folder);
    return parsed && !parsed->names.empty();
}

FolderRule::FolderRule(FileService& files) {
    try {
        const ProtectedFolders folders = files.GetProtectedFolders();
        // A Windows folder that cannot be placed could be any folder.
        const auto windows = files.FinalPath(folders.windows);
        if (!windows) {
            failure_ = u"The Windows folder cannot be found, so no program folder is erased.";
            return;
        }
        windows_ = *windows;
        for (const auto& shell : folders.shell) {
            if (auto place = files.FinalPath(shell)) shell_.push_back(std::move(*place));
        }
        for (const auto& profile : folders.profiles) {
            if (auto place = files.FinalPath(profile)) profiles_.push_back(std::move(*place));
        }
        own_ = files.FinalPath(folders.profile);
    } catch (const PlatformError& error) {
        failure_ = error.description();
    }
}

bool FolderRule::Allows(Folder& folder, std::u16string* reason) const {
    try {
        if (failure_) throw PlatformError(0, *failure_);
        const std::u16string final = folder.FinalPath();
        const auto parsed = paths::Parse(final);
        // A share or a device may be a local folder under another name, which
        // no comparison below would see.
        if (!parsed || !IsDriveLetter(*parsed)) throw PlatformError(0, u"It is not on a drive of this computer.");
        // The same rule as for the written path, where the folder really is:
        // a link may lead to a root.
        if (parsed->names.empty()) return false;
        if (paths::Encloses(windows_, final) || paths::Encloses(final, windows_)) return false;
        for (const auto& shell : shell_) {
            if (paths::Encloses(final, shell)) return false;
        }
        for (const auto& profile : profiles_) {
            if (paths::Encloses(final, profile)) return false;
            if (profile != own_ && paths::Encloses(profile, final)) return false;
        }
        return true;
    } catch (const PlatformError& error) {
        if (reason) *reason = error.description();
        return false;
    }
}

bool IsSafeToErase(std::u16string_view folder, FileService& files, std::u16string* reason) {
    if (!IsErasablePath(folder)) return false;
    try {
        const auto opened = files.CreateFileSystem()->GetFolder(std::u16string(folder));
        return !opened || FolderRule(files).Allows(*opened, reason);
    } catch (const PlatformError& error) {
        if (reason) *reason = error.description();
        return false;
    }
}

}  // namespace clearstrand
