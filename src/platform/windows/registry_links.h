#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace clearstrand::win32 {

// Registry links, judged on the key itself: the key at `path` is opened
// without following it (the keys above it are followed), HKEY_LOCAL_MACHINE
// in the program's view as StdRegProv reads it (see ConnectStdRegProv). A key
// that is not there is no link; any other failure raises PlatformError, since
// a key that cannot be judged must not be taken for an ordinary one.

// What the key leads to when it is a link, the hives named as the user knows
// them ("HKEY_CURRENT_USER\SOFTWARE\X"); nullopt for any other key.
std::optional<std::u16string> RegistryLinkTarget(int32_t hive, const std::u16string& path);

// When the key is a link, deletes the link itself through the handle it was
// judged on: the Win32 code, 0 when it is gone. nullopt, having done nothing,
// for any other key.
std::optional<int32_t> DeleteRegistryLink(int32_t hive, const std::u16string& path);

}  // namespace clearstrand::win32
