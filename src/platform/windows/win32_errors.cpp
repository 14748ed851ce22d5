#include "platform/windows/win32_errors.h"

#include <wbemcli.h>

#include "platform/errors.h"
#include "platform/windows/handles.h"
#include "platform/windows/wide_strings.h"

namespace clearstrand::win32 {

namespace {

// The system's message tables know nothing of WMI's codes: the ones a
// registry or namespace connection can meet, in words.
const char16_t* WbemReason(uint32_t code) {
    switch (code) {
    case WBEM_E_ACCESS_DENIED: return u"Access denied.";
    case WBEM_E_NOT_FOUND: return u"Not found.";
    case WBEM_E_OUT_OF_MEMORY: return u"Not enough memory.";
    case WBEM_E_INVALID_NAMESPACE:
    case WBEM_E_INVALID_CLASS:
    case WBEM_E_INVALID_QUERY:
    case WBEM_E_INVALID_METHOD:
    case WBEM_E_INVALID_METHOD_PARAMETERS:
    case WBEM_E_INVALID_PARAMETER: return u"The management service does not offer what was asked of it.";
    case WBEM_E_TYPE_MISMATCH: return u"The management service answered in an unexpected form.";
    case WBEM_E_FAILED:
    case WBEM_E_PROVIDER_FAILURE: return u"The management service failed.";
    default: return nullptr;
    }
}

}  // namespace

std::u16string DescribeError(uint32_t code) {
    if (const char16_t* reason = WbemReason(code)) return reason;
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(
        FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
        reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    const UniqueLocalMemory owner(buffer);
    std::u16string text = length != 0 && buffer ? FromWide(std::wstring_view(buffer, length)) : std::u16string();
    while (!text.empty() && (text.back() == u'\n' || text.back() == u'\r' || text.back() == u' ')) text.pop_back();
    return text.empty() ? u"The system gave no reason." : text;
}

void ThrowError(uint32_t code, std::u16string path) {
    throw PlatformError(static_cast<int32_t>(code), DescribeError(code), std::move(path));
}

}  // namespace clearstrand::win32
