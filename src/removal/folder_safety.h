#pragma once

#include <string>
#include <string_view>

#include "platform/files.h"

namespace clearstrand {

// Whether a program folder taken from an uninstall entry may be erased with
// everything below it. One bad entry must not wipe a disk or a user's files:
// a path that is not absolute, or names a drive or share root, is refused as
// written; for the rest the file system says where the folder really is, and
// a drive root, the Windows folder or anything inside it, anything that is
// or holds a well-known folder or a profile, and anything inside another
// user's profile is refused, however the path reaches it. A path where no
// folder is has nothing to erase.
//
// Fails closed: when a call the rule needs fails, the folder is refused and
// `reason`, if given, receives the system's words for the failure.
bool IsSafeToErase(std::u16string_view folder, FileService& files, std::u16string* reason = nullptr);

}  // namespace clearstrand
