#pragma once

#include <memory>

#include "platform/files.h"

namespace clearstrand::win32 {

// The file service over the Win32 file API and the system's own calls: a
// folder is walked from the handle it was opened and judged with, and nothing
// a link below it leads to is ever entered, changed or deleted.
std::unique_ptr<FileService> MakeWin32FileService();

}  // namespace clearstrand::win32
