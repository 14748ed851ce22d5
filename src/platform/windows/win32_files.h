#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "platform/files.h"

namespace clearstrand::win32 {

// The file service over the Win32 file API. Links to folders elsewhere
// (junctions, symbolic links) are never followed.
std::unique_ptr<FileService> MakeWin32FileService();

// The "\\?\" form of a full path ("\\?\C:\...", "\\?\UNC\server\share\..."),
// which lifts the 260-character limit; other forms are returned unchanged.
std::wstring ToExtendedPath(std::wstring_view fullPath);

}  // namespace clearstrand::win32
