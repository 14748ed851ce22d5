#include "platform/windows/file_handles.h"

#include <winternl.h>

#include <algorithm>
#include <cstddef>

#include "platform/windows/buffers.h"
#include "platform/windows/win32_errors.h"
#include "platform/windows/wide_strings.h"

namespace clearstrand::win32 {

namespace {

[[noreturn]] void ThrowStatus(NTSTATUS status, const std::wstring& shown) {
    ThrowError(RtlNtStatusToDosError(status), FromWide(shown));
}

// Not there: the entry, or a folder on its way.
bool IsNotFound(NTSTATUS status) {
    constexpr NTSTATUS kNameNotFound = static_cast<NTSTATUS>(0xC0000034);
    constexpr NTSTATUS kPathNotFound = static_cast<NTSTATUS>(0xC000003A);
    return status == kNameNotFound || status == kPathNotFound;
}

std::wstring_view Trimmed(std::wstring_view name) {
    while (!name.empty() && (name.back() == L'.' || name.back() == L' ')) name.remove_suffix(1);
    return name;
}

}  // namespace

std::vector<Listed> ListFolder(HANDLE folder, const std::wstring& shown) {
    std::vector<Listed> listing;
    std::vector<std::byte> buffer(64 * 1024);
    while (GetFileInformationByHandleEx(folder, FileIdBothDirectoryInfo, buffer.data(), static_cast<DWORD>(buffer.size()))) {
        for (size_t at = 0;;) {
            const auto& info = *reinterpret_cast<const FILE_ID_BOTH_DIR_INFO*>(buffer.data() + at);
            const std::wstring_view name(info.FileName, info.FileNameLength / sizeof(wchar_t));
            if (name != L"." && name != L"..") {
                listing.push_back({std::wstring(name), std::wstring(info.ShortName, info.ShortNameLength / sizeof(wchar_t)),
                                   info.FileId.QuadPart, info.FileAttributes});
            }
            if (info.NextEntryOffset == 0) break;
            at += info.NextEntryOffset;
        }
    }
    if (GetLastError() != ERROR_NO_MORE_FILES) ThrowLastError(FromWide(shown));
    return listing;
}

bool OpenEntry(HANDLE folder, std::wstring_view name, ACCESS_MASK access, UniqueFileHandle& entry,
               const std::wstring& shown, bool follow) {
    UNICODE_STRING relative{static_cast<USHORT>(name.size() * sizeof(wchar_t)),
                            static_cast<USHORT>(name.size() * sizeof(wchar_t)), const_cast<wchar_t*>(name.data())};
    OBJECT_ATTRIBUTES attributes;
    InitializeObjectAttributes(&attributes, &relative, OBJ_CASE_INSENSITIVE, folder, nullptr);
    IO_STATUS_BLOCK io{};
    HANDLE handle = nullptr;
    // Synchronous, or a listing through it may return before it is done;
    // backup intent, so that a folder opens as a file does.
    const NTSTATUS status =
        NtCreateFile(&handle, access | SYNCHRONIZE, &attributes, &io, nullptr, 0,
                     FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, FILE_OPEN,
                     (follow ? 0 : FILE_OPEN_REPARSE_POINT) | FILE_SYNCHRONOUS_IO_NONALERT | FILE_OPEN_FOR_BACKUP_INTENT,
                     nullptr, 0);
    if (IsNotFound(status)) return false;
    if (!NT_SUCCESS(status)) ThrowStatus(status, shown);
    entry.reset(handle);
    return true;
}

LONGLONG FileIdOf(HANDLE handle, const std::wstring& shown) {
    FILE_INTERNAL_INFORMATION info{};
    IO_STATUS_BLOCK io{};
    const NTSTATUS status = NtQueryInformationFile(handle, &io, &info, sizeof(info), FileInternalInformation);
    if (!NT_SUCCESS(status)) ThrowStatus(status, shown);
    return info.IndexNumber.QuadPart;
}

std::wstring ObjectNameOf(HANDLE handle, const std::wstring& shown) {
    constexpr NTSTATUS kInfoLengthMismatch = static_cast<NTSTATUS>(0xC0000004);
    constexpr NTSTATUS kBufferOverflow = static_cast<NTSTATUS>(0x80000005);
    std::vector<std::byte> buffer(sizeof(OBJECT_NAME_INFORMATION) + 1024);
    NTSTATUS status = 0;
    GrowUntilItFits(buffer, [&](std::vector<std::byte>& b) -> size_t {
        ULONG needed = 0;
        status = NtQueryObject(handle, ObjectNameInformation, b.data(), static_cast<ULONG>(b.size()), &needed);
        return status == kInfoLengthMismatch || status == kBufferOverflow ? needed : 0;
    });
    if (!NT_SUCCESS(status)) ThrowStatus(status, shown);
    const auto& name = reinterpret_cast<const OBJECT_NAME_INFORMATION*>(buffer.data())->Name;
    return std::wstring(name.Buffer, name.Length / sizeof(wchar_t));
}

bool SamePlace(std::wstring_view a, std::wstring_view b) {
    if (a == b) return true;
    // Name by name: a volume's root may be named with its separator.
    const auto names = [](std::wstring_view path) {
        std::vector<std::wstring_view> found;
        for (size_t start = 0; start < path.size();) {
            const size_t end = std::min(path.find(L'\\', start), path.size());
            if (end > start) found.push_back(Trimmed(path.substr(start, end - start)));
            start = end + 1;
        }
        return found;
    };
    const auto namesA = names(a), namesB = names(b);
    return std::equal(namesA.begin(), namesA.end(), namesB.begin(), namesB.end(), SameText);
}

std::optional<std::wstring> FinalPathOf(HANDLE handle) {
    std::vector<wchar_t> buffer(MAX_PATH);
    DWORD length = 0;
    GrowUntilItFits(buffer, [&](std::vector<wchar_t>& b) {  // the size it needs counts the null
        return length = GetFinalPathNameByHandleW(handle, b.data(), static_cast<DWORD>(b.size()), FILE_NAME_NORMALIZED | VOLUME_NAME_DOS);
    });
    if (length == 0) return std::nullopt;
    return std::wstring(buffer.data(), length);
}

void SetAttributes(HANDLE handle, DWORD attributes, const std::wstring& shown) {
    constexpr DWORD kSettable = FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM |
                                FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_TEMPORARY | FILE_ATTRIBUTE_OFFLINE |
                                FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;
    FILE_BASIC_INFO basic{};  // times of 0 stay as they are
    basic.FileAttributes = attributes & kSettable;
    if (basic.FileAttributes == 0) basic.FileAttributes = FILE_ATTRIBUTE_NORMAL;  // 0 would change nothing
    if (!SetFileInformationByHandle(handle, FileBasicInfo, &basic, sizeof(basic))) ThrowLastError(FromWide(shown));
}

void MarkForDeletion(HANDLE handle, const std::wstring& shown) {
    FILE_DISPOSITION_INFO disposition{TRUE};
    if (!SetFileInformationByHandle(handle, FileDispositionInfo, &disposition, sizeof(disposition))) {
        ThrowLastError(FromWide(shown));
    }
}

}  // namespace clearstrand::win32
