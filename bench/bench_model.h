#pragma once

// The portable half of the benchmark: what machine it builds, how it sums up
// its timings and how it writes them. Nothing here touches the platform.

#include <cstddef>
#include <string>
#include <vector>

namespace clearstrand::bench {

// One uninstall entry as it is written to the registry.
struct SeedEntry {
    std::u16string keyName;
    std::u16string displayName;
    std::u16string displayVersion;
    std::u16string installLocation;
};

// Entry `index` of a benchmark machine. Every tenth entry matches a catalog
// rule (flagship, Planoview and editor in turn); the others match none. Each
// entry depends on its index only, so a machine grows from N to 10 N by
// adding the entries N..10 N - 1.
SeedEntry UninstallEntry(size_t index);

// The release keys whose presence the matching entries need.
inline constexpr char16_t kMatchedFlagshipRelease[] = u"Veltramark 2005";
inline constexpr char16_t kMatchedPlanoviewRelease[] = u"p2003";

// Paths of a subtree of exactly `count` keys below and including `root`,
// parents before children: ten children per key, filled level by level.
std::vector<std::u16string> SubtreePaths(const std::u16string& root, size_t count);

// The middle value (mean of the two middle ones for an even count); 0 for
// none.
double Median(std::vector<double> values);

// ---- Results ------------------------------------------------------------------

// What one profiled run passed through the management service: each
// connection and call counted and timed.
struct CallProfile {
    size_t connections = 0;
    double connectMs = 0;  // making and dropping them
    size_t enumKeyCalls = 0;
    double enumKeyMs = 0;
    size_t getStringValueCalls = 0;
    double getStringValueMs = 0;
    size_t deleteKeyCalls = 0;
    double deleteKeyMs = 0;
    size_t queryCalls = 0;
    double queryMs = 0;

    size_t ProviderCalls() const { return enumKeyCalls + getStringValueCalls + deleteKeyCalls + queryCalls; }
    double ProviderMs() const { return enumKeyMs + getStringValueMs + deleteKeyMs + queryMs; }
};

struct PopulationRow {
    size_t seeded = 0;         // N, the entries the benchmark wrote
    size_t entries = 0;        // uninstall entries the machine has, ours and Wine's
    size_t nodes = 0;          // tree nodes after a run
    size_t runs = 0;
    double wmiMs = 0;          // PopulateTreeview, median
    double floorMs = 0;        // the same listings and reads through the Win32 API, median
    double floorParentMs = 0;  // the same, reading each entry through one open parent key
    // One separately profiled run: where PopulateTreeview's time goes.
    CallProfile profile;
    double restMs = 0;         // tree control, core and message pumping
};

struct RemovalRow {
    std::string name;          // what was measured
    std::string floorName;     // the direct-API counterpart, if any
    size_t size = 0;           // M products, or keys in the subtree
    size_t runs = 0;
    double ms = 0;             // median
    double floorMs = -1;       // the direct-API figure, when there is one
    // One separately profiled run.
    CallProfile profile;
    size_t statusTexts = 0;
    double statusMs = 0;
};

struct StartupRow {
    size_t seeded = 0;
    size_t runs = 0;
    // Medians from process creation, disclaimer time taken out.
    double windowMs = 0;           // to the main window shown
    double readyMs = 0;            // to "Ready" after the first population
    double disclaimerMs = 0;       // median time the disclaimer was up (as seen)
    double peakWorkingSetMb = 0;   // largest of the runs
    // A bare window process started in turn with the program: median from
    // process creation to its window shown; -1 when not measured.
    double bareWindowMs = -1;
    // A process that loads what the program needs (a window, the common
    // controls, a WMI connection, the installer) and does nothing else; -1
    // when not measured.
    double baselineWorkingSetMb = -1;
};

// A figure and its limit; `basis` shows the figures it was made from.
struct Target {
    std::string name;
    double measured = 0;
    double limit = 0;
    std::string unit;
    std::string basis;
    bool met() const { return measured <= limit; }
};

struct Results {
    std::string machine;           // CPU, cores, memory as the program sees them
    std::string platform;          // Windows version string or Wine's
    bool tiny = false;
    std::vector<PopulationRow> population;
    std::vector<RemovalRow> removal;
    std::vector<StartupRow> startup;
    std::vector<Target> targets;
};

// The targets that these results can be judged against (sizes that were
// not run give no target). Each is judged against what the platform costs
// in the same run.
std::vector<Target> JudgeTargets(const Results& results);

std::string ToJson(const Results& results);
std::string ToTable(const Results& results);

}  // namespace clearstrand::bench
