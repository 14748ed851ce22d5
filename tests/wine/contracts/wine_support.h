#pragma once

// Helpers for the tests that drive the real platform from inside a test exe.

#include <windows.h>

#include <string>

namespace clearstrand::wine_tests {

// The folder this exe lives in, without trailing backslash.
std::wstring ExeFolder();

// Runs a command line to its end; its exit code.
DWORD RunAndWait(const std::wstring& commandLine);

// True when the exe runs under Wine rather than Windows.
bool UnderWine();

// Raises std::runtime_error "<what> failed: <code>" when code is not 0, so
// that a failing set-up step shows in the test's output.
void Check(LSTATUS code, const std::wstring& what);
void CheckBool(BOOL ok, const std::wstring& what);

}  // namespace clearstrand::wine_tests
