#pragma once

#include <string_view>

#include "platform/files.h"

namespace clearstrand {

// Whether a program folder taken from an uninstall entry may be erased with
// everything below it. One bad entry must not wipe a disk, so anything that
// cannot be compared with certainty counts as unsafe: a path that is not
// absolute ("X:\..." or "\\server\share\...", also in their "\\?\" forms), a
// drive or share root, the Windows folder, anything inside it or containing
// it, a path that is or contains one of the shell folders, and any path with
// "." or ".." components, 8.3 short names, trailing dots or spaces, or
// characters that no file name holds. Names are compared the way Windows
// compares them, by upper-casing both sides.
bool IsSafeToErase(std::u16string_view folder, const ProtectedFolders& protectedFolders);

// The upper case that Windows compares names by, for the scripts the
// comparison needs (Latin, Greek, Cyrillic, fullwidth ASCII). Characters
// without one are returned unchanged.
char16_t FoldForCompare(char16_t c);

}  // namespace clearstrand
