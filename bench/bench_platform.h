#pragma once

// The Windows half of the benchmark's tooling: a clock, the registry seeds
// written with the Win32 API, the direct-API floors, and a management service
// that counts and times what passes through it.

#include <windows.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "bench_model.h"
#include "platform/controls.h"
#include "platform/management.h"

namespace clearstrand::bench {

// A path or text of the platform's, for a message.
std::string Utf8(std::wstring_view text);

// ---- Clock --------------------------------------------------------------------

int64_t Ticks();
double TicksToMs(int64_t ticks);

// ---- Registry seeds -------------------------------------------------------------

// HKEY_LOCAL_MACHINE is seeded and read in the program's view (see
// ConnectStdRegProv); HKEY_CURRENT_USER has only one.
REGSAM ViewOf(HKEY hive);

// Raises std::runtime_error naming the key when the call fails.
void CreateKey(HKEY hive, const std::wstring& path);
void SetString(HKEY key, const wchar_t* name, const std::u16string& value);
void DeleteTree(HKEY hive, const std::wstring& parent, const std::wstring& name);
bool KeyExists(HKEY hive, const std::wstring& path);

// The catalog's keys in one hive: the six miscellaneous keys and both
// families' eight releases.
void SeedCatalogKeys(HKEY hive);
void RemoveCatalogKeys(HKEY hive);
// Uninstall entries [from, to) of the benchmark machine.
void SeedUninstallEntries(size_t from, size_t to);
void RemoveUninstallEntries(size_t count);
// A subtree of `count` keys at `root` (relative to HKEY_LOCAL_MACHINE).
void SeedSubtree(const std::wstring& root, size_t count);

// ---- Floors ----------------------------------------------------------------------

// The registry work of one population through the Win32 API: the same
// listings of SOFTWARE and the containers in both hives, the listing of the
// uninstall root, and three value reads per entry. Each read names its key
// from the hive, as the provider is asked; with `openParent` the entries are
// read through one open handle of the uninstall root instead, which the
// provider's calls cannot do. Returns the entries read.
size_t DirectPopulationReads(bool openParent);

// ---- File trees --------------------------------------------------------------------

// A program folder at `root` of `files` files of `fileBytes` bytes each, in
// `folders` folders below it, two levels deep: what an erase is measured on.
// Raises std::runtime_error naming the path when a call fails.
void SeedFileTree(const std::wstring& root, size_t files, size_t folders, size_t fileBytes);
// The erase floor: a bare depth-first loop of FindFirstFileExW, DeleteFileW
// and RemoveDirectoryW, without any check.
void DeleteTreeBare(const std::wstring& root);
bool FolderExists(const std::wstring& path);

// ---- Profiling -------------------------------------------------------------------

// Forwards to `inner`. While profiling is on, every connection and call is
// counted and timed; while it is off the inner objects are handed out as they
// are, so the timed runs pay nothing for it.
class ProfilingManagementService final : public ManagementService {
public:
    explicit ProfilingManagementService(std::unique_ptr<ManagementService> inner) : inner_(std::move(inner)) {}

    void Start() {
        profile_ = {};
        on_ = true;
    }
    CallProfile Stop() {
        on_ = false;
        return profile_;
    }

    std::unique_ptr<RegistryProvider> GetRegistryProvider(const std::u16string& moniker) override;
    std::unique_ptr<ManagementServices> GetServices(const std::u16string& moniker) override;

private:
    std::unique_ptr<ManagementService> inner_;
    CallProfile profile_;
    bool on_ = false;
};

// Forwards to the window's status panel, counting and timing the texts.
class TimedPanel final : public Panel {
public:
    explicit TimedPanel(Panel& inner) : inner_(inner) {}
    int32_t Bevel() const override { return inner_.Bevel(); }
    void SetBevel(int32_t bevel) override { inner_.SetBevel(bevel); }
    int32_t AutoSize() const override { return inner_.AutoSize(); }
    void SetAutoSize(int32_t autoSize) override { inner_.SetAutoSize(autoSize); }
    std::u16string Text() const override { return inner_.Text(); }
    void SetText(const std::u16string& text) override {
        const int64_t start = Ticks();
        inner_.SetText(text);
        ++texts;
        ticks += Ticks() - start;
    }

    size_t texts = 0;
    int64_t ticks = 0;

private:
    Panel& inner_;
};

// ---- Machine ---------------------------------------------------------------------

std::string DescribeMachine();
std::string DescribePlatform();

}  // namespace clearstrand::bench
