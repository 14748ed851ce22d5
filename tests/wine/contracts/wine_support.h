#pragma once

// Set-up helpers for the tests that drive the real platform from inside a
// test exe: processes, files and registry keys made with the system's own
// calls, so that what the code under test reads was never written by it.

#include <windows.h>

#include <string>

#include "platform/windows/com.h"

namespace clearstrand::wine_tests {

// The folder this exe lives in, without trailing backslash.
std::wstring ExeFolder();
// Runs a command line to its end; its exit code.
DWORD RunAndWait(const std::wstring& commandLine);
bool UnderWine();
std::string Narrow(const std::wstring& text);

// Raises std::runtime_error "<what> failed: <code>", so that a failing
// set-up step shows in the test's output.
void Check(LSTATUS code, const std::wstring& what);
void CheckBool(BOOL ok, const std::wstring& what);

// ---- Disk: full drive paths, reached through "\\?\" past 260 characters -------

std::wstring Extended(const std::wstring& path);
void MakeFolder(const std::wstring& path);  // parents too
void MakeFile(const std::wstring& path, const std::string& content, DWORD attributes = FILE_ATTRIBUTE_NORMAL);
bool Exists(const std::wstring& path);
// Clears read-only and deletes; a link is removed, never entered.
void RemoveTree(const std::wstring& path);
// A junction or, failing that, a symbolic link; false when this system can
// make neither, in which case nothing is left at `link`.
bool MakeFolderLink(const std::wstring& link, const std::wstring& target);

// ---- Registry: HKEY_LOCAL_MACHINE in the 32-bit view unless told otherwise ----

win32::UniqueHkey MakeRegistryKey(HKEY hive, const std::wstring& path, REGSAM view = KEY_WOW64_32KEY);
void SetRegistryString(HKEY hive, const std::wstring& path, const std::wstring& name, const std::wstring& value,
                       REGSAM view = KEY_WOW64_32KEY);
bool RegistryKeyExists(HKEY hive, const std::wstring& path, REGSAM view = KEY_WOW64_32KEY);
void RemoveRegistryTree(HKEY hive, const std::wstring& path, REGSAM view = KEY_WOW64_32KEY);

}  // namespace clearstrand::wine_tests
