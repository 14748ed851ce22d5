#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/files.h"

namespace clearstrand {

// Whether a program folder taken from an uninstall entry may be erased with
// everything below it. One bad entry must not wipe a disk or a user's files.
//
// As written, a path that is not absolute or names a drive or share root is
// refused before anything is opened.
bool IsErasablePath(std::u16string_view folder);

// For the opened folder, where it really is: a folder that is not on a drive
// of this computer (a share, a device), a drive root, the Windows folder or
// anything inside it, anything that is or holds a well-known folder or a
// profile, and anything inside another user's profile is refused, however
// the path reaches it.
//
// The folders it protects are read and placed once, when the rule is made,
// and the rule then judges every folder of a removal run. Fails closed: when
// a call the rule needs fails, then or while judging, the folder is refused
// and `reason` receives the system's words for the failure.
class FolderRule {
public:
    explicit FolderRule(FileService& files);

    bool Allows(Folder& folder, std::u16string* reason = nullptr) const;

private:
    std::u16string windows_;
    std::vector<std::u16string> shell_;     // refused when held
    std::vector<std::u16string> profiles_;  // refused when held, and inside but for own_
    std::optional<std::u16string> own_;
    std::optional<std::u16string> failure_;  // why the protected folders could not be had
};

// The whole rule for one folder at once, on a rule made afresh: a path where
// no folder is has nothing to erase.
bool IsSafeToErase(std::u16string_view folder, FileService& files, std::u16string* reason = nullptr);

}  // namespace clearstrand
