#pragma once

// Small RAII owners for COM, BSTR, VARIANT and Win32 handles, and the one-line
// helpers that turn a failed call into clearstrand::PlatformError.

#include <windows.h>
#include <oleauto.h>
#include <msi.h>
#include <wrl/client.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>

namespace clearstrand::win32 {

using Microsoft::WRL::ComPtr;

// ---- Failures -------------------------------------------------------------

// The system's words for a Win32 code or an HRESULT, as the user reads them:
// no call names, no hexadecimal codes.
std::u16string DescribeError(uint32_t code);

// Raise PlatformError with `code`, its description, and the file or folder
// the failure is about, if any.
[[noreturn]] void ThrowError(uint32_t code, std::u16string path = {});

inline void ThrowIfFailed(HRESULT hr) {
    if (FAILED(hr)) ThrowError(static_cast<uint32_t>(hr));
}

// For the functions that report through GetLastError.
[[noreturn]] inline void ThrowLastError(std::u16string path = {}) {
    const DWORD code = GetLastError();
    ThrowError(code == ERROR_SUCCESS ? static_cast<uint32_t>(E_FAIL) : code, std::move(path));
}

// The installer's UINT codes are Win32 codes.
inline void ThrowIfInstallerError(UINT code) {
    if (code != ERROR_SUCCESS) ThrowError(code);
}

// ---- COM ------------------------------------------------------------------

// Initialises COM on this thread for the guard's life. A thread that already
// runs COM in the other model keeps it: the services work in either.
class ComInit {
public:
    explicit ComInit(DWORD model = COINIT_APARTMENTTHREADED);
    ~ComInit();
    ComInit(const ComInit&) = delete;
    ComInit& operator=(const ComInit&) = delete;

private:
    bool uninitialize_ = false;
};

class UniqueBstr {
public:
    UniqueBstr() = default;
    explicit UniqueBstr(std::wstring_view text);
    ~UniqueBstr() { SysFreeString(value_); }
    UniqueBstr(UniqueBstr&& other) noexcept : value_(std::exchange(other.value_, nullptr)) {}
    UniqueBstr& operator=(UniqueBstr&& other) noexcept {
        std::swap(value_, other.value_);
        return *this;
    }

    BSTR get() const noexcept { return value_; }
    // Frees the current string; for out-parameters.
    BSTR* put() noexcept {
        SysFreeString(std::exchange(value_, nullptr));
        return &value_;
    }
    BSTR release() noexcept { return std::exchange(value_, nullptr); }

private:
    BSTR value_ = nullptr;
};

class UniqueVariant {
public:
    UniqueVariant() noexcept { VariantInit(&value_); }
    ~UniqueVariant() { VariantClear(&value_); }
    // A VARIANT moves by copying its bits and leaving VT_EMPTY behind.
    UniqueVariant(UniqueVariant&& other) noexcept : value_(other.value_) { VariantInit(&other.value_); }
    UniqueVariant& operator=(UniqueVariant&& other) noexcept {
        std::swap(value_, other.value_);
        return *this;
    }

    static UniqueVariant Int32(int32_t v);
    static UniqueVariant Bool(bool v);
    static UniqueVariant String(std::wstring_view v);

    VARIANT* get() noexcept { return &value_; }
    const VARIANT* get() const noexcept { return &value_; }
    // Clears the current value; for out-parameters.
    VARIANT* put() noexcept {
        VariantClear(&value_);
        return &value_;
    }
    VARTYPE type() const noexcept { return value_.vt; }

private:
    VARIANT value_;
};

// ---- Handles --------------------------------------------------------------

// Owns a handle of type T; Closer supplies `static T Invalid()` and
// `static void Close(T)`.
template <typename T, typename Closer>
class UniqueHandle {
public:
    UniqueHandle() noexcept = default;
    explicit UniqueHandle(T value) noexcept : value_(value) {}
    ~UniqueHandle() { reset(); }
    UniqueHandle(UniqueHandle&& other) noexcept : value_(other.release()) {}
    UniqueHandle& operator=(UniqueHandle&& other) noexcept {
        if (this != &other) {
            reset(other.release());
        }
        return *this;
    }

    T get() const noexcept { return value_; }
    explicit operator bool() const noexcept { return value_ != Closer::Invalid(); }
    T* put() noexcept {
        reset();
        return &value_;
    }
    T release() noexcept { return std::exchange(value_, Closer::Invalid()); }
    void reset(T value = Closer::Invalid()) noexcept {
        if (value_ != Closer::Invalid()) {
            Closer::Close(value_);
        }
        value_ = value;
    }

private:
    T value_ = Closer::Invalid();
};

struct RegKeyCloser {
    static HKEY Invalid() noexcept { return nullptr; }
    static void Close(HKEY key) noexcept { RegCloseKey(key); }
};
struct FindCloser {
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE find) noexcept { FindClose(find); }
};
struct FileCloser {
    static HANDLE Invalid() noexcept { return INVALID_HANDLE_VALUE; }
    static void Close(HANDLE file) noexcept { CloseHandle(file); }
};
struct KernelObjectCloser {
    static HANDLE Invalid() noexcept { return nullptr; }
    static void Close(HANDLE object) noexcept { CloseHandle(object); }
};
struct MsiCloser {
    static MSIHANDLE Invalid() noexcept { return 0; }
    static void Close(MSIHANDLE handle) noexcept { MsiCloseHandle(handle); }
};
struct LocalMemoryCloser {
    static wchar_t* Invalid() noexcept { return nullptr; }
    static void Close(wchar_t* memory) noexcept { LocalFree(memory); }
};
struct CoTaskMemCloser {
    static wchar_t* Invalid() noexcept { return nullptr; }
    static void Close(wchar_t* text) noexcept { CoTaskMemFree(text); }
};

using UniqueHkey = UniqueHandle<HKEY, RegKeyCloser>;
using UniqueFindHandle = UniqueHandle<HANDLE, FindCloser>;
using UniqueFileHandle = UniqueHandle<HANDLE, FileCloser>;        // CreateFileW
using UniqueKernelHandle = UniqueHandle<HANDLE, KernelObjectCloser>;  // processes, threads
using UniqueMsiHandle = UniqueHandle<MSIHANDLE, MsiCloser>;
using UniqueCoTaskString = UniqueHandle<wchar_t*, CoTaskMemCloser>;
using UniqueLocalMemory = UniqueHandle<wchar_t*, LocalMemoryCloser>;  // FormatMessageW's buffer

}  // namespace clearstrand::win32
