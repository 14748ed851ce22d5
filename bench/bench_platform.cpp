#include "bench_platform.h"

#include <algorithm>
#include <stdexcept>
#include <string_view>

#include "discovery/catalog.h"
#include "platform/errors.h"
#include "platform/windows/handles.h"
#include "platform/windows/wide_strings.h"

namespace clearstrand::bench {

namespace {

using win32::ToWide;

void Check(LSTATUS code, const std::wstring& what) {
    if (code != ERROR_SUCCESS)
        throw std::runtime_error(Utf8(what) + " failed with code " + std::to_string(code));
}

const wchar_t* HiveName(HKEY hive) {
    return hive == HKEY_LOCAL_MACHINE ? L"HKLM\\" : L"HKCU\\";
}

// Empty when the key cannot be opened.
win32::UniqueRegKey OpenKey(HKEY hive, const std::wstring& path, REGSAM access) {
    HKEY key = nullptr;
    if (RegOpenKeyExW(hive, path.c_str(), 0, access | ViewOf(hive), &key) != ERROR_SUCCESS) return {};
    return win32::UniqueRegKey(key);
}

// RegEnumKeyExW to the end; an absent key lists nothing.
std::vector<std::wstring> Subkeys(HKEY hive, const std::wstring& path) {
    std::vector<std::wstring> names;
    const win32::UniqueRegKey key = OpenKey(hive, path, KEY_ENUMERATE_SUB_KEYS);
    if (!key) return names;
    wchar_t name[256];  // the longest key name the registry allows, and its null
    for (DWORD i = 0;; ++i) {
        DWORD length = 256;
        if (RegEnumKeyExW(key.get(), i, name, &length, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            break;
        names.emplace_back(name, length);
    }
    return names;
}

// RegGetValueW into a stack buffer, grown on the rare long value. `view` is
// RRF_SUBKEY_WOW6432KEY to read HKEY_LOCAL_MACHINE in the program's view by path.
std::wstring ReadString(HKEY parent, const wchar_t* subkey, const wchar_t* value, DWORD view) {
    const DWORD flags = RRF_RT_REG_SZ | view;
    wchar_t buffer[512];
    DWORD size = sizeof(buffer);
    LSTATUS code = RegGetValueW(parent, subkey, value, flags, nullptr, buffer, &size);
    if (code == ERROR_SUCCESS) return std::wstring(buffer, size / sizeof(wchar_t) - 1);
    if (code != ERROR_MORE_DATA) return std::wstring();
    std::wstring text(size / sizeof(wchar_t), L'\0');
    code = RegGetValueW(parent, subkey, value, flags, nullptr, text.data(), &size);
    if (code != ERROR_SUCCESS) return std::wstring();
    text.resize(size / sizeof(wchar_t) - 1);
    return text;
}

class ProfilingProvider final : public RegistryProvider {
public:
    ProfilingProvider(std::unique_ptr<RegistryProvider> inner, CallProfile& profile)
        : inner_(std::move(inner)), profile_(profile) {}
    // Dropping the connection is part of its cost.
    ~ProfilingProvider() override {
        const int64_t start = Ticks();
        inner_.reset();
        profile_.connectMs += TicksToMs(Ticks() - start);
    }
    ProfilingProvider(const ProfilingProvider&) = delete;
    ProfilingProvider& operator=(const ProfilingProvider&) = delete;

    int32_t EnumKey(int32_t hive, const std::u16string& path, std::vector<std::u16string>& names) override {
        const int64_t start = Ticks();
        const auto account = [&] {
            ++profile_.enumKeyCalls;
            profile_.enumKeyMs += TicksToMs(Ticks() - start);
        };
        try {
            const int32_t code = inner_->EnumKey(hive, path, names);
            account();
            return code;
        } catch (...) {
            account();
            throw;
        }
    }
    int32_t GetStringValue(int32_t hive, const std::u16string& path, const std::u16string& valueName,
                           std::u16string& value) override {
        const int64_t start = Ticks();
        const auto account = [&] {
            ++profile_.getStringValueCalls;
            profile_.getStringValueMs += TicksToMs(Ticks() - start);
        };
        try {
            const int32_t code = inner_->GetStringValue(hive, path, valueName, value);
            account();
            return code;
        } catch (...) {
            account();
            throw;
        }
    }
    int32_t DeleteKey(int32_t hive, const std::u16string& path) override {
        const int64_t start = Ticks();
        const auto account = [&] {
            ++profile_.deleteKeyCalls;
            profile_.deleteKeyMs += TicksToMs(Ticks() - start);
        };
        try {
            const int32_t code = inner_->DeleteKey(hive, path);
            account();
            return code;
        } catch (...) {
            account();
            throw;
        }
    }
    // Not the provider's calls: passed on uncounted.
    std::optional<std::u16string> LinkTarget(int32_t hive, const std::u16string& path) override {
        return inner_->LinkTarget(hive, path);
    }
    std::optional<int32_t> DeleteLink(int32_t hive, const std::u16string& path) override {
        return inner_->DeleteLink(hive, path);
    }

private:
    std::unique_ptr<RegistryProvider> inner_;
    CallProfile& profile_;
};

class ProfilingServices final : public ManagementServices {
public:
    ProfilingServices(std::unique_ptr<ManagementServices> inner, CallProfile& profile)
        : inner_(std::move(inner)), profile_(profile) {}

    ProductCollection ExecQuery(const std::u16string& query) override {
        const int64_t start = Ticks();
        ProductCollection products = inner_->ExecQuery(query);
        ++profile_.queryCalls;
        profile_.queryMs += TicksToMs(Ticks() - start);
        return products;
    }

private:
    std::unique_ptr<ManagementServices> inner_;
    CallProfile& profile_;
};

}  // namespace

std::string Utf8(std::wstring_view text) {
    return ToUtf8(win32::FromWide(text));
}

int64_t Ticks() {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

double TicksToMs(int64_t ticks) {
    static const double frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return static_cast<double>(f.QuadPart);
    }();
    return static_cast<double>(ticks) * 1000.0 / frequency;
}

REGSAM ViewOf(HKEY hive) {
    return hive == HKEY_LOCAL_MACHINE ? KEY_WOW64_32KEY : 0;
}

void CreateKey(HKEY hive, const std::wstring& path) {
    win32::UniqueRegKey key;
    Check(RegCreateKeyExW(hive, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | ViewOf(hive), nullptr, key.put(),
                          nullptr),
          std::wstring(L"RegCreateKeyExW ") + HiveName(hive) + path);
}

void SetString(HKEY key, const wchar_t* name, const std::u16string& value) {
    Check(RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                         static_cast<DWORD>((value.size() + 1) * sizeof(char16_t))),
          std::wstring(L"RegSetValueExW ") + name);
}

void DeleteTree(HKEY hive, const std::wstring& parent, const std::wstring& name) {
    const win32::UniqueRegKey key = OpenKey(hive, parent, KEY_ALL_ACCESS);
    if (key) RegDeleteTreeW(key.get(), name.c_str());
}

bool KeyExists(HKEY hive, const std::wstring& path) {
    const win32::UniqueRegKey key = OpenKey(hive, path, KEY_READ);
    return static_cast<bool>(key);
}

void SeedCatalogKeys(HKEY hive) {
    for (const auto name : catalog::kMiscKeys) CreateKey(hive, L"SOFTWARE\\" + ToWide(name));
    for (const auto& family : catalog::kFamilies)
        for (const auto release : family.releases) CreateKey(hive, ToWide(family.container) + L"\\" + ToWide(release));
}

void RemoveCatalogKeys(HKEY hive) {
    for (const auto name : catalog::kMiscKeys) DeleteTree(hive, L"SOFTWARE", ToWide(name));
    for (const auto& family : catalog::kFamilies) DeleteTree(hive, L"SOFTWARE", ToWide(family.trigger));
}

void SeedUninstallEntries(size_t from, size_t to) {
    const std::wstring root = ToWide(catalog::kUninstallRoot);
    for (size_t i = from; i < to; ++i) {
        const SeedEntry entry = UninstallEntry(i);
        win32::UniqueRegKey key;
        const std::wstring path = root + L"\\" + ToWide(entry.keyName);
        Check(RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY,
                              nullptr, key.put(), nullptr),
              L"RegCreateKeyExW HKLM\\" + path);
        SetString(key.get(), L"DisplayName", entry.displayName);
        SetString(key.get(), L"DisplayVersion", entry.displayVersion);
        SetString(key.get(), L"InstallLocation", entry.installLocation);
    }
}

void RemoveUninstallEntries(size_t count) {
    const win32::UniqueRegKey root = OpenKey(HKEY_LOCAL_MACHINE, ToWide(catalog::kUninstallRoot), KEY_ALL_ACCESS);
    if (!root) return;
    for (size_t i = 0; i < count; ++i) RegDeleteTreeW(root.get(), ToWide(UninstallEntry(i).keyName).c_str());
}

void SeedSubtree(const std::wstring& root, size_t count) {
    for (const auto& path : SubtreePaths(std::u16string(root.begin(), root.end()), count))
        CreateKey(HKEY_LOCAL_MACHINE, ToWide(path));
}

size_t DirectPopulationReads(bool openParent) {
    std::vector<std::wstring> kept;  // what the reads gave, as population keeps it
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        for (const auto& name : Subkeys(hive, L"SOFTWARE")) {
            if (name == L"Veltramark" || name == L"Planoview") {
                for (auto& release : Subkeys(hive, L"SOFTWARE\\" + name)) kept.push_back(std::move(release));
            }
        }
    }
    const std::wstring rootPath = ToWide(catalog::kUninstallRoot);
    const std::vector<std::wstring> entries = Subkeys(HKEY_LOCAL_MACHINE, rootPath);
    kept.reserve(kept.size() + entries.size() * 3);
    if (openParent) {
        const win32::UniqueRegKey root = OpenKey(HKEY_LOCAL_MACHINE, rootPath, KEY_READ);
        for (const auto& entry : entries) {
            kept.push_back(ReadString(root.get(), entry.c_str(), L"DisplayName", 0));
            kept.push_back(ReadString(root.get(), entry.c_str(), L"DisplayVersion", 0));
            kept.push_back(ReadString(root.get(), entry.c_str(), L"InstallLocation", 0));
        }
    } else {
        for (const auto& entry : entries) {
            const std::wstring path = rootPath + L"\\" + entry;
            kept.push_back(ReadString(HKEY_LOCAL_MACHINE, path.c_str(), L"DisplayName", RRF_SUBKEY_WOW6432KEY));
            kept.push_back(ReadString(HKEY_LOCAL_MACHINE, path.c_str(), L"DisplayVersion", RRF_SUBKEY_WOW6432KEY));
            kept.push_back(ReadString(HKEY_LOCAL_MACHINE, path.c_str(), L"InstallLocation", RRF_SUBKEY_WOW6432KEY));
        }
    }
    return entries.size();
}

void SeedFileTree(const std::wstring& root, size_t files, size_t folders, size_t fileBytes) {
    const auto folder = [](const std::wstring& path) {
        if (!CreateDirectoryW(path.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            throw std::runtime_error("cannot create " + Utf8(path));
    };
    folder(root);
    // Twenty top folders and the rest spread below them: a real program's
    // shape, deep enough that folders are entered from folders.
    const size_t top = std::min<size_t>(20, folders);
    std::vector<std::wstring> all;
    for (size_t i = 0; i < top; ++i) all.push_back(root + L"\\Folder " + std::to_wstring(i));
    for (size_t i = top; i < folders; ++i) all.push_back(all[i % top] + L"\\Sub " + std::to_wstring(i));
    for (const auto& path : all) folder(path);
    const std::string content(fileBytes, 'x');
    for (size_t i = 0; i < files; ++i) {
        const std::wstring path = all.empty() ? root : all[i % all.size()];
        const std::wstring file = path + L"\\file " + std::to_wstring(i) + L".dat";
        HANDLE handle = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (handle == INVALID_HANDLE_VALUE) throw std::runtime_error("cannot create " + Utf8(file));
        DWORD written = 0;
        const BOOL ok = WriteFile(handle, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
        CloseHandle(handle);
        if (!ok || written != content.size()) throw std::runtime_error("cannot write " + Utf8(file));
    }
}

void DeleteTreeBare(const std::wstring& root) {
    WIN32_FIND_DATAW data;
    HANDLE find = FindFirstFileExW((root + L"\\*").c_str(), FindExInfoBasic, &data, FindExSearchNameMatch, nullptr,
                                   FIND_FIRST_EX_LARGE_FETCH);
    if (find != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring_view name = data.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = root + L"\\" + data.cFileName;
            if (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) DeleteTreeBare(path);
            else if (!DeleteFileW(path.c_str())) throw std::runtime_error("cannot delete " + Utf8(path));
        } while (FindNextFileW(find, &data));
        FindClose(find);
    }
    if (!RemoveDirectoryW(root.c_str())) throw std::runtime_error("cannot remove " + Utf8(root));
}

bool FolderExists(const std::wstring& path) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

std::unique_ptr<RegistryProvider> ProfilingManagementService::GetRegistryProvider(const std::u16string& moniker) {
    if (!on_) return inner_->GetRegistryProvider(moniker);
    const int64_t start = Ticks();
    auto provider = inner_->GetRegistryProvider(moniker);
    ++profile_.connections;
    profile_.connectMs += TicksToMs(Ticks() - start);
    return std::make_unique<ProfilingProvider>(std::move(provider), profile_);
}

std::unique_ptr<ManagementServices> ProfilingManagementService::GetServices(const std::u16string& moniker) {
    if (!on_) return inner_->GetServices(moniker);
    const int64_t start = Ticks();
    auto services = inner_->GetServices(moniker);
    ++profile_.connections;
    profile_.connectMs += TicksToMs(Ticks() - start);
    return std::make_unique<ProfilingServices>(std::move(services), profile_);
}

std::string DescribeMachine() {
    std::string cpu = "unknown processor";
    wchar_t name[256];
    DWORD size = sizeof(name);
    if (RegGetValueW(HKEY_LOCAL_MACHINE, L"HARDWARE\\DESCRIPTION\\System\\CentralProcessor\\0",
                     L"ProcessorNameString", RRF_RT_REG_SZ, nullptr, name, &size) == ERROR_SUCCESS)
        cpu = Utf8(name);
    SYSTEM_INFO info{};
    GetNativeSystemInfo(&info);
    MEMORYSTATUSEX memory{};
    memory.dwLength = sizeof(memory);
    GlobalMemoryStatusEx(&memory);
    return cpu + ", " + std::to_string(info.dwNumberOfProcessors) + " logical processors, " +
           std::to_string((memory.ullTotalPhys + (1ull << 29)) >> 30) + " GB memory";
}

std::string DescribePlatform() {
    using WineVersionFn = const char*(__cdecl*)();
    HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    const auto wineVersion = ntdll ? reinterpret_cast<WineVersionFn>(
                                         reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")))
                                   : nullptr;
    if (wineVersion) return std::string("Wine ") + wineVersion();
    OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof(version);
#if defined(__GNUC__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
#endif
    GetVersionExW(&version);
#if defined(__GNUC__)
#pragma GCC diagnostic pop
#endif
    return "Windows " + std::to_string(version.dwMajorVersion) + "." + std::to_string(version.dwMinorVersion) +
           " build " + std::to_string(version.dwBuildNumber);
}

}  // namespace clearstrand::bench
