#pragma once

#include <memory>

#include "platform/management.h"

namespace clearstrand::win32 {

// Installed products as the Windows Installer knows them, for this machine
// and every user; UnInstall removes one silently.
std::unique_ptr<ManagementServices> MakeInstallerProducts();

}  // namespace clearstrand::win32
