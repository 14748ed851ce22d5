#pragma once

#include <cstdint>
#include <exception>
#include <string>
#include <utility>

namespace clearstrand {

// The one failure type that a platform service raises instead of returning a
// result code: a COM or Win32 failure on Windows, an injected fault in tests.
// Codes that a service returns (StdRegProv's ReturnValue, an uninstall code)
// are never turned into this. The description is the system's own words for
// the user; `path` names the file or folder the failure is about, if any.
class PlatformError : public std::exception {
public:
    PlatformError(int32_t code, std::u16string description, std::u16string path = {});

    int32_t code() const noexcept { return code_; }
    const std::u16string& description() const noexcept { return description_; }
    const std::u16string& path() const noexcept { return path_; }
    const char* what() const noexcept override { return utf8_.c_str(); }
    // What the program could not do, in plain words ("The registry could not
    // be read."), set where the service that failed is known; empty otherwise.
    const std::u16string& action() const noexcept { return action_; }
    void SetAction(std::u16string action) { action_ = std::move(action); }

private:
    int32_t code_;
    std::u16string description_;
    std::u16string path_;
    std::string utf8_;
    std::u16string action_;
};

// A link that the platform cannot remove without reaching what it leads to
// (a Unix symbolic link under Wine): it was left as it is, and nothing it
// leads to was touched.
class LinkKept : public PlatformError {
public:
    using PlatformError::PlatformError;
};

// UTF-16 <-> UTF-8 for messages, logs and tests; unpaired surrogates become U+FFFD.
std::string ToUtf8(std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

}  // namespace clearstrand
