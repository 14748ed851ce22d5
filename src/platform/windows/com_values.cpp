#include "platform/windows/com_values.h"

#include <new>

#include "platform/windows/win32_errors.h"

namespace clearstrand::win32 {

ComInit::ComInit(DWORD model) {
    const HRESULT hr = CoInitializeEx(nullptr, model);
    if (hr == RPC_E_CHANGED_MODE) {
        return;  // already initialised in the other model: leave it to its owner
    }
    ThrowIfFailed(hr);
    uninitialize_ = true;  // S_FALSE too: every success needs its CoUninitialize
}

ComInit::~ComInit() {
    if (uninitialize_) {
        CoUninitialize();
    }
}

UniqueBstr::UniqueBstr(std::wstring_view text)
    : value_(SysAllocStringLen(text.data(), static_cast<UINT>(text.size()))) {
    if (value_ == nullptr) {
        throw std::bad_alloc();
    }
}

UniqueVariant UniqueVariant::Int32(int32_t v) {
    UniqueVariant result;
    result.value_.vt = VT_I4;
    result.value_.lVal = v;
    return result;
}

UniqueVariant UniqueVariant::Bool(bool v) {
    UniqueVariant result;
    result.value_.vt = VT_BOOL;
    result.value_.boolVal = v ? VARIANT_TRUE : VARIANT_FALSE;
    return result;
}

UniqueVariant UniqueVariant::String(std::wstring_view v) {
    UniqueVariant result;
    result.value_.bstrVal = UniqueBstr(v).release();
    result.value_.vt = VT_BSTR;
    return result;
}

}  // namespace clearstrand::win32
