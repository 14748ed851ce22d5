#pragma once

// Owners for the system's handles: each is closed exactly once, by its owner.

#include <windows.h>
#include <objbase.h>

#include <utility>

namespace clearstrand::win32 {

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
struct LocalMemoryCloser {
    static wchar_t* Invalid() noexcept { return nullptr; }
    static void Close(wchar_t* memory) noexcept { LocalFree(memory); }
};
template <typename T>
struct CoTaskMemCloserOf {
    static T* Invalid() noexcept { return nullptr; }
    static void Close(T* memory) noexcept { CoTaskMemFree(memory); }
};
struct GdiObjectCloser {
    static HGDIOBJ Invalid() noexcept { return nullptr; }
    static void Close(HGDIOBJ object) noexcept { DeleteObject(object); }
};
struct RegKeyCloser {
    static HKEY Invalid() noexcept { return nullptr; }
    static void Close(HKEY key) noexcept { RegCloseKey(key); }
};
struct IconCloser {
    static HICON Invalid() noexcept { return nullptr; }
    static void Close(HICON icon) noexcept { DestroyIcon(icon); }
};
struct ModuleCloser {
    static HMODULE Invalid() noexcept { return nullptr; }
    static void Close(HMODULE module) noexcept { FreeLibrary(module); }
};

using UniqueFindHandle = UniqueHandle<HANDLE, FindCloser>;
using UniqueFileHandle = UniqueHandle<HANDLE, FileCloser>;            // CreateFileW
using UniqueKernelHandle = UniqueHandle<HANDLE, KernelObjectCloser>;  // processes, threads
using UniqueCoTaskString = UniqueHandle<wchar_t*, CoTaskMemCloserOf<wchar_t>>;
using UniqueLocalMemory = UniqueHandle<wchar_t*, LocalMemoryCloser>;  // FormatMessageW's buffer
using UniqueGdiObject = UniqueHandle<HGDIOBJ, GdiObjectCloser>;
using UniqueIcon = UniqueHandle<HICON, IconCloser>;
using UniqueRegKey = UniqueHandle<HKEY, RegKeyCloser>;
using UniqueModule = UniqueHandle<HMODULE, ModuleCloser>;  // LoadLibraryExW

// A window's device context, released with the window it came from.
class WindowDc {
public:
    explicit WindowDc(HWND hwnd) : hwnd_(hwnd), dc_(GetDC(hwnd)) {}
    ~WindowDc() {
        if (dc_) ReleaseDC(hwnd_, dc_);
    }
    WindowDc(const WindowDc&) = delete;
    WindowDc& operator=(const WindowDc&) = delete;
    HDC get() const noexcept { return dc_; }

private:
    HWND hwnd_;
    HDC dc_;
};

}  // namespace clearstrand::win32
