// The benchmark's model: the machine it seeds must be the one its figures
// claim (a tenth of the entries matching, every product node possible), and
// its sums and reports must say what was measured.

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

#include "bench_model.h"
#include "discovery/catalog.h"

namespace {

using namespace clearstrand;
using namespace clearstrand::bench;

// True when the entry would get a product node on the benchmark machine,
// where only the two matched releases (and the editor's category) exist
// besides the other catalog keys.
bool Matches(const SeedEntry& entry) {
    const catalog::VersionRow* row = catalog::MatchVersionRow(entry.displayName, entry.displayVersion);
    if (!row) return false;
    // Every release key is seeded, so every row with a release finds it.
    return !row->needsRelease || catalog::ReleaseFlag(row->parentKey).has_value();
}

TEST(BenchMachine, ATenthOfEveryMachineSizeMatchesAndTheRestDoNot) {
    size_t matching = 0;
    std::set<std::u16string> parents;
    for (size_t i = 0; i < 10000; ++i) {
        const SeedEntry entry = UninstallEntry(i);
        if (Matches(entry)) {
            ++matching;
            parents.insert(std::u16string(
                catalog::MatchVersionRow(entry.displayName, entry.displayVersion)->parentKey));
        }
        const size_t n = i + 1;
        if (n == 10 || n == 100 || n == 1000 || n == 10000) {
            EXPECT_EQ(matching, n / 10) << "N = " << n;
        }
    }
    // All three families are exercised, under the releases that are named.
    EXPECT_EQ(parents, (std::set<std::u16string>{kMatchedFlagshipRelease, kMatchedPlanoviewRelease, u"TML"}));
}

TEST(BenchMachine, EveryEntryHasItsOwnKeyAndDisplayNameAndAllThreeValues) {
    std::set<std::u16string> keys, names;
    for (size_t i = 0; i < 10000; ++i) {
        const SeedEntry entry = UninstallEntry(i);
        EXPECT_TRUE(keys.insert(entry.keyName).second) << i;
        // Product nodes are keyed by DisplayName: a repeated one would get no
        // node, and the tree would be smaller than the figures say.
        EXPECT_TRUE(names.insert(entry.displayName).second) << i;
        EXPECT_FALSE(entry.displayVersion.empty());
        EXPECT_FALSE(entry.installLocation.empty());
    }
    // No product name collides with a category or catalog key either.
    for (const auto& category : catalog::kCategories) EXPECT_EQ(names.count(std::u16string(category.key)), 0u);
    for (const auto& family : catalog::kFamilies)
        for (const auto release : family.releases) EXPECT_EQ(names.count(std::u16string(release)), 0u);
}

TEST(BenchSubtree, HasExactlyTheKeysAskedForEachBelowAParentMadeBeforeIt) {
    for (const size_t count : {1u, 10u, 11u, 1000u}) {
        const auto paths = SubtreePaths(u"SOFTWARE\\Tree", count);
        ASSERT_EQ(paths.size(), count);
        EXPECT_EQ(paths.front(), u"SOFTWARE\\Tree");
        std::set<std::u16string> seen{paths.front()};
        for (size_t i = 1; i < paths.size(); ++i) {
            const auto parent = paths[i].substr(0, paths[i].rfind(u'\\'));
            EXPECT_EQ(seen.count(parent), 1u) << "key " << i << " comes before its parent";
            EXPECT_TRUE(seen.insert(paths[i]).second) << "key " << i << " repeats";
        }
    }
    // A thousand keys, ten to a parent, are four levels deep: the deletion
    // recurses, it does not just walk a flat list.
    const auto paths = SubtreePaths(u"T", 1000);
    const auto depth = [](const std::u16string& p) { return std::count(p.begin(), p.end(), u'\\'); };
    EXPECT_EQ(depth(paths.back()), 3);
    EXPECT_TRUE(SubtreePaths(u"T", 0).empty());
}

TEST(BenchSums, MedianIsTheMiddleOfTheSortedValues) {
    EXPECT_EQ(Median({}), 0);
    EXPECT_EQ(Median({7}), 7);
    EXPECT_EQ(Median({9, 1, 5}), 5);
    EXPECT_EQ(Median({4, 1, 3, 2}), 2.5);
    EXPECT_EQ(Median({100, 1, 2}), 2);  // one slow run does not move it
}

Results SampleResults() {
    Results results;
    results.machine = "CPU \"X\" \\ 2 cores";
    results.platform = "Wine 8.0";
    results.population = {{100, 120, 40, 9, 10, 5},
                          {1000, 1020, 130, 7, 60, 25},
                          {10000, 10020, 1030, 5, 590, 240}};
    RemovalRow subtree;
    subtree.name = "DeleteRegistryKey, 1000-key subtree";
    subtree.floorName = "RegDeleteTreeW";
    subtree.size = 1000;
    subtree.ms = 600;
    subtree.floorMs = 100;
    results.removal = {subtree};
    StartupRow startup;
    startup.seeded = 1000;
    startup.readyMs = 1500;
    startup.peakWorkingSetMb = 40;
    results.startup = {startup};
    return results;
}

TEST(BenchTargets, EachTargetIsJudgedOnItsOwnRatioOrFigure) {
    const auto targets = JudgeTargets(SampleResults());
    ASSERT_EQ(targets.size(), 5u);
    EXPECT_DOUBLE_EQ(targets[0].measured, 60.0 / 25.0);  // population against its floor
    EXPECT_TRUE(targets[0].met());
    EXPECT_DOUBLE_EQ(targets[1].measured, 590.0 / 60.0);  // growth from N = 1,000 to 10,000
    EXPECT_TRUE(targets[1].met());
    EXPECT_DOUBLE_EQ(targets[2].measured, 6.0);  // subtree against RegDeleteTreeW
    EXPECT_FALSE(targets[2].met());
    EXPECT_TRUE(targets[3].met());   // 1.5 s to "Ready"
    EXPECT_FALSE(targets[4].met());  // 40 MB
}

TEST(BenchTargets, ATinyRunHasNoTargetToMeet) {
    Results tiny;
    tiny.tiny = true;
    tiny.population = {{10, 10, 27, 1, 50, 10}};
    RemovalRow subtree;
    subtree.size = 10;
    subtree.ms = 100;
    subtree.floorMs = 1;
    tiny.removal = {subtree};
    StartupRow startup;
    startup.seeded = 10;
    tiny.startup = {startup};
    EXPECT_TRUE(JudgeTargets(tiny).empty());
}

TEST(BenchReport, JsonEscapesTextAndKeepsLargeFiguresPlain) {
    Results results = SampleResults();
    results.removal[0].ms = 12345678.25;
    const std::string json = ToJson(results);
    EXPECT_NE(json.find(R"("machine": "CPU \"X\" \\ 2 cores")"), std::string::npos) << json;
    EXPECT_NE(json.find("\"ms\": 12345678.250"), std::string::npos) << json;
    EXPECT_NE(json.find("\"ratio\": 2.400"), std::string::npos) << json;  // 60 / 25 at N = 1,000
    EXPECT_EQ(std::count(json.begin(), json.end(), '{'), std::count(json.begin(), json.end(), '}'));
    EXPECT_EQ(std::count(json.begin(), json.end(), '['), std::count(json.begin(), json.end(), ']'));
}

TEST(BenchReport, TableShowsEveryRowAndMarksAMissedTarget) {
    Results results = SampleResults();
    results.targets = JudgeTargets(results);
    const std::string table = ToTable(results);
    for (const char* text : {"10000", "DeleteRegistryKey, 1000-key subtree", "RegDeleteTreeW", "6.00x", "MISSED",
                             "2.40x"})
        EXPECT_NE(table.find(text), std::string::npos) << text << "\n" << table;
}

}  // namespace
