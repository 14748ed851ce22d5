#include "hostile_support.h"

#include <algorithm>
#include <atomic>

#include "platform/errors.h"
#include "platform/windows/wide_strings.h"
#include "platform/windows/win32_files.h"
#include "platform/windows/wmi_management.h"

namespace clearstrand::hostile {

namespace {

std::atomic<int> g_cases{0};

bool StartsWithNoCase(const std::wstring& text, const std::wstring& prefix) {
    return text.size() >= prefix.size() &&
           CompareStringOrdinal(text.c_str(), static_cast<int>(prefix.size()), prefix.c_str(),
                                static_cast<int>(prefix.size()), TRUE) == CSTR_EQUAL;
}

}  // namespace

void CountCase() { ++g_cases; }
int CaseCount() { return g_cases; }

// ---- Disk ----------------------------------------------------------------------

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

namespace {

void ListInto(const std::wstring& folder, const std::wstring& relative, std::vector<std::wstring>& out) {
    WIN32_FIND_DATAW data;
    const win32::UniqueFindHandle find(FindFirstFileW(Extended(folder + L"\\*").c_str(), &data));
    if (!find) return;
    do {
        const std::wstring name = data.cFileName;
        if (name == L"." || name == L"..") continue;
        const bool isFolder = data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY;
        out.push_back(relative + name + (isFolder ? L"\\" : L""));
        if (isFolder && !(data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT)) {
            ListInto(folder + L"\\" + name, relative + name + L"\\", out);
        }
    } while (FindNextFileW(find.get(), &data));
}

}  // namespace

std::vector<std::wstring> ListTree(const std::wstring& folder) {
    std::vector<std::wstring> out;
    ListInto(folder, L"", out);
    std::sort(out.begin(), out.end());
    return out;
}

TestRoot::TestRoot(const std::wstring& tag) {
    static int next = 0;
    path_ = L"C:\\ClearstrandHostile-" + tag + L"-" + std::to_wstring(GetCurrentProcessId()) + L"-" +
            std::to_wstring(++next);
    RemoveTree(path_);
    MakeFolder(path_);
}

TestRoot::~TestRoot() { RemoveTree(path_); }

// ---- Another process holding a file ---------------------------------------------

FileHolder::FileHolder(const std::wstring& path) {
    static int next = 0;
    const std::wstring eventName =
        L"Local\\ClearstrandHostileHold-" + std::to_wstring(GetCurrentProcessId()) + L"-" + std::to_wstring(++next);
    const win32::UniqueKernelHandle ready(CreateEventW(nullptr, TRUE, FALSE, eventName.c_str()));
    CheckBool(static_cast<bool>(ready), L"CreateEventW(" + eventName + L")");

    wchar_t exe[MAX_PATH];
    GetModuleFileNameW(nullptr, exe, MAX_PATH);
    std::wstring command = L"\"" + std::wstring(exe) + L"\" --hold \"" + path + L"\" " + eventName;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    CheckBool(CreateProcessW(nullptr, command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &info),
              L"CreateProcessW(" + command + L")");
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
    void Delete(bool force) override { service_.Delete(*real_, force); }

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
    void Delete(bool force) override { service_.Delete(*real_, force); }

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

template <typename Entry>
void GuardedFileService::Delete(Entry& entry, bool force) {
    const std::wstring path = win32::ToWide(entry.Path());
    Allow(path);
    entry.Delete(force);
    deleted.push_back(path);
}
template void GuardedFileService::Delete(File&, bool);
template void GuardedFileService::Delete(Folder&, bool);

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

}  // namespace clearstrand::hostile
