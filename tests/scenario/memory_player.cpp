// Plays every scenario against the in-memory platform, then replays the
// cases marked "faults" once for every platform call, with that call
// failing, and checks what must hold whatever fails.

#include <gtest/gtest.h>

#include <algorithm>
#include <stdexcept>

#include "memory/program.h"
#include "platform/errors.h"
#include "scenario/scenario.h"

namespace clearstrand::scenario {
namespace {

using memory::Program;

// The test packages' product codes spell the first 14 bytes of the name, so
// that their uninstall entries list in the same order here as under Wine.
std::string ProductCode(const std::string& name) {
    std::string hex;
    for (size_t i = 0; i < 14; ++i) {
        const auto byte = static_cast<unsigned char>(i < name.size() ? name[i] : 0);
        hex += {"0123456789ABCDEF"[byte >> 4], "0123456789ABCDEF"[byte & 15]};
    }
    hex += "0000";
    return "{" + hex.substr(0, 8) + "-" + hex.substr(8, 4) + "-" + hex.substr(12, 4) + "-" + hex.substr(16, 4) + "-" +
           hex.substr(20) + "}";
}

// The calls that return a code; the others can only raise.
bool ReturnsCode(const std::string& call) {
    const std::string verb = Word(call).first;
    return verb == "EnumKey" || verb == "GetStringValue" || verb == "DeleteKey" || verb == "UnInstall";
}

class MemoryPlayer final : public Player {
public:
    // Call `failAt` (from 1) raises, or returns code 5 when `raise` is unset.
    explicit MemoryPlayer(size_t failAt = 0, bool raise = true) {
        program.machine.fault = [this, failAt, raise](const std::string& call) -> std::optional<int32_t> {
            ++calls_;
            const auto named = failing_.find(call);
            if (named != failing_.end() && !named->second) throw PlatformError(-2147467259, u"Call failed.");
            if (named != failing_.end()) return named->second;
            if (calls_ != failAt) return std::nullopt;
            if (raise) throw PlatformError(-2147467259, u"Call failed.");
            return 5;
        };
    }

    Program program;
    bool faults = false;  // the case asks for fault replays
    size_t startAt = 0;   // calls made before Start was first pressed
    size_t boxesAtStart = 0;

protected:
    void Key(const std::string& hive, const std::string& path) override { program.machine.SetValue(hive, FromUtf8(path)); }
    void Value(const std::string& hive, const std::string& path, const std::string& name, const std::string& data,
               bool dword) override {
        program.machine.SetValue(hive, FromUtf8(path), FromUtf8(name), FromUtf8(data), dword);
    }
    std::string Msi(const std::string& name, const std::string& version, const std::string& folder,
                    const std::optional<std::string>& location) override {
        const std::string entry = "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\" + ProductCode(name);
        const std::string home = Macro("pf86", "") + "\\" + folder;
        if (program.machine.keys.count(memory::Upper(u"HKLM\\" + FromUtf8(entry)))) throw std::runtime_error(name + ": a code taken");
        Value("HKLM", entry, "DisplayName", name, false);
        Value("HKLM", entry, "DisplayVersion", version, false);
        Value("HKLM", entry, "InstallLocation", location.value_or(home + "\\"), false);
        File(home + "\\readme.txt", false, false, false);
        program.machine.AddProduct(FromUtf8(name), 0, FromUtf8(entry), FromUtf8(home + "\\readme.txt"));
        return entry;
    }
    void File(const std::string& path, bool readOnly, bool hidden, bool held) override {
        program.machine.AddEntry(FromUtf8(path), false, readOnly, hidden, held);
    }
    void Folder(const std::string& path) override { program.machine.AddEntry(FromUtf8(path), true); }
    std::string Macro(const std::string& name, const std::string& argument) override {
        if (name == "windows") return "C:\\windows";
        if (name == "documents") return "C:\\users\\user\\Documents";
        if (name == "pf86") return "C:\\Program Files (x86)";
        if (name == "short") return argument;  // no short names here
        throw std::runtime_error("unknown macro " + name);
    }
    bool Other(const Step& s) override {
        const auto f = Fields(s.arg);
        if (s.verb == "product") {
            program.machine.AddProduct(FromUtf8(f.at(0)), f.size() > 1 ? std::stoi(f[1]) : 0);
        } else if (s.verb == "fail") {  // "fail raise CALL" or "fail code N CALL"
            auto [mode, rest] = Word(s.arg);
            auto [code, call] = Word(rest);
            if (mode == "raise") failing_[rest] = std::nullopt;
            else failing_[call] = std::stoi(code);
        } else if (s.verb == "faults") {
            faults = true;
        } else {
            return false;
        }
        return true;
    }

    void Open() override { Sync([&] { program.Open(); }); }
    void Toggle(const std::string& caption, const std::string& how) override {
        const auto to = how == "tick" ? std::optional(true) : how == "untick" ? std::optional(false) : std::nullopt;
        Sync([&] { program.Toggle(FromUtf8(caption), to); });
    }
    void Press(const std::string& button) override {
        if (button == "start" && startAt == 0) {
            startAt = program.machine.calls.size();
            boxesAtStart = boxes.size();
        }
        Sync([&] { program.Click(std::string(1, static_cast<char>(button[0] - 'a' + 'A')) + button.substr(1)); });
    }
    void Close() override {}
    std::vector<Shown> Tree() override {
        std::vector<Shown> shown;
        const auto visit = [&](auto& self, TreeNode* node, int depth) -> void {
            for (; node; node = node->Next()) {
                shown.push_back({depth, ToUtf8(node->Text()), node->Checked(), node->Bold(), node->Expanded()});
                self(self, node->Child(), depth + 1);
            }
        };
        TreeNodes& nodes = program.Tree().Nodes();
        if (nodes.Count() > 0) visit(visit, &nodes.Item(1), 0);
        return shown;
    }
    std::vector<std::string> Window() override { return program.Window(); }
    // What the last action did, in the log's words.
    std::optional<std::vector<std::string>> Log(const std::string& words) override {
        std::vector<std::string> wanted, picked;
        for (std::string rest = words; !rest.empty(); rest = Word(rest).second) wanted.push_back(Word(rest).first);
        for (size_t i = logFrom_; i < program.log.size(); ++i) {
            const std::string& line = program.log[i];
            if (std::find(wanted.begin(), wanted.end(), Word(line).first) != wanted.end()) picked.push_back(line);
        }
        return picked;
    }
    std::vector<std::string> Describe() override { return program.machine.Describe(); }

private:
    template <typename Action>
    void Sync(Action action) {
        logFrom_ = program.log.size();
        action();
        boxes = program.boxes;
    }

    size_t calls_ = 0;
    size_t logFrom_ = 0;
    std::map<std::string, std::optional<int32_t>> failing_;
};

// Whatever single call fails: nothing that was not ticked changes, what is
// left unfinished is said, and a failure inside the removal still leaves the
// window ready for the next.
void PlayFaults(const Case& c) {
    MemoryPlayer clean;
    clean.Play(c, false);
    ASSERT_GT(clean.startAt, 0u) << "a faults case must press Start";
    const auto& calls = clean.program.machine.calls;
    const size_t rebuildAt = clean.program.lastClearAt;  // the final population's calls come after
    for (size_t k = 1; k <= calls.size(); ++k) {
        const std::string verb = Word(calls[k - 1]).first;
        for (bool raise : {true, false}) {
            if (!raise && !ReturnsCode(calls[k - 1])) continue;
            SCOPED_TRACE((raise ? "raise at call " : "code 5 at call ") + std::to_string(k) + ": " + calls[k - 1]);
            MemoryPlayer run(k, raise);
            run.Play(c, false);
            bool unfinished = false;
            for (const auto& problem : run.problems) {
                const bool tolerated = problem.rfind("declared gone but", 0) == 0;
                unfinished = unfinished || tolerated;
                if (!tolerated) ADD_FAILURE() << problem;
            }
            if (k <= clean.startAt) continue;  // the open failed or built another tree
            const auto window = run.program.Window();
            const bool ready = window.size() > 1 && window[1].find("\"Ready\"") != std::string::npos;
            if (k > rebuildAt) {
                EXPECT_TRUE(ready || run.program.ended) << window.at(0);
                continue;
            }
            EXPECT_FALSE(run.program.ended) << "a failure inside the removal ended the program";
            EXPECT_TRUE(ready && window.at(0) == "Refresh on, Start off, Cancel on") << window.at(0);
            const auto& shown = run.boxes;
            const bool anyBox = shown.size() > run.boxesAtStart;
            const bool newBox = std::any_of(shown.begin() + static_cast<long>(run.boxesAtStart), shown.end(), [&](auto& box) {
                return std::count(shown.begin(), shown.end(), box) > std::count(clean.boxes.begin(), clean.boxes.end(), box);
            });
            // A listing's code is never looked at, by design.
            EXPECT_TRUE(!unfinished || verb == "EnumKey" || anyBox) << "left unfinished without a word";
            // Failures inside a key's recursive deletion are skipped; the key
            // above then cannot go, which is said.
            const bool skipped = verb == "DeleteKey" || calls[k - 1] == "connect winmgmts:\\\\.\\root\\default:StdRegProv";
            EXPECT_TRUE(!raise || verb == "EnumKey" || skipped || newBox) << "a raised failure went unreported";
            if (::testing::Test::HasFailure()) return;
        }
    }
}

template <typename Body>
void Register(const char* suite, const Case& c, Body body) {
    struct Test : ::testing::Test {
        Test(Case c, Body body) : c(std::move(c)), body(body) {}
        void TestBody() override { body(c); }
        Case c;
        Body body;
    };
    ::testing::RegisterTest(suite, c.name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                            [c, body]() -> ::testing::Test* { return new Test(c, body); });
}

}  // namespace
}  // namespace clearstrand::scenario

int main(int argc, char** argv) {
    using namespace clearstrand::scenario;
    ::testing::InitGoogleTest(&argc, argv);
    for (const Case& c : Load(SCENARIO_DIR)) {
        Register("Scenario", c, [](const Case& c) { MemoryPlayer().Play(c); });
        if (std::any_of(c.steps.begin(), c.steps.end(), [](const Step& s) { return s.verb == "faults"; })) {
            Register("Faults", c, PlayFaults);
        }
    }
    return RUN_ALL_TESTS();
}
