#include "hostile_support.h"

#include <winioctl.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "platform/errors.h"
#include "platform/windows/wide_strings.h"
#include "platform/windows/win32_files.h"
#include "platform/windows/wmi_management.h"

namespace clearstrand::hostile {

namespace {

std::atomic<int> g_cases{0};

[[noreturn]] void Fail(const std::wstring& what, DWORD error = GetLastError()) {
    throw std::runtime_error(Narrow(what) + " failed: " + std::to_string(error));
}

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() &&
           CompareStringOrdinal(text.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

REGSAM View(HKEY hive) { return hive == HKEY_LOCAL_MACHINE ? KEY_WOW64_32KEY : 0; }

}  // namespace

void CountCase() { ++g_cases; }
int CaseCount() { return g_cases; }

std::string Narrow(const std::wstring& text) { return ToUtf8(win32::FromWide(text)); }

// ---- Disk ----------------------------------------------------------------------

std::wstring Extended(const std::wstring& path) { return win32::ToExtendedPath(path); }

void MakeFolder(const std::wstring& path) {
    // Component by component after the drive, so that long paths work too.
    for (size_t at = path.find(L'\\', 3);; at = path.find(L'\\', at + 1)) {
        const std::wstring part = Extended(path.substr(0, at));
        if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS) {
            Fail(L"CreateDirectoryW(" + part + L")");
        }
        if (at == std::wstring::npos) break;
    }
}

void MakeFile(const std::wstring& path, const std::string& content, DWORD attributes) {
    MakeFolder(path.substr(0, path.rfind(L'\\')));
    const win32::UniqueFileHandle file(CreateFileW(Extended(path).c_str(), GENERIC_WRITE, 0, nullptr,
                                                   CREATE_ALWAYS, attributes, nullptr));
    if (!file) Fail(L"CreateFileW(" + path + L")");
    DWORD written = 0;
    if (!WriteFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &written, nullptr)) {
        Fail(L"WriteFile(" + path + L")");
    }
}

std::string ReadFile(const std::wstring& path) {
    const win32::UniqueFileHandle file(CreateFileW(Extended(path).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                                   OPEN_EXISTING, 0, nullptr));
    if (!file) return {};
    std::string content(4096, '\0');
    DWORD read = 0;
    ::ReadFile(file.get(), content.data(), static_cast<DWORD>(content.size()), &read, nullptr);
    content.resize(read);
    return content;
}

DWORD Attributes(const std::wstring& path) { return GetFileAttributesW(Extended(path).c_str()); }

bool Exists(const std::wstring& path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

namespace {

template <typename Visit>
void ForEachEntry(const std::wstring& folder, Visit visit) {
    WIN32_FIND_DATAW data;
    const win32::UniqueFindHandle find(FindFirstFileW(Extended(folder + L"\\*").c_str(), &data));
    if (!find) return;
    do {
        const std::wstring name = data.cFileName;
        if (name != L"." && name != L"..") visit(name, data.dwFileAttributes);
    } while (FindNextFileW(find.get(), &data));
}

void ListInto(const std::wstring& folder, const std::wstring& relative, std::vector<std::wstring>& out) {
    ForEachEntry(folder, [&](const std::wstring& name, DWORD attributes) {
        if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
            out.push_back(relative + name);
            return;
        }
        out.push_back(relative + name + L"\\");
        if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            ListInto(folder + L"\\" + name, relative + name + L"\\", out);
        }
    });
}

}  // namespace

std::vector<std::wstring> ListTree(const std::wstring& folder) {
    std::vector<std::wstring> out;
    ListInto(folder, L"", out);
    std::sort(out.begin(), out.end());
    return out;
}

void RemoveTree(const std::wstring& path) {
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return;
    if (attributes & FILE_ATTRIBUTE_READONLY) SetFileAttributesW(Extended(path).c_str(), FILE_ATTRIBUTE_NORMAL);
    if (!(attributes & FILE_ATTRIBUTE_DIRECTORY)) {
        DeleteFileW(Extended(path).c_str());
        return;
    }
    if (!(attributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
        std::vector<std::wstring> names;
        ForEachEntry(path, [&](const std::wstring& name, DWORD) { names.push_back(name); });
        for (const auto& name : names) RemoveTree(path + L"\\" + name);
    }
    RemoveDirectoryW(Extended(path).c_str());
}

TestRoot::TestRoot(const std::wstring& tag) {
    static int next = 0;
    path_ = L"C:\\ClearstrandHostile-" + tag + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++next);
    RemoveTree(path_);
    MakeFolder(path_);
}

TestRoot::~TestRoot() { RemoveTree(path_); }

namespace {

// The layout of a mount-point reparse buffer.
struct MountPointReparse {
    DWORD tag;
    WORD dataLength;
    WORD reserved;
    WORD substituteOffset;
    WORD substituteLength;
    WORD printOffset;
    WORD printLength;
    wchar_t paths[1024];
};

bool MakeJunction(const std::wstring& link, const std::wstring& target) {
    MakeFolder(link);
    const win32::UniqueFileHandle folder(CreateFileW(Extended(link).c_str(), GENERIC_WRITE, 0, nullptr,
                                                     OPEN_EXISTING,
                                                     FILE_FLAG_BACKUP_SEMANTICS | FILE_FLAG_OPEN_REPARSE_POINT,
                                                     nullptr));
    if (!folder) return false;
    const std::wstring substitute = L"\\??\\" + target;
    MountPointReparse buffer{};
    buffer.tag = IO_REPARSE_TAG_MOUNT_POINT;
    buffer.substituteLength = static_cast<WORD>(substitute.size() * sizeof(wchar_t));
    buffer.printOffset = static_cast<WORD>((substitute.size() + 1) * sizeof(wchar_t));
    buffer.printLength = static_cast<WORD>(target.size() * sizeof(wchar_t));
    std::memcpy(buffer.paths, substitute.c_str(), (substitute.size() + 1) * sizeof(wchar_t));
    std::memcpy(buffer.paths + substitute.size() + 1, target.c_str(), (target.size() + 1) * sizeof(wchar_t));
    buffer.dataLength = static_cast<WORD>(4 * sizeof(WORD) + (substitute.size() + target.size() + 2) * sizeof(wchar_t));
    DWORD returned = 0;
    return DeviceIoControl(folder.get(), FSCTL_SET_REPARSE_POINT, &buffer, buffer.dataLength + 8u, nullptr, 0,
                           &returned, nullptr) != FALSE;
}

bool IsLink(const std::wstring& path) {
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_REPARSE_POINT);
}

}  // namespace

bool MakeFolderLink(const std::wstring& link, const std::wstring& target) {
    if (MakeJunction(link, target) && IsLink(link)) return true;
    RemoveDirectoryW(Extended(link).c_str());
    constexpr DWORD kUnprivileged = 0x2;  // SYMBOLIC_LINK_FLAG_ALLOW_UNPRIVILEGED_CREATE
    if (CreateSymbolicLinkW(link.c_str(), target.c_str(), SYMBOLIC_LINK_FLAG_DIRECTORY | kUnprivileged) &&
        IsLink(link)) {
        return true;
    }
    // Whatever a half-made link left is removed without being entered.
    if (Exists(link) && !IsLink(link)) RemoveDirectoryW(Extended(link).c_str());
    return false;
}

// ---- Another process holding a file ---------------------------------------------

FileHolder::FileHolder(const std::wstring& path) {
    static int next = 0;
    const std::wstring eventName =
        L"Local\\ClearstrandHostileHold-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++next);
    const win32::UniqueKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    if (!ready) Fail(L"CreateEventW(" + eventName + L")");

    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) + L"\" --hold \"" + path + L"\" " + eventName;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info)) {
        Fail(L"CreateProcessW(" + command + L")");
    }
    process_.reset(info.hProcess);
    CloseHandle(info.hThread);

    const HANDLE waitFor[] = {ready.get(), process_.get()};
    const DWORD woke = WaitForMultipleObjects(2, waitFor, FALSE, 30000);
    if (woke != WAIT_OBJECT_0) {
        DWORD code = 0;
        GetExitCodeProcess(process_.get(), &code);
        TerminateProcess(process_.get(), 1);
        throw std::runtime_error("the holding process did not open " + Narrow(path) +
                                 " (exit code " + std::to_string(code) + ")");
    }
}

FileHolder::~FileHolder() {
    TerminateProcess(process_.get(), 0);
    WaitForSingleObject(process_.get(), 10000);
}

int HoldFileUntilEnded(const std::wstring& path, const std::wstring& eventName) {
    // Shared for reading and writing but not for deletion, as a running
    // program holds its own files.
    const win32::UniqueFileHandle file(CreateFileW(Extended(path).c_str(), GENERIC_READ,
                                                   FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0,
                                                   nullptr));
    if (!file) return 2;
    const win32::UniqueKernelHandle ready(OpenEventW(EVENT_MODIFY_STATE, FALSE, eventName.c_str()));
    if (!ready || !SetEvent(ready.get())) return 3;
    // Bounded, so that a test that dies before ending this copy leaves no
    // process behind for long.
    Sleep(120000);
    return 0;
}

// ---- Services ---------------------------------------------------------------------

MixedManagementService::MixedManagementService(MemoryInstaller& installer)
    : wmi_(win32::MakeWmiManagementService()), memory_(unusedRegistry_, installer) {}

std::unique_ptr<RegistryProvider> MixedManagementService::GetRegistryProvider(const std::u16string& moniker) {
    return wmi_->GetRegistryProvider(moniker);
}

std::unique_ptr<ManagementServices> MixedManagementService::GetServices(const std::u16string& moniker) {
    return memory_.GetServices(moniker);
}

namespace {

class GuardedFile final : public File {
public:
    GuardedFile(GuardedFileService& service, std::unique_ptr<File> real)
        : service_(service), real_(std::move(real)) {}
    std::u16string Path() const override { return real_->Path(); }
    void Delete(bool force) override {
        const std::wstring path = win32::ToWide(real_->Path());
        service_.Allow(path);
        real_->Delete(force);
        service_.deleted.push_back(path);
    }

private:
    GuardedFileService& service_;
    std::unique_ptr<File> real_;
};

class GuardedFolder final : public Folder {
public:
    GuardedFolder(GuardedFileService& service, std::unique_ptr<Folder> real)
        : service_(service), real_(std::move(real)) {}
    std::u16string Path() const override { return real_->Path(); }
    std::vector<std::unique_ptr<File>> Files() override {
        std::vector<std::unique_ptr<File>> files;
        for (auto& file : real_->Files()) files.push_back(std::make_unique<GuardedFile>(service_, std::move(file)));
        return files;
    }
    std::vector<std::unique_ptr<Folder>> SubFolders() override {
        std::vector<std::unique_ptr<Folder>> folders;
        for (auto& folder : real_->SubFolders()) {
            folders.push_back(std::make_unique<GuardedFolder>(service_, std::move(folder)));
        }
        return folders;
    }
    void Delete(bool force) override {
        const std::wstring path = win32::ToWide(real_->Path());
        service_.Allow(path);
        real_->Delete(force);
        service_.deleted.push_back(path);
    }

private:
    GuardedFileService& service_;
    std::unique_ptr<Folder> real_;
};

class GuardedFileSystem final : public FileSystem {
public:
    GuardedFileSystem(GuardedFileService& service, std::unique_ptr<FileSystem> real)
        : service_(service), real_(std::move(real)) {}
    bool FolderExists(const std::u16string& path) override { return real_->FolderExists(path); }
    std::unique_ptr<Folder> GetFolder(const std::u16string& path) override {
        return std::make_unique<GuardedFolder>(service_, real_->GetFolder(path));
    }

private:
    GuardedFileService& service_;
    std::unique_ptr<FileSystem> real_;
};

}  // namespace

GuardedFileService::GuardedFileService(std::vector<std::wstring> allowed)
    : real_(win32::MakeWin32FileService()), allowed_(std::move(allowed)) {}

std::unique_ptr<FileSystem> GuardedFileService::CreateFileSystem() {
    return std::make_unique<GuardedFileSystem>(*this, real_->CreateFileSystem());
}

ProtectedFolders GuardedFileService::GetProtectedFolders() { return real_->GetProtectedFolders(); }

void GuardedFileService::Allow(const std::wstring& path) const {
    for (const auto& root : allowed_) {
        if (StartsWithNoCase(path, root) && (path.size() == root.size() || path[root.size()] == L'\\')) return;
    }
    throw EscapedDelete("Delete outside the test's folders: " + Narrow(path));
}

Rig::Rig(FileService& fileService)
    : form(FormControls{command1, command2, command3, label2, statusBar, tree},
           FormServices{management, fileService, shell}) {
    tree.SetNodeCheckHandler([this](TreeNode& node) { form.TreeView1_NodeCheck(node); });
}

// ---- Registry ---------------------------------------------------------------------

void MakeRegistryKey(HKEY hive, const std::wstring& path) {
    win32::UniqueHkey key;
    const LSTATUS status = RegCreateKeyExW(hive, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | View(hive), nullptr,
                                           key.put(), nullptr);
    if (status != ERROR_SUCCESS) Fail(L"RegCreateKeyExW(" + path + L")", static_cast<DWORD>(status));
}

void SetRegistryString(HKEY hive, const std::wstring& path, const std::wstring& name, const std::wstring& value) {
    win32::UniqueHkey key;
    LSTATUS status = RegCreateKeyExW(hive, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | View(hive), nullptr,
                                     key.put(), nullptr);
    if (status == ERROR_SUCCESS) {
        status = RegSetValueExW(key.get(), name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                static_cast<DWORD>((value.size() + 1) * sizeof(wchar_t)));
    }
    if (status != ERROR_SUCCESS) Fail(L"setting " + path + L"\\" + name, static_cast<DWORD>(status));
}

bool RegistryKeyExists(HKEY hive, const std::wstring& path) {
    win32::UniqueHkey key;
    return RegOpenKeyExW(hive, path.c_str(), 0, KEY_READ | View(hive), key.put()) == ERROR_SUCCESS;
}

void RemoveRegistryTree(HKEY hive, const std::wstring& path) {
    {
        win32::UniqueHkey key;
        if (RegOpenKeyExW(hive, path.c_str(), 0, KEY_ALL_ACCESS | View(hive), key.put()) != ERROR_SUCCESS) return;
        RegDeleteTreeW(key.get(), nullptr);
    }
    RegDeleteKeyExW(hive, path.c_str(), View(hive), 0);
}

}  // namespace clearstrand::hostile
