#pragma once

// Owners for COM's own values: the library's initialisation on a thread,
// BSTR and VARIANT; interfaces are held in ComPtr.

#include <windows.h>
#include <oleauto.h>
#include <wrl/client.h>

#include <cstdint>
#include <string_view>
#include <utility>

namespace clearstrand::win32 {

using Microsoft::WRL::ComPtr;

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

}  // namespace clearstrand::win32
