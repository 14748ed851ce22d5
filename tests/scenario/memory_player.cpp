// Plays every scenario against the in-memory platform, then replays the
// cases marked "faults" once for every platform call, with that call
// failing, and checks what must hold whatever fails.

#include <gtest/gtest.h>

#include <map>
#include <stdexcept>

#include "memory/program.h"
#include "platform/errors.h"
#include "scenario/scenario.h"

namespace clearstrand::scenario {
namespace {

using memory::Program;

constexpr char kUninstall[] = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\";
constexpr char kProgramFiles[] = "C:\\Program Files (x86)\\";

int32_t Hive(const std::string& name) {
    if (auto hive = memory::HiveByName(name)) return *hive;
    throw std::runtime_error("unknown hive " + name);
}

// The test packages' product codes spell the first 14 bytes of the name, so
// that their uninstall entries list in the same order here as under Wine.
std::string ProductCode(const std::string& name) {
    std::string hex;
    for (size_t i = 0; i < 14; ++i) {
        static const char kDigits[] = "0123456789ABCDEF";
        const auto byte = static_cast<unsigned char>(i < name.size() ? name[i] : 0);
        hex += {kDigits[byte >> 4], kDigits[byte & 15]};
    }
    hex += "0000";
    return "{" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
           hex.substr(20) + "}";
}

// A failure forced on the k-th call, or on the calls a case names.
struct Forced {
    size_t k = 0;  // 0: none
    bool raise = true;
    std::vector<std::pair<std::string, std::optional<int32_t>>> named;  // call, code (nullopt: raise)
};

// The codes a call returns instead of raising; the others can only raise.
bool ReturnsCode(const std::string& call) {
    const std::string verb = Word(call).first;
    return verb == "EnumKey" || verb == "GetStringValue" || verb == "DeleteKey" || verb == "UnInstall";
}

struct Run {
    Program program;
    std::vector<std::string> before;  // the machine when the program opened
    std::vector<Gone> gone;
    size_t startAt = 0;               // calls made before the first Start
    size_t boxesAtStart = 0;
    size_t boxesFrom = 0;  // the boxes "boxes" has seen
    size_t logFrom = 0;    // where the last action's events start
    std::map<std::string, std::string> msiFolders;  // a package's name and its folder
    bool opened = false;
    bool faults = false;

    void Seed(const Step& s) {
        memory::Machine& m = program.machine;
        const auto f = Fields(s.arg);
        if (s.verb == "key") {
            auto [hive, path] = Word(s.arg);
            m.AddKey(Hive(hive), FromUtf8(path));
        } else if (s.verb == "value") {
            auto [hive, path] = Word(f.at(0));
            const bool dword = f.at(2).rfind('#', 0) == 0;
            m.SetValue(Hive(hive), FromUtf8(path), FromUtf8(f.at(1)), FromUtf8(f.at(2).substr(dword ? 1 : 0)), dword);
        } else if (s.verb == "entry") {
            const std::u16string key = FromUtf8(kUninstall + f.at(0));
            m.AddKey(kHiveLocalMachine, key);
            const char16_t* names[] = {u"DisplayName", u"DisplayVersion", u"InstallLocation"};
            for (size_t i = 1; i < f.size() && i < 4; ++i) {
                if (!f[i].empty()) m.SetValue(kHiveLocalMachine, key, names[i - 1], FromUtf8(f[i]));
            }
        } else if (s.verb == "msi") {
            // What the test packages install: an uninstall entry, one file in
            // the product's own folder, and that folder recorded.
            const std::string folder = kProgramFiles + f.at(2);
            const std::u16string key = FromUtf8(kUninstall + ProductCode(f.at(0)));
            if (m.FindKey(kHiveLocalMachine, key)) throw std::runtime_error(f.at(0) + ": another package's code");
            m.SetValue(kHiveLocalMachine, key, u"DisplayName", FromUtf8(f.at(0)));
            m.SetValue(kHiveLocalMachine, key, u"DisplayVersion", FromUtf8(f.at(1)));
            m.SetValue(kHiveLocalMachine, key, u"InstallLocation", FromUtf8(f.size() > 3 ? f[3] : folder + "\\"));
            m.AddFile(FromUtf8(folder + "\\readme.txt"), false, false, false);
            m.AddProduct(FromUtf8(f.at(0)), 0, key, FromUtf8(folder + "\\readme.txt"));
            msiFolders[f.at(0)] = folder;
        } else if (s.verb == "product") {
            m.AddProduct(FromUtf8(f.at(0)), f.size() > 1 ? std::stoi(f[1]) : 0);
        } else if (s.verb == "file") {
            const auto has = [&](const char* flag) { return std::find(f.begin() + 1, f.end(), flag) != f.end(); };
            m.AddFile(FromUtf8(f.at(0)), has("ro"), has("hidden"), has("held"));
        } else if (s.verb == "folder") {
            m.AddFolder(FromUtf8(s.arg));
        } else {
            throw std::runtime_error("unknown step " + s.verb);
        }
    }

    void Open() {
        before = program.machine.Describe();
        program.Open();
        opened = true;
        // The disclaimer is checked by "disclaimer"; "boxes" starts after it.
        boxesFrom = std::min<size_t>(1, program.boxes.size());
    }

    // The machine's own folders, as the in-memory file service names them.
    static std::string Lookup(const std::string& name, const std::string& argument) {
        if (name == "windows") return "C:\\windows";
        if (name == "documents") return "C:\\users\\user\\Documents";
        if (name == "pf") return "C:\\Program Files";
        if (name == "pf86") return "C:\\Program Files (x86)";
        if (name == "short") return argument;  // no short names here
        throw std::runtime_error("unknown macro " + name);
    }

    // Plays one step; expectations are checked only when `check` is set.
    void Play(const Step& raw, bool check, Forced& forced) {
        Step s = raw;
        s.arg = Expand(s.arg, Lookup);
        for (auto& line : s.block) line = Expand(line, Lookup);
        static const std::vector<std::string> setup = {"key", "value", "entry", "msi", "product", "file", "folder"};
        if (std::find(setup.begin(), setup.end(), s.verb) != setup.end()) {
            if (!opened) return Seed(s);
            // Changed by someone else while the program runs: part of what
            // the program found, not of what it did.
            const auto was = program.machine.Describe();
            Seed(s);
            const auto now = program.machine.Describe();
            std::set_difference(now.begin(), now.end(), was.begin(), was.end(), std::back_inserter(before));
            std::sort(before.begin(), before.end());
            return;
        }
        if (s.verb == "fail") {
            auto [mode, rest] = Word(s.arg);
            if (mode == "raise") return forced.named.push_back({rest, std::nullopt});
            auto [code, call] = Word(rest);
            return forced.named.push_back({call, std::stoi(code)});
        }
        if (s.verb == "faults") return void(faults = true);
        if (s.verb == "gone") {
            auto [kind, what] = Word(s.arg);
            if (kind != "msi") return gone.push_back({kind, what});
            // A package takes its product, its entry and its own file.
            gone.push_back({"product", what});
            gone.push_back({"key", std::string("HKLM ") + kUninstall + ProductCode(what)});
            gone.push_back({"file", msiFolders.at(what) + "\\readme.txt"});
            return;
        }
        if (!opened) Open();
        SCOPED_TRACE(s.where);
        if (s.verb == "open" || s.verb == "layout") return;
        const bool action = s.verb == "tick" || s.verb == "untick" || s.verb == "space" || s.verb == "start" ||
                            s.verb == "refresh" || s.verb == "cancel";
        if (action) logFrom = program.log.size();  // "log" shows what the last action did
        if (s.verb == "tick" || s.verb == "untick" || s.verb == "space") {
            return program.Toggle(FromUtf8(s.arg), s.verb == "untick" ? std::optional(false) : s.verb == "tick" ? std::optional(true) : std::nullopt);
        }
        if (s.verb == "start" || s.verb == "refresh" || s.verb == "cancel") {
            if (s.verb == "start" && startAt == 0) {
                startAt = program.machine.calls.size();
                boxesAtStart = program.boxes.size();
            }
            std::string button = s.verb;
            button[0] = static_cast<char>(button[0] - 'a' + 'A');
            return program.Click(button);
        }
        if (!check) return;
        if (s.verb == "tree") EXPECT_EQ(program.Outline(), s.block);
        else if (s.verb == "window") EXPECT_EQ(program.Window(), s.block);
        else if (s.verb == "boxes") EXPECT_EQ(Boxes(), s.block);
        else if (s.verb == "disclaimer") EXPECT_EQ(program.boxes.at(0), s.arg);
        else if (s.verb == "checked") EXPECT_EQ(Checked(), s.arg);
        else if (s.verb == "buttons") EXPECT_EQ(program.Window().at(0), s.arg);
        else if (s.verb == "log") EXPECT_EQ(Filter({program.log.begin() + static_cast<long>(logFrom), program.log.end()}, s.arg), s.block);
        else throw std::runtime_error("unknown step " + s.verb);
    }

    std::vector<std::string> Boxes() {
        std::vector<std::string> shown(program.boxes.begin() + static_cast<long>(boxesFrom), program.boxes.end());
        boxesFrom = program.boxes.size();
        return shown;
    }

    // The checked nodes' captions in tree order, joined by ", ".
    std::string Checked() {
        std::string out;
        for (const auto& line : program.Outline()) {
            const size_t marks = line.rfind(" [");
            if (marks == std::string::npos || line.find('x', marks) == std::string::npos) continue;
            const size_t start = line.find_first_not_of(' ');
            out += (out.empty() ? "" : ", ") + line.substr(start, marks - start);
        }
        return out;
    }

    // Plays the whole case with the calls `forced` names failing.
    void PlayAll(const Case& c, bool check, Forced forced) {
        size_t count = 0;
        program.machine.fault = [&](const std::string& call) -> std::optional<int32_t> {
            ++count;
            for (const auto& [name, code] : forced.named) {
                if (name != call) continue;
                if (!code) throw PlatformError(-2147467259, u"Unspecified error");
                return code;
            }
            if (count != forced.k) return std::nullopt;
            if (forced.raise) throw PlatformError(-2147467259, u"Unspecified error");
            return 5;
        };
        for (const auto& step : c.steps) {
            try {
                Play(step, check, forced);
            } catch (const std::runtime_error& error) {
                // A forced failure may leave a node the case ticks unbuilt.
                if (check || forced.k == 0) throw std::runtime_error(step.where + ": " + error.what());
                break;
            }
        }
        if (!opened) Open();
        if (check) {
            EXPECT_EQ(Boxes(), std::vector<std::string>{}) << "boxes that no step expected";
        }
    }

    std::vector<std::string> Problems() { return Diff(before, program.machine.Describe(), gone); }
};

void PlayCase(const Case& c) {
    Run run;
    run.PlayAll(c, true, {});
    for (const auto& problem : run.Problems()) ADD_FAILURE() << problem;
}

// Whatever single call fails: nothing that was not ticked changes, a removal
// that is left unfinished says so, and the run still ends ready for the next.
void PlayFaults(const Case& c) {
    Run clean;
    clean.PlayAll(c, false, {});
    ASSERT_GT(clean.startAt, 0u) << "a faults case must press Start";
    const size_t calls = clean.program.machine.calls.size();
    const size_t rebuildAt = clean.program.lastClearAt;
    int replays = 0;
    for (size_t k = 1; k <= calls; ++k) {
        const std::string call = clean.program.machine.calls[k - 1];
        for (bool raise : {true, false}) {
            if (!raise && !ReturnsCode(call)) continue;
            SCOPED_TRACE((raise ? "raise at call " : "code 5 at call ") + std::to_string(k) + ": " + call);
            Run run;
            Forced forced;
            forced.k = k;
            forced.raise = raise;
            run.PlayAll(c, false, forced);
            ++replays;
            bool unfinished = false;
            for (const auto& problem : run.Problems()) {
                const bool tolerated = problem.rfind("declared gone but", 0) == 0;
                unfinished = unfinished || tolerated;
                if (!tolerated) ADD_FAILURE() << problem;
            }
            if (k <= clean.startAt) continue;  // the open itself failed or built another tree
            const auto window = run.program.Window();
            const auto& shown = run.program.boxes;
            const bool reported = std::any_of(shown.begin() + static_cast<long>(run.boxesAtStart), shown.end(),
                                              [&](const std::string& box) {
                                                  return std::count(shown.begin(), shown.end(), box) >
                                                         std::count(clean.program.boxes.begin(),
                                                                    clean.program.boxes.end(), box);
                                              });
            if (k <= rebuildAt) {
                EXPECT_FALSE(run.program.ended) << "a failure inside the removal ended the program";
                EXPECT_EQ(window.at(0), "Refresh on, Start off, Cancel on");
                EXPECT_NE(window.at(1).find("\"Ready\""), std::string::npos) << window.at(1);
                const std::string verb = Word(call).first;
                if (unfinished && verb != "EnumKey") {
                    EXPECT_GT(shown.size(), run.boxesAtStart) << "left unfinished without a word";
                }
                // A subkey's deletion may fail silently: the key above it
                // then cannot go, which is reported.
                const bool inDeletion = verb == "DeleteKey" || call == "connect winmgmts:\\\\.\\root\\default:StdRegProv";
                if (raise && verb != "EnumKey" && verb != "GetStringValue" && !inDeletion) {
                    EXPECT_TRUE(reported) << "a raised failure went unreported";
                }
            } else if (!run.program.ended) {
                EXPECT_NE(window.at(1).find("\"Ready\""), std::string::npos) << window.at(1);
            }
            if (::testing::Test::HasFailure()) return;
        }
    }
    ::testing::Test::RecordProperty("replays", replays);
}

}  // namespace
}  // namespace clearstrand::scenario

int main(int argc, char** argv) {
    using namespace clearstrand::scenario;
    ::testing::InitGoogleTest(&argc, argv);
    for (const Case& c : Load(SCENARIO_DIR)) {
        ::testing::RegisterTest("Scenario", c.name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                                [c]() -> ::testing::Test* {
                                    struct T : ::testing::Test {
                                        Case c;
                                        explicit T(Case c) : c(std::move(c)) {}
                                        void TestBody() override { PlayCase(c); }
                                    };
                                    return new T(c);
                                });
        const bool faults = std::any_of(c.steps.begin(), c.steps.end(), [](const Step& s) { return s.verb == "faults"; });
        if (!faults) continue;
        ::testing::RegisterTest("Faults", c.name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                                [c]() -> ::testing::Test* {
                                    struct T : ::testing::Test {
                                        Case c;
                                        explicit T(Case c) : c(std::move(c)) {}
                                        void TestBody() override { PlayFaults(c); }
                                    };
                                    return new T(c);
                                });
    }
    return RUN_ALL_TESTS();
}
