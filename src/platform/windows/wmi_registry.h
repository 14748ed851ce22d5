#pragma once

#include <windows.h>

#include <memory>
#include <string>

#include "platform/management.h"

namespace clearstrand::win32 {

// What every connection to StdRegProv needs besides the connection itself:
// the locator, the call context, the class definition and the method
// signatures, made by the first connection that needs them and kept by the
// service for every later one. Looking a signature up costs more than a call,
// and a deletion connects anew for every key of a subtree.
struct StdRegProvSchema;

std::shared_ptr<StdRegProvSchema> MakeStdRegProvSchema();

// Connects to StdRegProv in `nameSpace` of the local machine. HKEY_LOCAL_MACHINE
// is read in its 32-bit view: the products are 32-bit programs and keep their
// keys there, which a 64-bit caller reaches only by asking.
std::unique_ptr<RegistryProvider> ConnectStdRegProv(const std::wstring& nameSpace,
                                                    DWORD impersonationLevel,
                                                    std::shared_ptr<StdRegProvSchema> schema);

}  // namespace clearstrand::win32
