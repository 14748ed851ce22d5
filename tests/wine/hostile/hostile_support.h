#pragma once

// A real Form1 on the real file system and registry of a Wine prefix, with
// in-memory controls and installer, and the disk helpers the hostile tests
// seed and inspect folders with.

#include <windows.h>

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/form1.h"
#include "memory/memory_controls.h"
#include "platform/errors.h"
#include "platform/windows/com.h"
#include "wine/contracts/wine_support.h"

namespace clearstrand::hostile {

// Every hostile situation a test sets up adds one; main prints the total.
void CountCase();
int CaseCount();

// ---- Disk ----------------------------------------------------------------------

using namespace wine_tests;

std::string ReadFile(const std::wstring& path);
// Every file and folder below `folder`, relative to it, folders ending in "\".
std::vector<std::wstring> ListTree(const std::wstring& folder);

// A new folder directly under C:\ for one test, removed with everything in it
// when the test ends.
class TestRoot {
public:
    explicit TestRoot(const std::wstring& tag);
    ~TestRoot();
    TestRoot(const TestRoot&) = delete;
    TestRoot& operator=(const TestRoot&) = delete;

    const std::wstring& path() const { return path_; }
    std::wstring operator/(const std::wstring& relative) const { return path_ + L"\\" + relative; }

private:
    std::wstring path_;
};

// ---- Another process holding a file ---------------------------------------------

// Runs this exe again with "--hold PATH EVENT": the copy opens the file
// without FILE_SHARE_DELETE, signals, and keeps it open until it is ended.
class FileHolder {
public:
    explicit FileHolder(const std::wstring& path);
    ~FileHolder();
    FileHolder(const FileHolder&) = delete;
    FileHolder& operator=(const FileHolder&) = delete;

private:
    win32::UniqueKernelHandle process_;
};

// The body of the "--hold" copy; its exit code.
int HoldFileUntilEnded(const std::wstring& path, const std::wstring& eventName);

// ---- Services ---------------------------------------------------------------------

// The real registry provider through WMI, and the in-memory installer's
// product class for the cimv2 moniker, so that uninstalls stay in memory.
class MixedManagementService : public ManagementService {
public:
    explicit MixedManagementService(MemoryInstaller& installer);
    std::unique_ptr<RegistryProvider> GetRegistryProvider(const std::u16string& moniker) override;
    std::unique_ptr<ManagementServices> GetServices(const std::u16string& moniker) override;

private:
    std::unique_ptr<ManagementService> wmi_;
    MemoryRegistry unusedRegistry_;
    MemoryManagementService memory_;
};

// Raised by GuardedFileService: deliberately not a PlatformError, so that
// nothing on the way up catches it and the test fails at once.
class EscapedDelete : public std::logic_error {
public:
    using std::logic_error::logic_error;
};

// The real file service with a tripwire: a Delete of anything outside the
// allowed folders raises EscapedDelete before it reaches the disk, so a
// broken safety rule fails the test instead of wiping the prefix.
class GuardedFileService : public FileService {
public:
    explicit GuardedFileService(std::vector<std::wstring> allowed);
    std::unique_ptr<FileSystem> CreateFileSystem() override;
    ProtectedFolders GetProtectedFolders() override;

    // Paths whose Delete went through, in order.
    std::vector<std::wstring> deleted;

    // Raises EscapedDelete unless `entry` lies in an allowed folder.
    template <typename Entry>
    void Delete(Entry& entry, bool force);

private:
    void Allow(const std::wstring& path) const;

    std::unique_ptr<FileService> real_;
    std::vector<std::wstring> allowed_;
};

// A Form1 over memory controls, a memory installer, the real registry
// through WMI and a file service of the test's choosing.
struct Rig {
    explicit Rig(FileService& fileService);
    Rig(const Rig&) = delete;
    Rig& operator=(const Rig&) = delete;

    std::u16string status() { return statusBar.Item(statusBar.Count()).Text(); }

    EventLog log;
    MemoryInstaller installer;
    MixedManagementService management{installer};
    MemoryTreeView tree;
    MemoryButton command1{log, "Command1"};
    MemoryButton command2{log, "Command2"};
    MemoryButton command3{log, "Command3"};
    MemoryLabel label2{log, "Label2"};
    MemoryStatusBar statusBar{log};
    MemoryShell shell{log};
    Form1 form;
};

}  // namespace clearstrand::hostile
