// The benchmark: how long the user waits for a population, a taken node, an
// erase and the program's start, and what the program holds in memory, each
// against what the platform itself costs in the same run.
//
//   clearstrand_bench.exe --exe CLEARSTRAND_EXE --msi-dir DIR --out FILE.json
//                         [--table FILE.txt] [--tiny] [--erase] [--erase-in FOLDER]
//                         [--sizes N1,N2,...]
//
// It seeds the machine it runs on (the registry through the Win32 API, the
// installer products with msiexec), so it belongs in a prefix of its own.

#include <windows.h>

#include <commctrl.h>
#include <msi.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iostream>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/form1.h"
#include "bench_model.h"
#include "bench_platform.h"
#include "platform/errors.h"
#include "platform/windows/com_values.h"
#include "platform/windows/handles.h"
#include "platform/windows/main_window.h"
#include "platform/windows/system_library.h"
#include "platform/windows/win32_files.h"
#include "platform/windows/wmi_management.h"
#include "tools/program.h"

namespace {

using namespace clearstrand;
using namespace clearstrand::bench;

struct Options {
    bool tiny = false;
    bool eraseOnly = false;  // the folder erase alone, for a quick look at it
    std::wstring eraseIn = L"C:";  // where its trees are made
    std::vector<size_t> sizes;  // population sizes in place of the usual ones
    std::wstring exe;
    std::wstring msiDir;
    std::wstring out;
    std::wstring table;
};

struct Sizes {
    std::vector<size_t> population;  // N, growing
    size_t startupN;
    size_t products;                 // M, besides 0
    size_t subtreeKeys;
    size_t populationRuns(size_t n) const {
        if (removalRuns == 1) return 1;  // the tiny run
        return n >= 10000 ? 5 : n >= 1000 ? 7 : 9;
    }
    size_t removalRuns;
    size_t emptyStartupRuns;  // at N = 0, each paired with a bare window's start
    size_t startupRuns;
    size_t eraseFiles;
    size_t eraseFolders;
    size_t eraseRuns;
};

constexpr wchar_t kDeleteParent[] = L"SOFTWARE\\Clearstrand Bench";
constexpr wchar_t kDeleteRoot[] = L"SOFTWARE\\Clearstrand Bench\\Tree";
constexpr char16_t kAbsentKey[] = u"Clearstrand Bench Absent Key";
constexpr char16_t kAbsentProduct[] = u"Clearstrand Bench Absent Product";
constexpr size_t kEraseFileBytes = 1024;

// Message boxes never show during a benchmark; any that would is counted and
// makes the run a failure, since the figures would then include a wait.
class BenchShell final : public Shell {
public:
    int32_t MsgBox(const std::u16string& prompt, int32_t, const std::optional<std::u16string>&) override {
        if (!loading) unexpected.push_back(prompt);
        return kMsgBoxResultOk;
    }
    void End() override {}

    bool loading = true;  // the disclaimer is expected
    std::vector<std::u16string> unexpected;
};

// Handles what the controls posted (the tree's redraw after a bulk change):
// part of what the user waits for.
void PumpPending() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Form1 over the real services and the program's own window, created hidden.
class BenchForm {
public:
    BenchForm()
        : management_(win32::MakeWmiManagementService()),
          files_(win32::MakeWin32FileService()),
          window_(GetModuleHandleW(nullptr)) {
        window_.Create();
        form_.emplace(FormControls{window_.Command1(), window_.Command2(), window_.Command3(), window_.Label2(),
                                   window_.StatusBar1(), window_.TreeView1()},
                       FormServices{management_, *files_, shell_});
        form_->Form_Load();
        shell_.loading = false;
    }

    Form1& form() { return *form_; }
    ProfilingManagementService& management() { return management_; }
    void CheckNoMessageBox() const {
        if (!shell_.unexpected.empty())
            throw std::runtime_error("a message box or error report came up: " + ToUtf8(shell_.unexpected.front()));
    }

private:
    win32::ComInit com_{COINIT_APARTMENTTHREADED};
    ProfilingManagementService management_;
    std::unique_ptr<FileService> files_;
    BenchShell shell_;
    win32::MainWindow window_;
    std::optional<Form1> form_;
};

double TimeMs(const std::function<void()>& work) {
    const int64_t start = Ticks();
    work();
    return TicksToMs(Ticks() - start);
}

// The installer's library is loaded here, as the program loads it, so that
// the baseline process started from this exe does not have it.
size_t CountInstalledProducts() {
    const win32::SystemLibrary installer(L"msi.dll");
    decltype(&MsiEnumProductsW) enumProducts = nullptr;
    installer.Get(enumProducts, "MsiEnumProductsW");
    size_t count = 0;
    wchar_t code[39];
    while (enumProducts(static_cast<DWORD>(count), code) == ERROR_SUCCESS) ++count;
    return count;
}

std::wstring ProductFile(size_t index) {
    wchar_t name[64];
    swprintf(name, 64, L"bench_product_%02zu.msi", index);
    return name;
}

// ---- Population ------------------------------------------------------------------

PopulationRow MeasurePopulation(BenchForm& bench, size_t seeded, size_t runs) {
    Form1& form = bench.form();
    PopulationRow row;
    row.seeded = seeded;
    row.runs = runs;
    // One run of each first, uncounted: it loads the providers' libraries and
    // warms the registry's caches for both.
    row.entries = DirectPopulationReads(false);
    DirectPopulationReads(true);
    form.PopulateTreeview();
    PumpPending();

    std::vector<double> populate, floor, floorParent;
    for (size_t i = 0; i < runs; ++i) {
        // Interleaved, so that a change in the machine's load touches all
        // three alike.
        floor.push_back(TimeMs([&] { DirectPopulationReads(false); }));
        populate.push_back(TimeMs([&] {
            form.PopulateTreeview();
            PumpPending();
        }));
        floorParent.push_back(TimeMs([&] { DirectPopulationReads(true); }));
    }
    bench.CheckNoMessageBox();
    row.wmiMs = Median(populate);
    row.floorMs = Median(floor);
    row.floorParentMs = Median(floorParent);
    row.nodes = static_cast<size_t>(form.controls.TreeView1.Nodes().Count());

    bench.management().Start();
    const double total = TimeMs([&] {
        form.PopulateTreeview();
        PumpPending();
    });
    row.profile = bench.management().Stop();
    row.restMs = total - row.profile.connectMs - row.profile.ProviderMs();
    return row;
}

// ---- Removal ---------------------------------------------------------------------

void Profile(BenchForm& bench, RemovalRow& row, const std::function<void()>& work) {
    Form1& form = bench.form();
    Panel* const panel = form.statusPanel;
    TimedPanel timed(*panel);
    form.statusPanel = &timed;
    bench.management().Start();
    try {
        work();
    } catch (...) {
        form.statusPanel = panel;
        bench.management().Stop();
        throw;
    }
    row.profile = bench.management().Stop();
    form.statusPanel = panel;
    row.statusTexts = timed.texts;
    row.statusMs = TicksToMs(timed.ticks);
}

RemovalRow MeasureTakenNode(BenchForm& bench, std::string name, size_t size, size_t runs,
                            const std::function<void()>& work) {
    RemovalRow row;
    row.name = std::move(name);
    row.size = size;
    row.runs = runs;
    work();  // warm-up, uncounted
    std::vector<double> times;
    for (size_t i = 0; i < runs; ++i) times.push_back(TimeMs(work));
    bench.CheckNoMessageBox();
    row.ms = Median(times);
    Profile(bench, row, work);
    return row;
}

RemovalRow MeasureSubtreeDelete(BenchForm& bench, size_t keys, size_t runs) {
    Form1& form = bench.form();
    const std::u16string root(kDeleteRoot, kDeleteRoot + wcslen(kDeleteRoot));
    const auto deleteThroughForm = [&] {
        if (form.DeleteRegistryKey(kHiveLocalMachine, root) != 0 || KeyExists(HKEY_LOCAL_MACHINE, kDeleteRoot))
            throw std::runtime_error("DeleteRegistryKey left the benchmark subtree behind");
    };
    const auto deleteTree = [&] {
        win32::UniqueRegKey parent;
        if (RegOpenKeyExW(HKEY_LOCAL_MACHINE, kDeleteParent, 0, KEY_ALL_ACCESS | KEY_WOW64_32KEY, parent.put()) !=
            ERROR_SUCCESS)
            throw std::runtime_error("the benchmark subtree's parent is missing");
        const LSTATUS code = RegDeleteTreeW(parent.get(), L"Tree");
        if (code != ERROR_SUCCESS) throw std::runtime_error("RegDeleteTreeW failed");
    };

    RemovalRow row;
    row.name = "DeleteRegistryKey, " + std::to_string(keys) + "-key subtree";
    row.floorName = "RegDeleteTreeW";
    row.size = keys;
    row.runs = runs;
    std::vector<double> times, floor;
    for (size_t i = 0; i < runs; ++i) {
        SeedSubtree(kDeleteRoot, keys);
        floor.push_back(TimeMs(deleteTree));
        SeedSubtree(kDeleteRoot, keys);
        times.push_back(TimeMs(deleteThroughForm));
    }
    bench.CheckNoMessageBox();
    row.ms = Median(times);
    row.floorMs = Median(floor);
    SeedSubtree(kDeleteRoot, keys);
    Profile(bench, row, deleteThroughForm);
    DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE", L"Clearstrand Bench");
    return row;
}

// A program folder erased through Form1::EraseFolder and the real file
// service, against the bare loop on an identical tree seeded afresh for
// each run.
RemovalRow MeasureErase(BenchForm& bench, const std::wstring& in, size_t files, size_t folders, size_t runs) {
    Form1& form = bench.form();
    // Two trees of the same shape, with names of the same length.
    const std::wstring parent = in + L"\\Clearstrand Bench Erase";
    const std::wstring programRoot = parent + L"\\Eraser", floorRoot = parent + L"\\Floors";
    const std::u16string program(programRoot.begin(), programRoot.end());
    RemovalRow row;
    row.name = "EraseFolder, " + std::to_string(files) + " files in " + std::to_string(folders) + " folders";
    row.floorName = "bare Win32 loop";
    row.size = files;
    row.runs = runs;
    CreateDirectoryW(parent.c_str(), nullptr);
    for (const auto& left : {floorRoot, programRoot}) {  // by a run that failed
        if (FolderExists(left)) DeleteTreeBare(left);
    }
    const std::function<void()> erase = [&] {
        form.EraseFolder(program);
        if (FolderExists(programRoot)) throw std::runtime_error("EraseFolder left the benchmark tree behind");
    };
    const std::function<void()> bare = [&] { DeleteTreeBare(floorRoot); };
    // Each tree is seeded right before it is timed, and the two take turns
    // going first. One pair first, uncounted.
    const auto timed = [&](const std::wstring& root, const std::function<void()>& work) {
        SeedFileTree(root, files, folders, kEraseFileBytes);
        return TimeMs(work);
    };
    std::vector<double> times, floor;
    for (size_t i = 0; i <= runs; ++i) {
        const double first = i % 2 ? timed(programRoot, erase) : timed(floorRoot, bare);
        const double second = i % 2 ? timed(floorRoot, bare) : timed(programRoot, erase);
        if (i == 0) continue;
        floor.push_back(i % 2 ? second : first);
        times.push_back(i % 2 ? first : second);
        std::cerr << "  run " << i << ": bare loop " << floor.back() << " ms, EraseFolder " << times.back() << " ms"
                  << std::endl;
    }
    bench.CheckNoMessageBox();
    row.ms = Median(times);
    row.floorMs = Median(floor);
    RemoveDirectoryW(parent.c_str());
    return row;
}

// ---- Start-up --------------------------------------------------------------------

// Waits with a short step: the figure is in milliseconds.
template <typename F>
bool WaitShort(F done, int timeoutMs) {
    const int64_t end = Ticks() + static_cast<int64_t>(timeoutMs / TicksToMs(1));
    while (!done()) {
        if (Ticks() > end) return false;
        Sleep(1);
    }
    return true;
}

struct StartupRun {
    double windowMs;
    double readyMs;
    double disclaimerMs;
    double peakMb;
};

StartupRun MeasureOneStartup(const std::wstring& exe) {
    const int64_t start = Ticks();
    driver::Process process(L"\"" + exe + L"\"");
    const DWORD pid = process.Id();
    HWND box = nullptr;
    if (!WaitShort([&] { return (box = driver::FindTopWindow(pid, L"#32770", L"Clearstrand")) != nullptr; }, 30000))
        throw std::runtime_error("the disclaimer did not come up");
    // The disclaimer was up from before it was seen to after it was answered;
    // taking out only the stretch between the two leaves the figure a little
    // high, never low.
    const int64_t seen = Ticks();
    PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(box, IDOK)));
    const int64_t answered = Ticks();

    HWND window = nullptr;
    if (!WaitShort([&] { return (window = driver::FindTopWindow(pid, win32::kWindowClass)) != nullptr; }, 30000))
        throw std::runtime_error("the main window did not come up");
    const int64_t shown = Ticks();
    HWND tree = GetDlgItem(window, win32::kTreeView1Id);
    HWND status = GetDlgItem(window, win32::kStatusBar1Id);
    // "Ready" shows once before the first population as well: the tree is
    // read first, so a filled tree and "Ready" after it mean the population
    // has ended (meanwhile the text reads "Working..."). The text's length
    // tells the two apart without reaching into the program's memory.
    const auto ready = [&] {
        return SendMessageW(tree, TVM_GETCOUNT, 0, 0) > 0 &&
               LOWORD(SendMessageW(status, SB_GETTEXTLENGTHW, 1, 0)) == std::u16string_view(kReady).size();
    };
    if (!WaitShort(ready, 60000)) throw std::runtime_error("the program did not reach \"Ready\"");
    const int64_t readyAt = Ticks();

    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    if (!GetProcessMemoryInfo(process.Handle(), &memory, sizeof(memory))) memory.PeakWorkingSetSize = 0;

    PostMessageW(GetDlgItem(window, win32::kCommand3Id), BM_CLICK, 0, 0);
    if (!process.WaitForExit(std::chrono::seconds(10))) throw std::runtime_error("Cancel did not end the program");
    const double disclaimerMs = TicksToMs(answered - seen);
    return {TicksToMs(shown - start) - disclaimerMs, TicksToMs(readyAt - start) - disclaimerMs, disclaimerMs,
            static_cast<double>(memory.PeakWorkingSetSize) / (1024.0 * 1024.0)};
}

// The bare window process (bench/bare_window.cpp): from just before
// CreateProcessW to its window shown and its messages handled.
double MeasureBareWindow(const std::wstring& exe) {
    const int64_t start = Ticks();
    driver::Process process(L"\"" + exe + L"\"");
    HWND window = nullptr;
    if (!WaitShort([&] { return (window = driver::FindTopWindow(process.Id(), nullptr)) != nullptr; }, 30000))
        throw std::runtime_error("the bare window did not come up");
    DWORD_PTR answer = 0;
    if (!SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, 30000, &answer))
        throw std::runtime_error("the bare window does not answer");
    const int64_t shown = Ticks();
    PostMessageW(window, WM_CLOSE, 0, 0);
    if (!process.WaitForExit(std::chrono::seconds(10))) throw std::runtime_error("the bare window did not end");
    return TicksToMs(shown - start);
}

// ---- Baseline process -------------------------------------------------------------

constexpr wchar_t kProbeClass[] = L"ClearstrandBenchProbe";

// The probe: this program started with --probe. It loads what clearstrand.exe
// loads before "Ready" (the common controls and a WMI connection; the
// installer's library comes later) and shows a window, so that its working
// set is what the platform costs before the program holds anything of its own.
int RunProbe() {
    win32::ComInit com(COINIT_APARTMENTTHREADED);
    WNDCLASSEXW wc{};
    wc.cbSize = sizeof(wc);
    wc.lpfnWndProc = [](HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
        if (message == WM_DESTROY) PostQuitMessage(0);
        return DefWindowProcW(hwnd, message, wParam, lParam);
    };
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = kProbeClass;
    RegisterClassExW(&wc);
    HWND hwnd = CreateWindowExW(0, kProbeClass, L"probe", WS_OVERLAPPEDWINDOW, 0, 0, 527, 501, nullptr, nullptr,
                                wc.hInstance, nullptr);
    CreateWindowExW(0, WC_TREEVIEWW, L"", WS_CHILD | WS_VISIBLE | TVS_CHECKBOXES, 0, 0, 400, 300, hwnd, nullptr,
                    wc.hInstance, nullptr);
    CreateWindowExW(0, STATUSCLASSNAMEW, L"", WS_CHILD | WS_VISIBLE, 0, 0, 0, 0, hwnd, nullptr, wc.hInstance,
                    nullptr);
    auto management = win32::MakeWmiManagementService();
    std::vector<std::u16string> names;
    management->GetRegistryProvider(std::u16string(kRegistryMoniker))
        ->EnumKey(kHiveCurrentUser, u"SOFTWARE", names);
    ShowWindow(hwnd, SW_SHOW);
    MSG msg;
    while (GetMessageW(&msg, nullptr, 0, 0) > 0) DispatchMessageW(&msg);
    return 0;
}

double MeasureBaselineWorkingSet(const std::wstring& self) {
    driver::Process process(L"\"" + self + L"\" --probe");
    HWND window = nullptr;
    if (!WaitShort([&] { return (window = driver::FindTopWindow(process.Id(), kProbeClass)) != nullptr; }, 30000))
        throw std::runtime_error("the baseline probe did not come up");
    Sleep(200);  // let it paint, as the program has by "Ready"
    PROCESS_MEMORY_COUNTERS memory{};
    memory.cb = sizeof(memory);
    if (!GetProcessMemoryInfo(process.Handle(), &memory, sizeof(memory))) memory.PeakWorkingSetSize = 0;
    PostMessageW(window, WM_CLOSE, 0, 0);
    process.WaitForExit(std::chrono::seconds(10));
    return static_cast<double>(memory.PeakWorkingSetSize) / (1024.0 * 1024.0);
}

// The program started `runs` times on the machine as it is. With a bare
// window process, each start is paired with one of it, the two taking turns
// going first, after one pair uncounted; with `baseline`, the baseline
// process's working set is read once afterwards.
StartupRow MeasureStartup(const std::wstring& exe, size_t seeded, size_t runs, const std::wstring& bareWindow,
                          bool baseline) {
    StartupRow row;
    row.seeded = seeded;
    row.runs = runs;
    const bool paired = !bareWindow.empty();
    std::vector<double> window, ready, disclaimer, bare;
    for (size_t i = paired ? 0 : 1; i <= runs; ++i) {
        const bool bareFirst = paired && i % 2 == 0;
        const double bareBefore = bareFirst ? MeasureBareWindow(bareWindow) : -1;
        const StartupRun run = MeasureOneStartup(exe);
        const double bareMs = !paired || bareFirst ? bareBefore : MeasureBareWindow(bareWindow);
        if (i == 0) continue;
        window.push_back(run.windowMs);
        ready.push_back(run.readyMs);
        disclaimer.push_back(run.disclaimerMs);
        row.peakWorkingSetMb = std::max(row.peakWorkingSetMb, run.peakMb);
        if (paired) {
            bare.push_back(bareMs);
            std::cerr << "  run " << i << ": bare window " << bareMs << " ms, to Ready " << run.readyMs << " ms"
                      << std::endl;
        }
    }
    row.windowMs = Median(window);
    row.readyMs = Median(ready);
    row.disclaimerMs = Median(disclaimer);
    if (paired) row.bareWindowMs = Median(bare);
    if (baseline) {
        wchar_t self[MAX_PATH];
        GetModuleFileNameW(nullptr, self, MAX_PATH);
        row.baselineWorkingSetMb = MeasureBaselineWorkingSet(self);
    }
    return row;
}

// The bare window process, beside this program.
std::wstring BareWindowExe() {
    wchar_t self[MAX_PATH];
    const DWORD length = GetModuleFileNameW(nullptr, self, MAX_PATH);
    std::wstring path(self, length);
    path.resize(path.find_last_of(L'\\') + 1);
    path += L"clearstrand_bench_window.exe";
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES)
        throw std::runtime_error("no bare window process beside the benchmark: " + Utf8(path));
    return path;
}

// ---- The run ---------------------------------------------------------------------

void Log(const std::string& text) {
    std::cerr << text << std::endl;
}

Results Run(const Options& options) {
    Sizes sizes = options.tiny ? Sizes{{10}, 10, 1, 10, 1, 1, 1, 100, 10, 1}
                               : Sizes{{100, 1000, 10000}, 1000, 20, 1000, 9, 5, 3, 10000, 500, 3};
    if (!options.sizes.empty()) sizes.population = options.sizes;
    Results results;
    results.tiny = options.tiny;
    results.machine = DescribeMachine();
    results.platform = DescribePlatform();

    // A machine of our own making: what an earlier run left goes first.
    const size_t largest = sizes.population.back();
    RemoveUninstallEntries(largest);
    DeleteTree(HKEY_LOCAL_MACHINE, L"SOFTWARE", L"Clearstrand Bench");
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) {
        RemoveCatalogKeys(hive);
        SeedCatalogKeys(hive);
    }

    BenchForm bench;
    const auto erase = [&] {
        Log("removal: erasing " + std::to_string(sizes.eraseFiles) + " files");
        results.removal.push_back(
            MeasureErase(bench, options.eraseIn, sizes.eraseFiles, sizes.eraseFolders, sizes.eraseRuns));
    };
    if (options.eraseOnly) {
        erase();
        results.targets = JudgeTargets(results);
        return results;
    }
    if (!options.exe.empty()) {
        Log("start-up, N = 0, in turn with a bare window");
        results.startup.push_back(MeasureStartup(options.exe, 0, sizes.emptyStartupRuns, BareWindowExe(), false));
    }
    size_t seeded = 0;
    for (const size_t n : sizes.population) {
        Log("seeding " + std::to_string(n) + " uninstall entries");
        SeedUninstallEntries(seeded, n);
        seeded = n;
        Log("population, N = " + std::to_string(n));
        results.population.push_back(MeasurePopulation(bench, n, sizes.populationRuns(n)));
        if (n == sizes.startupN && !options.exe.empty()) {
            Log("start-up, N = " + std::to_string(n));
            results.startup.push_back(MeasureStartup(options.exe, n, sizes.startupRuns, {}, true));
        }
    }

    Form1& form = bench.form();
    Log("removal: a key found nowhere");
    results.removal.push_back(MeasureTakenNode(bench, "CheckRegistryKey, key found nowhere", 0, sizes.removalRuns,
                                               [&] { form.CheckRegistryKey(kAbsentKey); }));
    const auto checkSoftware = [&] {
        results.removal.push_back(MeasureTakenNode(
            bench, "CheckSoftwareInstall, M = " + std::to_string(CountInstalledProducts()) + ", no match",
            CountInstalledProducts(), sizes.removalRuns, [&] { form.CheckSoftwareInstall(kAbsentProduct); }));
    };
    Log("removal: no product of that name, M = " + std::to_string(CountInstalledProducts()));
    checkSoftware();
    if (!options.msiDir.empty()) {
        Log("installing " + std::to_string(sizes.products) + " products");
        for (size_t i = 1; i <= sizes.products; ++i) {
            const std::wstring msi = options.msiDir + L"\\" + ProductFile(i);
            if (driver::Run(L"msiexec /i \"" + msi + L"\" /qn") != 0)
                throw std::runtime_error("msiexec could not install " + Utf8(msi));
        }
        Log("removal: no product of that name, M = " + std::to_string(CountInstalledProducts()));
        checkSoftware();
    }
    Log("removal: a " + std::to_string(sizes.subtreeKeys) + "-key subtree");
    results.removal.push_back(MeasureSubtreeDelete(bench, sizes.subtreeKeys, sizes.removalRuns > 1 ? 5 : 1));
    erase();

    // Leave the machine's registry as it was found; the products stay.
    RemoveUninstallEntries(largest);
    for (HKEY hive : {HKEY_LOCAL_MACHINE, HKEY_CURRENT_USER}) RemoveCatalogKeys(hive);

    results.targets = JudgeTargets(results);
    return results;
}

std::optional<Options> ParseOptions(int argc, wchar_t** argv) {
    Options options;
    for (int i = 1; i < argc; ++i) {
        const std::wstring arg = argv[i];
        const auto value = [&]() -> std::wstring {
            if (i + 1 >= argc) throw std::runtime_error("missing value after " + Utf8(arg));
            return driver::WindowsPath(argv[++i]);
        };
        if (arg == L"--tiny") options.tiny = true;
        else if (arg == L"--erase") options.eraseOnly = true;
        else if (arg == L"--erase-in") options.eraseIn = value();
        else if (arg == L"--exe") options.exe = value();
        else if (arg == L"--msi-dir") options.msiDir = value();
        else if (arg == L"--out") options.out = value();
        else if (arg == L"--table") options.table = value();
        else if (arg == L"--sizes") {
            // "100,1000": for a quick look at a few sizes.
            std::wstring list = value();
            for (size_t at = 0; at < list.size();) {
                const size_t comma = std::min(list.find(L',', at), list.size());
                options.sizes.push_back(std::stoul(list.substr(at, comma - at)));
                at = comma + 1;
            }
            std::sort(options.sizes.begin(), options.sizes.end());
        }
        else return std::nullopt;
    }
    if (options.out.empty()) return std::nullopt;
    return options;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        INITCOMMONCONTROLSEX controls{sizeof(controls),
                                      ICC_TREEVIEW_CLASSES | ICC_BAR_CLASSES | ICC_STANDARD_CLASSES};
        InitCommonControlsEx(&controls);
        if (argc == 2 && std::wstring(argv[1]) == L"--probe") return RunProbe();

        const auto options = ParseOptions(argc, argv);
        if (!options) {
            std::cerr << "usage: clearstrand_bench --out FILE.json [--table FILE.txt] [--exe CLEARSTRAND_EXE]\n"
                         "                         [--msi-dir DIR] [--tiny] [--erase] [--erase-in FOLDER]\n"
                         "                         [--sizes N1,N2,...]\n";
            return 2;
        }
        const Results results = Run(*options);
        const std::string table = ToTable(results);
        std::cout << table;
        std::ofstream(options->out.c_str(), std::ios::binary) << ToJson(results);
        if (!options->table.empty()) std::ofstream(options->table.c_str(), std::ios::binary) << table;
        return 0;
    } catch (const std::exception& e) {
        std::cerr << "benchmark failed: " << e.what() << std::endl;
        return 1;
    }
}
