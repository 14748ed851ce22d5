// Population and the catalog's matching over arbitrary registry contents.
// The bytes are read as a small program that builds both hives: keys at the
// places population reads and at others, uninstall entries with values of any
// type, and names that are catalog words, their near-misses or raw UTF-16.
// Any broken rule aborts.

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "core/machine_generator.h"
#include "discovery/catalog.h"
#include "memory/memory_controls.h"

namespace {

using namespace clearstrand;

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    bool Empty() const { return position_ >= size_; }
    uint8_t Byte() { return Empty() ? 0 : data_[position_++]; }

    // A catalog word, perhaps changed; or raw code units, lone surrogates and
    // NULs included; or a long run.
    std::u16string Text() {
        static const std::vector<std::u16string> words = [] {
            std::vector<std::u16string> w = {u"SOFTWARE", u"Veltramark", u"Planoview", u"Tracemill", u"Veltramar",
                                             u"Veltramark 2005 SP1", u"Planoview 5", u"Tracemill 13", u"13.0", u"9.",
                                             u"9", u"1.4", u"10", u"15.2", u"", u"Root", u"registry", u"VT", u"pV",
                                             u"TML", u"DisplayName", u"DisplayVersion", u"InstallLocation"};
            w.insert(w.end(), testing::kMiscKeys.begin(), testing::kMiscKeys.end());
            w.insert(w.end(), testing::kFlagshipReleases.begin(), testing::kFlagshipReleases.end());
            w.insert(w.end(), testing::kPlanoviewReleases.begin(), testing::kPlanoviewReleases.end());
            return w;
        }();
        const uint8_t head = Byte();
        if (head < 0xC0) {
            std::u16string word = words[head % words.size()];
            switch (Byte() % 10) {
                case 0: for (auto& c : word) if (c >= u'A' && c <= u'Z') c += 32; break;
                case 1: word += u' '; break;
                case 2: word = u"x" + word; break;
                case 3: if (!word.empty()) word.pop_back(); break;
                case 4: word += u"\u00e9"; break;
                case 5: word += static_cast<char16_t>(0xD800 + Byte()); break;  // a lone surrogate
                case 6: word += Text(); break;
                default: break;
            }
            return word;
        }
        if (head == 0xFF) {
            std::u16string run = Text();
            if (run.empty()) run = u"x";
            std::u16string out;
            while (out.size() < 255) out += run;
            return out.substr(0, 255 + Byte() % 2 * 400);
        }
        std::u16string raw;
        for (size_t length = head & 0x3F; length > 0 && !Empty(); --length) {
            const uint16_t low = Byte();
            raw += static_cast<char16_t>(low | (Byte() << 8));
        }
        return raw;
    }

    // A name a registry key can have: no backslash, not empty, at most 255.
    std::u16string KeyName() {
        std::u16string name = Text().substr(0, 255);
        for (auto& c : name) {
            if (c == u'\\') c = u'_';
        }
        return name.empty() ? u"k" : name;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t position_ = 0;
};

[[noreturn]] void Broken(const std::string& what) {
    std::fprintf(stderr, "population rule broken: %s\n", what.c_str());
    std::abort();
}

void Build(Reader& in, MemoryRegistry& registry) {
    std::u16string entry = testing::kUninstallRoot + u"\\first";
    int32_t entryHive = kHiveLocalMachine;
    static const std::vector<std::u16string> valueNames = {u"DisplayName", u"DisplayVersion", u"InstallLocation"};
    for (int op = 0; op < 200 && !in.Empty(); ++op) {
        const uint8_t code = in.Byte();
        const int32_t hive = code & 0x80 ? kHiveCurrentUser : kHiveLocalMachine;
        switch (code % 9) {
            case 0: registry.CreateKey(hive, u"SOFTWARE\\" + in.KeyName()); break;
            case 1: {
                const uint8_t which = in.Byte();
                const std::u16string container = which % 3 == 0 ? u"Veltramark" : which % 3 == 1 ? u"Planoview" : in.KeyName();
                registry.CreateKey(hive, u"SOFTWARE\\" + container + u"\\" + in.KeyName());
                break;
            }
            case 2:
                entryHive = code & 0x80 && code & 0x40 ? kHiveCurrentUser : kHiveLocalMachine;
                entry = testing::kUninstallRoot + u"\\" + in.KeyName();
                registry.CreateKey(entryHive, entry);
                break;
            case 3: case 4: {
                const uint8_t which = in.Byte();
                const std::u16string name = which < 0xF0 ? valueNames[which % 3] : in.Text();
                registry.SetString(entryHive, entry, name, in.Text());
                break;
            }
            case 5: registry.SetDword(entryHive, entry, valueNames[in.Byte() % 3], in.Byte()); break;
            case 6: registry.CreateKey(hive, u"SOFTWARE\\" + in.KeyName() + u"\\" + in.KeyName()); break;
            case 7:
                registry.FailCall("GetStringValue " + std::to_string(kHiveLocalMachine) + " " + ToUtf8(entry) + " " +
                                  ToUtf8(valueNames[in.Byte() % 3]));
                break;
            default: registry.CreateKey(hive, in.KeyName()); break;
        }
    }
}

// The catalog's own matching against the rules, on every row.
void CheckMatching(const std::vector<ProductRow>& rows) {
    for (const ProductRow& row : rows) {
        const catalog::VersionRow* match = catalog::MatchVersionRow(row[1], row[2]);
        const testing::VersionRow* rule = nullptr;
        for (const auto& r : testing::kVersionRows) {
            if (row[1].substr(0, 9) == r.namePrefix && row[2].substr(0, 2) == r.versionPrefix) rule = &r;
        }
        if ((match == nullptr) != (rule == nullptr) ||
            (match && match->parentKey != std::u16string_view(rule->parent))) {
            Broken("version row for " + ToUtf8(row[1]) + " / " + ToUtf8(row[2]));
        }
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Reader in(data, size);
    MemoryPlatform platform;
    Build(in, platform.registry);
    try {
        platform.form().PopulateTreeview();
    } catch (const std::exception& error) {
        Broken(std::string("population raised: ") + error.what());
    }
    const auto expected = testing::ExpectPopulation(platform.registry);
    if (testing::ActualNodes(platform.tree) != expected.nodes) Broken("tree differs from the catalog rules");
    if (platform.form().installedProducts != expected.rows) Broken("installedProducts differs from the entries");
    for (const auto& problem :
         testing::CheckInvariants(platform.tree, platform.form().installedProducts, platform.registry)) {
        Broken(problem);
    }
    CheckMatching(expected.rows);
    return 0;
}
