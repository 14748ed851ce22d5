#pragma once

#include "platform/files.h"

namespace clearstrand::win32 {

// The folders a program-folder erase must never take, as this machine and
// its current user name them: every well-known folder the shell gives a
// path for, and every profile the machine lists. Raises PlatformError when
// the well-known folders or the profile list cannot be had.
ProtectedFolders ReadProtectedFolders();

}  // namespace clearstrand::win32
