#pragma once

#include <windows.h>

#include <memory>
#include <optional>
#include <string>
#include <string_view>

#include "platform/management.h"

namespace clearstrand::win32 {

// The management service over WMI: the registry through StdRegProv, the
// installed products through the Windows Installer.
std::unique_ptr<ManagementService> MakeWmiManagementService();

// What a "winmgmts:" moniker names. Only the local machine is served.
struct WmiMoniker {
    std::wstring nameSpace;      // e.g. root\default
    std::wstring className;      // empty when the moniker names a namespace only
    DWORD impersonationLevel;    // RPC_C_IMP_LEVEL_*
};

// "winmgmts:[{impersonationLevel=Impersonate}!]\\.\<namespace>[:<class>]",
// keywords and names compared without regard to case, as WMI does; nullopt
// for anything else.
std::optional<WmiMoniker> ParseWmiMoniker(std::u16string_view moniker);

}  // namespace clearstrand::win32
