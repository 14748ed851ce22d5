#include "platform/windows/com.h"

#include <wbemcli.h>

#include <cwchar>
#include <new>

#include "platform/errors.h"
#include "platform/windows/wide_strings.h"

namespace clearstrand::win32 {

namespace {

// The system's message tables know nothing of WMI's codes; name the ones a
// registry or namespace connection can meet.
const wchar_t* WbemErrorName(uint32_t code) {
    struct Name {
        uint32_t code;
        const wchar_t* text;
    };
    static const Name names[] = {
        {static_cast<uint32_t>(WBEM_E_FAILED), L"WBEM_E_FAILED"},
        {static_cast<uint32_t>(WBEM_E_NOT_FOUND), L"WBEM_E_NOT_FOUND"},
        {static_cast<uint32_t>(WBEM_E_ACCESS_DENIED), L"WBEM_E_ACCESS_DENIED"},
        {static_cast<uint32_t>(WBEM_E_PROVIDER_FAILURE), L"WBEM_E_PROVIDER_FAILURE"},
        {static_cast<uint32_t>(WBEM_E_TYPE_MISMATCH), L"WBEM_E_TYPE_MISMATCH"},
        {static_cast<uint32_t>(WBEM_E_OUT_OF_MEMORY), L"WBEM_E_OUT_OF_MEMORY"},
        {static_cast<uint32_t>(WBEM_E_INVALID_PARAMETER), L"WBEM_E_INVALID_PARAMETER"},
        {static_cast<uint32_t>(WBEM_E_NOT_SUPPORTED), L"WBEM_E_NOT_SUPPORTED"},
        {static_cast<uint32_t>(WBEM_E_INVALID_NAMESPACE), L"WBEM_E_INVALID_NAMESPACE"},
        {static_cast<uint32_t>(WBEM_E_INVALID_CLASS), L"WBEM_E_INVALID_CLASS"},
        {static_cast<uint32_t>(WBEM_E_INVALID_QUERY), L"WBEM_E_INVALID_QUERY"},
        {static_cast<uint32_t>(WBEM_E_INVALID_METHOD), L"WBEM_E_INVALID_METHOD"},
        {static_cast<uint32_t>(WBEM_E_INVALID_METHOD_PARAMETERS), L"WBEM_E_INVALID_METHOD_PARAMETERS"},
    };
    for (const Name& name : names) {
        if (name.code == code) {
            return name.text;
        }
    }
    return nullptr;
}

}  // namespace

std::wstring DescribeError(uint32_t code) {
    if (const wchar_t* name = WbemErrorName(code)) {
        return name;
    }
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring text;
    if (length != 0 && buffer != nullptr) {
        text.assign(buffer, length);
        LocalFree(buffer);
    }
    while (!text.empty() && (text.back() == L'\n' || text.back() == L'\r' || text.back() == L' ' ||
                             text.back() == L'.')) {
        text.pop_back();
    }
    if (text.empty()) {
        text = L"error";
    }
    return text;
}

void ThrowError(uint32_t code, std::wstring_view what) {
    wchar_t hex[16];
    std::swprintf(hex, std::size(hex), L"0x%08X", static_cast<unsigned>(code));
    std::wstring message(what);
    message += L" failed: ";
    message += DescribeError(code);
    message += L" (";
    message += hex;
    message += L")";
    throw PlatformError(static_cast<int32_t>(code), FromWide(message));
}

ComInit::ComInit(DWORD model) {
    const HRESULT hr = CoInitializeEx(nullptr, model);
    if (hr == RPC_E_CHANGED_MODE) {
        return;  // already initialised in the other model: leave it to its owner
    }
    ThrowIfFailed(hr, L"CoInitializeEx");
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
