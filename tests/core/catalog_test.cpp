#include <gtest/gtest.h>

#include <set>
#include <string>

#include "discovery/catalog.h"

namespace clearstrand::catalog {
namespace {

std::u16string ParentFor(std::u16string_view name, std::u16string_view version) {
    const VersionRow* row = MatchVersionRow(name, version);
    return row ? std::u16string(row->parentKey) : u"<none>";
}

TEST(Catalog, FlagshipEntriesMatchByNinePrefixCharactersAndTwoVersionCharacters) {
    EXPECT_EQ(ParentFor(u"Veltramark 2005 SP0.0", u"13.0.1"), u"Veltramark 2005");
    // Only nine characters count, so a different product word still matches.
    EXPECT_EQ(ParentFor(u"Veltramarine Tools", u"13.0"), u"Veltramark 2005");
    EXPECT_EQ(ParentFor(u"Veltramark", u"10.0"), u"Veltramark 2001Plus");
    // 11 leads to 2003; nothing leads to 2002.
    EXPECT_EQ(ParentFor(u"Veltramark 2003", u"11.0"), u"Veltramark 2003");
    EXPECT_EQ(ParentFor(u"Veltramark", u"15"), u"Veltramark 2007");
    // A version shorter than the prefix is its own prefix.
    EXPECT_EQ(ParentFor(u"Veltramark 2001", u"9"), u"<none>");
    EXPECT_EQ(ParentFor(u"Veltramark 2001", u"9.0"), u"Veltramark 2001");
    EXPECT_EQ(ParentFor(u"Veltramark 2001", u""), u"<none>");
    EXPECT_EQ(ParentFor(u"Veltramark 2001", u"16.0"), u"<none>");
    // Exact letter case, and a name shorter than the prefix never matches.
    EXPECT_EQ(ParentFor(u"veltramark 2005", u"13.0"), u"<none>");
    EXPECT_EQ(ParentFor(u"Veltrama", u"13.0"), u"<none>");
    EXPECT_EQ(ParentFor(u"", u"13.0"), u"<none>");
}

TEST(Catalog, PlanoviewAndEditorRows) {
    EXPECT_EQ(ParentFor(u"Planoview 1.4", u"1.4"), u"p2001");
    EXPECT_EQ(ParentFor(u"Planoview", u"2.0"), u"p2001Plus");
    EXPECT_EQ(ParentFor(u"Planoview", u"7.9"), u"p2007");
    EXPECT_EQ(ParentFor(u"Planoview", u"10.1"), u"<none>");  // "10" is a flagship prefix only
    EXPECT_EQ(ParentFor(u"Planoview", u"13.0"), u"<none>");
    EXPECT_EQ(ParentFor(u"Tracemill 2005", u"13.2"), u"TML");
    EXPECT_EQ(ParentFor(u"Tracemill", u"15.0"), u"TML");
    EXPECT_EQ(ParentFor(u"Tracemill", u"12.0"), u"<none>");
    EXPECT_EQ(ParentFor(u"Tracemill", u"1."), u"<none>");
    EXPECT_FALSE(MatchVersionRow(u"Tracemill", u"14.0")->needsRelease);
    EXPECT_TRUE(MatchVersionRow(u"Planoview", u"3.0")->needsRelease);
}

TEST(Catalog, PrefixesCountUtf16CodeUnits) {
    // U+1F600 is two code units: the ninth unit is the high surrogate.
    const std::u16string name = u"Veltrama\U0001F600x";
    EXPECT_EQ(NamePrefix(name), name.substr(0, 9));
    EXPECT_EQ(NamePrefix(name).size(), 9u);
    EXPECT_EQ(VersionPrefix(u"1"), u"1");
    EXPECT_EQ(NamePrefix(u"Plano"), u"Plano");
}

TEST(Catalog, NameLookupsAreExact) {
    EXPECT_TRUE(MiscFlag(u"Veltramark Stockroom"));
    EXPECT_FALSE(MiscFlag(u"veltramark stockroom"));
    EXPECT_FALSE(MiscFlag(u"KTRN "));
    ASSERT_NE(FamilyByTrigger(u"Planoview"), nullptr);
    EXPECT_EQ(FamilyByTrigger(u"Planoview")->container, u"SOFTWARE\\Planoview");
    EXPECT_EQ(FamilyByTrigger(u"planoview"), nullptr);
    EXPECT_EQ(FamilyByTrigger(u"Veltramark 2005"), nullptr);
    const ReleaseFamily& flagship = *FamilyByTrigger(u"Veltramark");
    EXPECT_TRUE(ReleaseFlag(flagship, u"Veltramark 2005"));
    EXPECT_FALSE(ReleaseFlag(flagship, u"veltramark 2005"));
    EXPECT_FALSE(ReleaseFlag(flagship, u"Veltramark 2008"));
    EXPECT_FALSE(ReleaseFlag(flagship, u"p2005"));  // the other family's key
}

TEST(Catalog, EveryKeyHasItsOwnFoundFlagAndEveryReleaseRowNamesAFoundableKey) {
    std::set<size_t> flags;
    for (auto name : kMiscKeys) flags.insert(*MiscFlag(name));
    for (const auto& family : kFamilies) {
        for (auto release : family.releases) {
            flags.insert(*ReleaseFlag(family, release));
            EXPECT_EQ(ReleaseFlag(release), ReleaseFlag(family, release));
        }
    }
    EXPECT_EQ(flags.size(), kFoundFlagCount);
    EXPECT_LT(*flags.rbegin(), kFoundFlagCount);

    for (const auto& row : kVersionRows) {
        EXPECT_EQ(row.needsRelease, ReleaseFlag(row.parentKey).has_value());
        EXPECT_NE(row.parentKey, u"Veltramark 2002");
        EXPECT_NE(row.parentKey, u"p2002");
        EXPECT_EQ(row.namePrefix.size(), kNamePrefixLength);
        EXPECT_EQ(row.versionPrefix.size(), kVersionPrefixLength);
    }
}

}  // namespace
}  // namespace clearstrand::catalog
