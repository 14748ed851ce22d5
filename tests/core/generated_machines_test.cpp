// Population over thousands of random registries: the tree and
// installedProducts must be what the catalog rules say, and hold their
// invariants, whatever the machine holds. Replay one machine with
// CLEARSTRAND_SEED=<seed>.

#include <chrono>
#include <cstdlib>
#include <functional>
#include <iostream>
#include <string>

#include <gtest/gtest.h>

#include "memory/memory_controls.h"
#include "core/machine_generator.h"

namespace clearstrand {
namespace {

using testing::ExpectedNode;

// Population of this registry matches the oracle and keeps the invariants,
// and a second run (Refresh) builds the same again.
void CheckPopulation(MemoryPlatform& platform) {
    const auto expected = testing::ExpectPopulation(platform.registry);
    for (int run = 1; run <= 2; ++run) {
        SCOPED_TRACE("population run " + std::to_string(run));
        ASSERT_NO_THROW(platform.form().PopulateTreeview());
        const auto actual = testing::ActualNodes(platform.tree);
        EXPECT_EQ(actual, expected.nodes);
        EXPECT_EQ(platform.form().installedProducts, expected.rows);
        for (const auto& problem :
             testing::CheckInvariants(platform.tree, platform.form().installedProducts, platform.registry)) {
            ADD_FAILURE() << problem;
        }
        if (!expected.rows.empty()) {
            // The holders keep the last row.
            const ProductRow& last = expected.rows.back();
            EXPECT_EQ(platform.form().entryKeyName, last[0]);
            EXPECT_EQ(platform.form().displayName, last[1]);
            EXPECT_EQ(platform.form().displayVersion, last[2]);
            EXPECT_EQ(platform.form().installLocation, last[3]);
        }
    }
}

uint64_t BaseSeed() {
    if (const char* seed = std::getenv("CLEARSTRAND_SEED")) return std::strtoull(seed, nullptr, 10);
    return 20240601;
}

TEST(GeneratedMachines, PopulationMatchesTheCatalogRulesOnRandomRegistries) {
    const bool replay = std::getenv("CLEARSTRAND_SEED") != nullptr;
    const int machines = replay ? 1 : 2000;
    const auto start = std::chrono::steady_clock::now();
    size_t entries = 0, nodes = 0, keys = 0;
    for (int i = 0; i < machines; ++i) {
        const uint64_t seed = BaseSeed() + static_cast<uint64_t>(i);
        SCOPED_TRACE("seed " + std::to_string(seed) + " (replay with CLEARSTRAND_SEED=" + std::to_string(seed) + ")");
        testing::MachineGenerator generator(seed);
        // Every other machine has entries that match its release keys, every
        // third near-miss names beside its catalog keys.
        const testing::Machine machine =
            generator.Generate({.files = false, .coherent = i % 2 == 1, .decoys = i % 3 == 0});
        MemoryPlatform platform;
        testing::Apply(machine, platform.registry, platform.installer, platform.files);
        CheckPopulation(platform);
        entries += platform.form().installedProducts.size();
        nodes += static_cast<size_t>(platform.tree.Nodes().Count());
        keys += machine.keys.size();
        if (::testing::Test::HasFailure()) break;  // one machine's report is enough
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::cout << "generated machines: " << machines << " machines, " << keys << " keys, " << entries
              << " uninstall entries, " << nodes << " nodes, " << ms.count() << " ms" << std::endl;
}

// Hand-made machines for the cases most likely to break population.
struct HostileCase {
    const char* name;
    std::function<void(MemoryRegistry&)> build;
};

void Entry(MemoryRegistry& r, const std::u16string& entry, const std::u16string& name, const std::u16string& version,
           const std::u16string& location = u"C:\\Program Files\\X") {
    const std::u16string path = testing::kUninstallRoot + u"\\" + entry;
    r.SetString(kHiveLocalMachine, path, u"DisplayName", name);
    r.SetString(kHiveLocalMachine, path, u"DisplayVersion", version);
    r.SetString(kHiveLocalMachine, path, u"InstallLocation", location);
}

const std::vector<HostileCase>& HostileCases() {
    static const std::vector<HostileCase> cases = {
        {"empty registry", [](MemoryRegistry&) {}},
        {"uninstall root without entries",
         [](MemoryRegistry& r) { r.CreateKey(kHiveLocalMachine, testing::kUninstallRoot); }},
        {"DisplayName equal to each category key",
         [](MemoryRegistry& r) {
             r.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\Veltramark 2005");
             for (const auto& key : testing::kCategoryKeys) Entry(r, u"e" + key, key, u"13.0");
         }},
        {"Tracemill entry named Root, TML, registry",
         [](MemoryRegistry& r) {
             Entry(r, u"a", u"Root", u"13.0");
             Entry(r, u"b", u"TML", u"13.0");
             Entry(r, u"c", u"Tracemill", u"13.0");
             Entry(r, u"d", u"Tracemill", u"14.0");
         }},
        {"DisplayName equal to its own release key",
         [](MemoryRegistry& r) {
             r.CreateKey(kHiveCurrentUser, u"SOFTWARE\\Veltramark\\Veltramark 2005");
             Entry(r, u"a", u"Veltramark 2005", u"13.0");
             Entry(r, u"b", u"Veltramark 2005 SP1", u"13.0");
         }},
        {"DisplayName equal to a miscellaneous key that is present",
         [](MemoryRegistry& r) {
             r.CreateKey(kHiveLocalMachine, u"SOFTWARE\\KTRN");
             r.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Planoview\\p2005");
             Entry(r, u"a", u"KTRN", u"5.0");
             Entry(r, u"b", u"Planoview", u"5.0");
         }},
        {"DisplayNames shorter than nine characters and empty",
         [](MemoryRegistry& r) {
             r.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\Veltramark 2005");
             Entry(r, u"a", u"", u"13.0");
             Entry(r, u"b", u"Veltrama", u"13.0");
             Entry(r, u"c", u"V", u"");
             Entry(r, u"d", u"Veltramar", u"13");
         }},
        {"surrogate pair across the ninth code unit",
         [](MemoryRegistry& r) {
             r.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\Veltramark 2005");
             Entry(r, u"a", u"Veltrama\U0001F600", u"13.0");
             Entry(r, u"b", u"Veltramar\U0001F600", u"13.0");
             Entry(r, u"c", u"Planoview\xD800", u"5\xDC00");
         }},
        {"names of 255 characters",
         [](MemoryRegistry& r) {
             const std::u16string tail(240, u'\u00e9');
             r.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\Veltramark 2005" + tail);
             r.CreateKey(kHiveLocalMachine, u"SOFTWARE\\KTRN" + tail);
             r.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\Veltramark 2003");
             Entry(r, std::u16string(255, u'z'), u"Veltramark" + std::u16string(5000, u'q'), u"11" + tail);
         }},
        {"the same key in both hives and in other case",
         [](MemoryRegistry& r) {
             for (int32_t hive : {kHiveLocalMachine, kHiveCurrentUser}) {
                 r.CreateKey(hive, u"SOFTWARE\\QBEL");
                 r.CreateKey(hive, u"SOFTWARE\\Planoview\\p2001");
             }
             r.CreateKey(kHiveCurrentUser, u"SOFTWARE\\qbel ");
             r.CreateKey(kHiveCurrentUser, u"SOFTWARE\\castwell");
             r.CreateKey(kHiveCurrentUser, u"Software\\Planoview\\P2002");
             Entry(r, u"a", u"Planoview 2001", u"1.4");
             Entry(r, u"b", u"Planoview 2001", u"1.5");
         }},
        {"containers in other case and keys at wrong depths",
         [](MemoryRegistry& r) {
             r.CreateKey(kHiveLocalMachine, u"SOFTWARE\\veltramark\\Veltramark 2005");
             r.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Veltramark 2005");
             r.CreateKey(kHiveCurrentUser, u"SOFTWARE\\Planoview\\Shared\\p2005");
             r.CreateKey(kHiveCurrentUser, u"KTRN");
             r.CreateKey(kHiveCurrentUser, u"SOFTWARE\\Veltramark\\KTRN");
             Entry(r, u"a", u"Veltramark 2005 SP1", u"13.0");
         }},
        {"values of other types and missing values",
         [](MemoryRegistry& r) {
             r.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\Veltramark 2004");
             const std::u16string path = testing::kUninstallRoot + u"\\a";
             r.SetDword(kHiveLocalMachine, path, u"DisplayName", 12);
             r.SetString(kHiveLocalMachine, path, u"DisplayVersion", u"12.0");
             r.SetString(kHiveLocalMachine, testing::kUninstallRoot + u"\\b", u"DisplayName", u"Veltramark 2004");
             r.SetString(kHiveLocalMachine, testing::kUninstallRoot + u"\\c", u"DisplayName", u"Veltramark X");
             r.SetDword(kHiveLocalMachine, testing::kUninstallRoot + u"\\c", u"DisplayVersion", 12);
             r.CreateKey(kHiveLocalMachine, testing::kUninstallRoot + u"\\d");
         }},
        {"a value read that raises leaves only that holder empty",
         [](MemoryRegistry& r) {
             r.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\Veltramark 2006");
             Entry(r, u"a", u"Veltramark 2006", u"14.0", u"C:\\A");
             Entry(r, u"b", u"Veltramark 2006 SP2", u"14.0", u"C:\\B");
             r.FailCall("GetStringValue -2147483646 " + ToUtf8(testing::kUninstallRoot) + "\\b InstallLocation");
             r.FailCall("GetStringValue -2147483646 " + ToUtf8(testing::kUninstallRoot) + "\\a DisplayName");
         }},
        {"every release of both families, no entries",
         [](MemoryRegistry& r) {
             for (const auto& n : testing::kFlagshipReleases) r.CreateKey(kHiveCurrentUser, u"SOFTWARE\\Veltramark\\" + n);
             for (const auto& n : testing::kPlanoviewReleases) r.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Planoview\\" + n);
             for (const auto& n : testing::kMiscKeys) r.CreateKey(kHiveCurrentUser, u"SOFTWARE\\" + n);
         }},
        {"a key named like a container holds a key named like itself",
         [](MemoryRegistry& r) {
             r.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\Veltramark");
             r.CreateKey(kHiveLocalMachine, u"SOFTWARE\\Planoview\\Planoview");
             Entry(r, u"a", u"Veltramark", u"13.0");
         }},
    };
    return cases;
}

TEST(GeneratedMachines, HostileRegistriesKeepThePopulationRules) {
    for (const auto& hostile : HostileCases()) {
        SCOPED_TRACE(hostile.name);
        MemoryPlatform platform;
        hostile.build(platform.registry);
        CheckPopulation(platform);
    }
    std::cout << "hostile registries: " << HostileCases().size() << " cases" << std::endl;
}

// The oracle must see what it claims to: a few fixed points, so that a
// broken oracle cannot agree with a broken population.
TEST(GeneratedMachines, OracleKnowsTheCatalogRules) {
    MemoryRegistry r;
    r.CreateKey(kHiveCurrentUser, u"SOFTWARE\\Veltramark\\Veltramark 2005");
    r.CreateKey(kHiveLocalMachine, u"SOFTWARE\\KTRN");
    r.CreateKey(kHiveCurrentUser, u"SOFTWARE\\KTRN");
    Entry(r, u"1", u"Veltramark 2005 SP0.0", u"13.0.1");
    Entry(r, u"2", u"Veltramark 2002 SP1", u"11.0");
    Entry(r, u"3", u"Tracemill 13", u"13.2");
    const auto expected = testing::ExpectPopulation(r);
    const std::vector<ExpectedNode> nodes = {
        {u"Root", u"All Veltramark Software", u"", true, true},
        {u"registry", u"Miscellaneous Registry Keys", u"Root", true, true},
        {u"VT", u"Veltramark", u"Root", true, true},
        {u"TML", u"Tracemill", u"Root", true, true},
        {u"KTRN", u"KTRN", u"registry", false, false},
        {u"Veltramark 2005", u"Veltramark 2005 (registry key)", u"VT", true, false},
        {u"Veltramark 2005 SP0.0", u"Veltramark 2005 SP0.0", u"Veltramark 2005", false, false},
        {u"Tracemill 13", u"Tracemill 13", u"TML", false, false},
    };
    EXPECT_EQ(expected.nodes, nodes);
    ASSERT_EQ(expected.rows.size(), 3u);
    EXPECT_EQ(expected.rows[1][1], u"Veltramark 2002 SP1");
}

}  // namespace
}  // namespace clearstrand
