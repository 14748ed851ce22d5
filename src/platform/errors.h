#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace clearstrand {

// The one failure type that a platform service raises instead of returning a
// result code: a COM or Win32 failure on Windows, an injected fault in tests.
// Codes that a service returns (StdRegProv's ReturnValue, an uninstall code)
// are never turned into this.
class PlatformError : public std::exception {
public:
    PlatformError(int32_t code, std::u16string description);

    int32_t code() const noexcept { return code_; }
    const std::u16string& description() const noexcept { return description_; }
    const char* what() const noexcept override { return utf8_.c_str(); }

private:
    int32_t code_;
    std::u16string description_;
    std::string utf8_;
};

// UTF-16 <-> UTF-8 for messages, logs and tests; unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

}  // namespace clearstrand
