#pragma once

#include <string_view>

#include "platform/files.h"

namespace clearstrand {

// Whether a program folder taken from an uninstall entry may be erased with
// everything below it. One bad entry must not wipe a disk: a path that is not
// absolute, or names a drive or share root, is refused as written; for the
// rest the file system says where the folder really is, and the Windows
// folder, anything inside it or holding it, and anything that is or holds
// one of the shell folders is refused, however the path reaches it. A path
// where no folder is has nothing to erase.
bool IsSafeToErase(std::u16string_view folder, FileService& files);

}  // namespace clearstrand
