#pragma once

#include <memory>

#include "platform/files.h"

namespace clearstrand::win32 {

// The file service over the Win32 file API. Nothing a link leads to is ever
// entered, changed or deleted.
std::unique_ptr<FileService> MakeWin32FileService();

}  // namespace clearstrand::win32
