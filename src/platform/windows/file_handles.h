#pragma once

// Entries of the file system reached through open handles: a folder's
// entries are listed through its handle and opened relative to it, never by
// a path resolved again, and each is known by its file ID and by where the
// system says it is.

#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/windows/handles.h"

namespace clearstrand::win32 {

// What a folder's listing says of one of its entries.
struct Listed {
    std::wstring name;
    std::wstring shortName;
    LONGLONG id;
    DWORD attributes;
};

// Every entry of an open folder but "." and "..". Raises PlatformError,
// naming `shown`, when the folder cannot be listed.
std::vector<Listed> ListFolder(HANDLE folder, const std::wstring& shown);

// Opens `name`, an entry of the open folder `folder`, as it is: a link
// itself on Windows, with nothing on the way followed, unless `follow` asks
// for what the link leads to. False when the entry is not there; raises
// PlatformError, naming `shown`, for any other failure.
bool OpenEntry(HANDLE folder, std::wstring_view name, ACCESS_MASK access, UniqueFileHandle& entry,
               const std::wstring& shown, bool follow = false);

// The file ID of what a handle reaches.
LONGLONG FileIdOf(HANDLE handle, const std::wstring& shown);

// Where what a handle reaches is, in the system's own namespace, at any
// length: "\Device\HarddiskVolume1\a\b" on Windows, "\??\C:\a\b" under Wine,
// which names an entry opened relative to a folder by that folder's path
// when it was opened, through whatever now stands there.
std::wstring ObjectNameOf(HANDLE handle, const std::wstring& shown);

// Whether two object names are the same place. Wine gives names without
// their trailing dots and spaces, so those do not count.
bool SamePlace(std::wstring_view a, std::wstring_view b);

// The "\\?\X:\..." path of what a handle reaches, for comparing and showing;
// nullopt where the system gives none (Wine, past about 260 characters).
std::optional<std::wstring> FinalPathOf(HANDLE handle);

// Sets the attributes a file's basic information may set.
void SetAttributes(HANDLE handle, DWORD attributes, const std::wstring& shown);

// Marks the entry for deletion when its last handle closes.
void MarkForDeletion(HANDLE handle, const std::wstring& shown);

}  // namespace clearstrand::win32
