#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "platform/management.h"

namespace clearstrand::win32 {

// Connects to StdRegProv in `nameSpace` of the local machine. HKEY_LOCAL_MACHINE
// is read in its 32-bit view, where the products' own keys live.
std::unique_ptr<RegistryProvider> ConnectStdRegProv(const std::wstring& nameSpace,
                                                    DWORD impersonationLevel);

}  // namespace clearstrand::win32
