// Plays every scenario against Form1 over the in-memory machine and
// controls that log what the form does to them, run as the window runtime
// runs it; then replays every case that presses Start once for every
// platform call, with that call failing, and checks what must hold whatever
// fails.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <set>
#include <stdexcept>

#include "app/form1.h"
#include "memory/machine.h"
#include "platform/paths.h"
#include "removal/folder_safety.h"
#include "scenario/scenario.h"

namespace clearstrand::scenario {
namespace {

using Lines = std::vector<std::string>;

std::string Render(const std::u16string& text) { return scenario::Render(ToUtf8(text)); }

struct Node final : TreeNode {
    Node(std::u16string_view key, std::u16string_view text, Node* parent, std::u16string& read)
        : key(key), text(text), parent(parent), read(read) {}
    std::u16string Key() const override { return read = key; }
    std::u16string Text() const override { return text; }
    bool Checked() const override { return checked; }
    void SetChecked(bool value) override { checked = value; }
    bool Expanded() const override { return expanded; }
    void SetExpanded(bool value) override { expanded = value; }
    bool Bold() const override { return bold; }
    void SetBold(bool value) override { bold = value; }
    int32_t Children() const override { return static_cast<int32_t>(children.size()); }
    TreeNode* Child() override { return children.empty() ? nullptr : children.front(); }
    TreeNode* Next() override {
        if (!parent) return nullptr;  // the one top-level node has no sibling
        const auto it = std::find(parent->children.begin(), parent->children.end(), this);
        return it + 1 == parent->children.end() ? nullptr : *(it + 1);
    }
    TreeNode* Parent() override { return parent; }

    std::u16string key, text;
    Node* parent;
    std::u16string& read;
    std::vector<Node*> children;
    bool checked = false, expanded = false, bold = false;
};

class MemoryTree final : public TreeView, private TreeNodes {
public:
    explicit MemoryTree(std::function<void()> cleared) : cleared_(std::move(cleared)) {}
    std::u16string lastKey;  // the key the form read last, which the removal reads before each operation
    TreeNodes& Nodes() override { return *this; }
    void SetNodeCheckHandler(std::function<void(TreeNode&)> handler) override { handler_ = std::move(handler); }

    // The user flips a check box: the handler sees the new state.
    void Toggle(const std::u16string& caption, std::optional<bool> to) {
        const auto named = [&](auto& node) { return node->text == caption; };
        const auto found = std::find_if(nodes_.begin(), nodes_.end(), named);
        if (found == nodes_.end() || std::count_if(nodes_.begin(), nodes_.end(), named) > 1 ||
            (to && (*found)->checked == *to)) {
            throw std::runtime_error("cannot flip " + ToUtf8(caption));
        }
        (*found)->checked = !(*found)->checked;
        if (handler_) handler_(**found);
    }

private:
    void Clear() override {
        cleared_();
        nodes_.clear();
    }
    TreeNode& Add(std::u16string_view key, std::u16string_view text) override { return Insert(nullptr, key, text); }
    TreeNode& Add(std::u16string_view relative, Relationship, std::u16string_view key, std::u16string_view text) override {
        const auto parent = std::find_if(nodes_.begin(), nodes_.end(), [&](auto& node) { return node->key == relative; });
        if (parent == nodes_.end()) throw PlatformError(kErrElementNotFound, u"Element not found");
        return Insert(parent->get(), key, text);
    }
    TreeNode& Insert(Node* parent, std::u16string_view key, std::u16string_view text) {
        if (std::any_of(nodes_.begin(), nodes_.end(), [&](auto& node) { return node->key == key; }))
            throw PlatformError(kErrKeyNotUnique, u"Key is not unique in collection");
        nodes_.push_back(std::make_unique<Node>(key, text, parent, lastKey));
        if (parent) parent->children.push_back(nodes_.back().get());
        return *nodes_.back();
    }
    TreeNode& Item(int32_t index) override {
        if (index < 1 || index > Count()) throw PlatformError(kErrIndexOutOfBounds, u"Index out of bounds");
        return *nodes_[static_cast<size_t>(index - 1)];
    }
    // The form removes only nodes left without children.
    void Remove(int32_t index) override {
        Node* gone = static_cast<Node*>(&Item(index));
        if (!gone->children.empty()) throw std::runtime_error("a node with children removed");
        if (gone->parent) std::erase(gone->parent->children, gone);
        nodes_.erase(nodes_.begin() + index - 1);
    }
    int32_t Count() const override { return static_cast<int32_t>(nodes_.size()); }

    std::function<void()> cleared_;
    std::vector<std::unique_ptr<Node>> nodes_;
    std::function<void(TreeNode&)> handler_;
};

struct Button final : CommandButton {
    Button(Lines& log, std::string name) : log(log), name(std::move(name)) {}
    bool Enabled() const override { return enabled; }
    void SetEnabled(bool value) override { log.push_back(name + ((enabled = value) ? " on" : " off")); }
    Lines& log;
    std::string name;
    bool enabled = true;  // as designed
};

struct MemoryLabel final : Label {
    explicit MemoryLabel(Lines& log) : log(log) {}
    std::u16string Caption() const override { return caption; }
    void SetCaption(const std::u16string& value) override { log.push_back("label " + Render(caption = value)); }
    Lines& log;
    std::u16string caption;
};

struct MemoryPanel final : Panel {
    MemoryPanel(Lines& log, int index) : log(log), name("panel " + std::to_string(index)) {}
    int32_t Bevel() const override { return bevel; }
    void SetBevel(int32_t value) override { log.push_back(name + " bevel " + std::to_string(bevel = value)); }
    int32_t AutoSize() const override { return autoSize; }
    void SetAutoSize(int32_t value) override { log.push_back(name + " autosize " + std::to_string(autoSize = value)); }
    std::u16string Text() const override { return text; }
    void SetText(const std::u16string& value) override {
        log.push_back((name == "panel 1" ? "panel 1 text " : "status ") + ToUtf8(text = value));
    }
    Lines& log;
    std::string name;
    int32_t bevel = 1, autoSize = 0;  // inset and fixed, as designed
    std::u16string text;
};

struct Bar final : StatusBar {
    explicit Bar(Lines& log) : log(log) { panels.push_back(std::make_unique<MemoryPanel>(log, 1)); }  // the design's one
    int32_t Count() const override { return static_cast<int32_t>(panels.size()); }
    Panel& Item(int32_t index) override {
        if (index < 1 || index > Count()) throw PlatformError(kErrIndexOutOfBounds, u"Index out of bounds");
        return *panels[static_cast<size_t>(index - 1)];
    }
    Panel& Add() override {
        panels.push_back(std::make_unique<MemoryPanel>(log, Count() + 1));
        log.push_back(panels.back()->name + " added");
        return *panels.back();
    }
    Lines& log;
    std::vector<std::unique_ptr<MemoryPanel>> panels;
};

constexpr int32_t kErrorIcon = 16;  // MB_ICONERROR

// Message boxes are answered at once.
class MemoryPlayer final : public Player, private Shell {
public:
    // Call `failAt` (from 1) raises, or returns code 5 when `raise` is unset.
    explicit MemoryPlayer(size_t failAt = 0, bool raise = true)
        : tree_([this] { lastClearAt = machine.calls.size(); }), refresh_(log, "Refresh"), start_(log, "Start"),
          cancel_(log, "Cancel"), label_(log), bar_(log),
          form_(FormControls{refresh_, start_, cancel_, label_, bar_, tree_},
                FormServices{machine.management(), machine.files(), *this}) {
        machine.fault = [this, failAt, raise](const std::string& call) -> std::optional<int32_t> {
            log.push_back(call);
            const auto named = failing_.find(call);
            const bool injected = ++calls_ == failAt;
            const bool failing = injected || named != failing_.end();
            if (injected) Note();
            const std::optional<int32_t> code = !injected ? named->second : raise ? std::nullopt : std::optional(5);
            // A call about a file or folder names it, as the real service's failures do.
            const std::string arg = Word(call).second;
            const std::u16string path = paths::Parse(FromUtf8(arg)) ? FromUtf8(arg) : u"";
            if (failing && !code) throw PlatformError(-2147467259, u"Call failed.", path);
            return failing ? code : std::nullopt;
        };
        tree_.SetNodeCheckHandler([this](TreeNode& node) { form_.TreeView1_NodeCheck(node); });
    }

    memory::Machine machine;
    Lines log;                // the controls' events and the machine's calls, in order
    size_t lastClearAt = 0;   // calls made when the tree was last cleared, as a population does first
    size_t startAt = 0;       // calls made before Start was first pressed
    bool ended = false;
    std::vector<size_t> boxCalls;  // calls made when each box was shown
    // At the failing call: the node key being removed, the status text, the
    // folder it names and where the log stood.
    std::u16string failedKey, failedStatus;
    std::string failedFolder;
    size_t failedLogAt = 0;

    int32_t MsgBox(const std::u16string& prompt, int32_t buttons, const std::optional<std::u16string>& title) override {
        const std::string shown = title.value_or(u"") == u"" ? "-" : ToUtf8(*title);
        log.push_back("box " + std::to_string(buttons) + " " + shown + " " + Render(prompt));
        boxCalls.push_back(machine.calls.size());
        boxes.push_back(ShownBox(ToUtf8(title.value_or(u"")), buttons != kMsgBoxOkOnly, ToUtf8(prompt)));
        BoxShown(boxes.back());
        return kMsgBoxResultOk;
    }
    void End() override { ended = true; }

    void Key(const std::string& hive, const std::string& path) override { machine.SetValue(hive, FromUtf8(path)); }
    void Value(const std::string& hive, const std::string& path, const std::string& name, const std::string& data,
               Type type) override {
        machine.SetValue(hive, FromUtf8(path), FromUtf8(name), FromUtf8(data), type == Type::Dword, type == Type::Expandable);
    }
    // Uninstall entries named so that they list in the order of their
    // products' names, as the test packages' codes do.
    std::string Msi(const std::string& name, const std::string& version, const std::string& folder,
                    const std::optional<std::string>& location) override {
        const std::string entry = std::string(kUninstall) + "\\{" + name + "}";
        const std::string home = Macro("pf86", "") + "\\" + folder;
        Value("HKLM", entry, "DisplayName", name, Type::String);
        Value("HKLM", entry, "DisplayVersion", version, Type::String);
        Value("HKLM", entry, "InstallLocation", location.value_or(home + "\\"), Type::String);
        File(home + "\\readme.txt", false, false, false);
        machine.AddProduct(FromUtf8(name), 0, FromUtf8(entry), FromUtf8(home + "\\readme.txt"));
        return entry;
    }
    void File(const std::string& path, bool readOnly, bool hidden, bool held) override {
        machine.AddEntry(FromUtf8(path), false, readOnly, hidden, held);
    }
    void Folder(const std::string& path) override { machine.AddEntry(FromUtf8(path), true); }
    void Hold(const std::string& folder) override { machine.AddEntry(FromUtf8(folder), true, false, false, true); }
    void Link(const std::string& path, const std::string& target) override { machine.AddLink(FromUtf8(path), FromUtf8(target)); }
    void Move(const std::string& path, const std::string& to) override { machine.Move(FromUtf8(path), FromUtf8(to)); }
    std::string Name() const override { return "memory"; }
    void KeyLink(const std::string& hive, const std::string& path, const std::string& targetHive, const std::string& target) override {
        machine.AddKeyLink(hive, FromUtf8(path), targetHive, FromUtf8(target));
    }
    std::string Macro(const std::string& name, const std::string& argument) override {
        if (name == "windows") return "C:\\OS\\windows";
        if (name == "documents") return "C:\\users\\user\\Documents";
        if (name == "profile") return "C:\\users\\user";
        if (name == "pf86") return "C:\\Program Files (x86)";
        if (name == "outside") return "Z:\\outside";  // beyond the machine's own drive
        if (name == "short") return ToUtf8(machine.ShortPath(FromUtf8(argument)));
        throw std::runtime_error("unknown macro " + name);
    }
    bool Other(const Step& s) override {
        const auto [mode, rest] = Word(s.arg);
        for (const auto& one : Fields(s.arg, ';')) {  // "product NAME [| uninstall code]; ..."
            const auto f = Fields(one);
            if (s.verb == "product") machine.AddProduct(FromUtf8(f.at(0)), f.size() > 1 ? std::stoi(f[1]) : 0);
        }
        // "fail raise CALL" or "fail code N CALL"
        if (s.verb == "fail" && mode == "raise") failing_[rest] = std::nullopt;
        else if (s.verb == "fail") failing_[Word(rest).second] = std::stoi(Word(rest).first);
        return s.verb == "product" || s.verb == "fail";
    }

    void Open() override {
        logFrom_ = log.size();
        Run([&] { form_.Form_Load(); });
        Run([&] { form_.Form_Activate(); });
    }
    void Toggle(const std::string& caption, const std::string& how) override {
        const auto to = how == "tick" ? std::optional(true) : how == "untick" ? std::optional(false) : std::nullopt;
        logFrom_ = log.size();
        Run([&] { tree_.Toggle(FromUtf8(caption), to); });
    }
    void Press(const std::string& button) override {
        if (button == "start" && startAt == 0) startAt = machine.calls.size();
        logFrom_ = log.size();
        // A disabled button takes no click.
        if (button == "refresh" && refresh_.enabled) Run([&] { form_.Command1_Click(); });
        if (button == "start" && start_.enabled) Run([&] { form_.Command2_Click(); });
        if (button == "cancel" && cancel_.enabled) Run([&] { form_.Command3_Click(); });
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
        if (tree_.Nodes().Count() > 0) visit(visit, &tree_.Nodes().Item(1), 0);
        return shown;
    }
    std::vector<std::string> Window() override {
        if (ended) return {"ended"};
        std::vector<ShownPanel> panels;
        for (const auto& p : bar_.panels) panels.push_back({p->bevel == kPanelNoBevel, p->autoSize == kPanelSpring, ToUtf8(p->text)});
        return ShownWindow({{"Refresh", refresh_.enabled}, {"Start", start_.enabled}, {"Cancel", cancel_.enabled}}, panels,
                           ToUtf8(label_.caption));
    }
    // What the last action did, in the log's words.
    std::optional<std::vector<std::string>> Log(const std::string& words) override {
        const auto wanted = Fields(words, ' ');
        std::vector<std::string> picked;
        std::copy_if(log.begin() + static_cast<long>(logFrom_), log.end(), std::back_inserter(picked), [&](auto& line) {
            return std::find(wanted.begin(), wanted.end(), Word(line).first) != wanted.end();
        });
        return picked;
    }
    std::vector<std::string> Describe() override { return machine.Describe(); }
    ManagementService& Management() override { return machine.management(); }
    FileService& Files() override { return machine.files(); }
    bool SafeToErase(const std::string& folder) override { return IsSafeToErase(FromUtf8(folder), machine.files()); }

private:
    // Runs a handler as the runtime does: an error that escapes it is
    // reported and ends the program, after which no handler runs.
    template <typename Handler>
    void Run(Handler handler) {
        if (ended) return;
        try {
            handler();
        } catch (const PlatformError& error) {
            MsgBox(error.description(), kErrorIcon, u"Clearstrand");
            ended = true;
        }
    }

    void Note() {
        failedKey = tree_.lastKey;
        failedStatus = bar_.panels.size() > 1 ? bar_.panels[1]->text : u"";
        constexpr std::u16string_view kDeleting = u"Deleting ";
        const std::u16string folder = failedStatus.rfind(kDeleting, 0) == 0 ? failedStatus.substr(kDeleting.size()) : u"";
        const memory::Machine::Entry* entry = machine.Resolve(folder, true);
        failedFolder = entry ? ToUtf8(entry->path) : "";
        failedLogAt = log.size();
    }

    size_t calls_ = 0;
    size_t logFrom_ = 0;
    std::map<std::string, std::optional<int32_t>> failing_;
    MemoryTree tree_;
    Button refresh_, start_, cancel_;
    MemoryLabel label_;
    Bar bar_;
    Form1 form_;
};

// What one failing call must leave: the box that names it, as the user
// reads it, or, for `alone`, that box with nothing of the failure's reason.
struct Failure {
    std::string box;
    bool alone;
};

// The calls that return a code; any other call can only raise.
bool Coded(const std::string& verb) {
    return verb == "EnumKey" || verb == "GetStringValue" || verb == "DeleteKey" || verb == "DeleteLink" || verb == "UnInstall";
}
// The calls the folder rule rests on: failing, they must refuse the folder.
bool Safety(const std::string& verb) { return verb == "FinalPath" || verb == "GetProtectedFolders"; }

// The box a failing call must show: a file call names its path, a registry
// call the key it was removing, any other the product; the safety rule's
// calls name the folder they were checking.
Failure Expected(const MemoryPlayer& run, const std::string& call, bool raise) {
    const auto [verb, arg] = Word(call);
    const bool file = paths::Parse(FromUtf8(arg)).has_value();
    const bool registry = verb == "EnumKey" || verb == "DeleteKey" || verb == "LinkTarget" || verb == "DeleteLink" ||
                          call.find("StdRegProv") != std::string::npos;
    std::string subject = file ? arg : ToUtf8(run.failedKey);
    if (Safety(verb)) subject = ToUtf8(run.failedStatus).substr(std::string("Deleting ").size());
    const std::string prefix = file || registry || Safety(verb) ? "Failed to delete " : "Failed to uninstall ";
    // Inside a key's recursive deletion a raised failure is skipped; the key
    // then cannot go, which its code says.
    return {prefix + subject + (raise ? " | Call failed." : ""), !raise || registry || Safety(verb)};
}

// What a failing registry call is about ("HKLM SOFTWARE\X"): the key it
// names, or for a deletion's connection the key the status names. Empty for
// any other call.
std::string About(const MemoryPlayer& run, const std::string& call) {
    const auto [verb, arg] = Word(call);
    if (verb == "EnumKey" || verb == "DeleteKey" || verb == "LinkTarget" || verb == "DeleteLink") return arg;
    const std::string status = ToUtf8(run.failedStatus);
    for (const auto& [number, hive] : {std::pair{"Deleting -2147483646\\", "HKLM "}, std::pair{"Deleting -2147483647\\", "HKCU "}}) {
        if (call == "connect " + ToUtf8(kRegistryDeleteMoniker) && status.rfind(number, 0) == 0) return hive + status.substr(strlen(number));
    }
    return "";
}

// Whether a failure about `about` may leave the thing a problem names: a
// failing registry call keeps only the keys above or below the one it is
// about, and the search goes on elsewhere.
bool Keeps(const std::string& about, const std::string& problem) {
    const std::string key = problem.substr(problem.find(": ") + 2);
    const auto inside = [](const std::string& a, const std::string& b) { return a.rfind(b, 0) == 0 && (a.size() == b.size() || a[b.size()] == '\\'); };
    return about.empty() || (key.rfind("key ", 0) == 0 && (inside(key.substr(4), about) || inside(about, key.substr(4))));
}

// Whether a box shown from the failing call on tells the user why a
// declared removal did not happen ("declared gone but still there: KIND
// WHAT"): a key's box names a node key that is one of its names; a
// product's, the product; a file's or folder's, its path or that of a child
// whose failure kept it or of a folder that holds it, however spelled. A
// product that stays, told, keeps what its package takes: its uninstall
// entry and its files.
bool Told(MemoryPlayer& run, size_t failedAt, const std::string& problem) {
    const auto [kind, what] = Word(problem.substr(problem.find(": ") + 2));
    // Where what a path names is now: the entry the service named by it,
    // wherever it moved since, or where the path leads.
    const auto place = [&](const std::string& path) {
        const auto named = run.machine.named.find(memory::Upper(FromUtf8(path)));
        const memory::Machine::Entry* entry = named != run.machine.named.end() ? run.machine.ById(named->second) : nullptr;
        if (!entry) entry = run.machine.Resolve(FromUtf8(path), true);
        return ToUtf8(memory::Upper(entry ? entry->path : FromUtf8(path)));
    };
    // What a failure kept from coming into being (a step played while a
    // box is up that never showed) did not stay.
    if ((kind == "folder" || kind == "file") && !run.machine.Resolve(FromUtf8(what), false)) return true;
    for (size_t b = 0; b < run.boxes.size(); ++b) {
        if (run.boxCalls[b] < failedAt) continue;
        const std::string& box = run.boxes[b];
        const auto subject = [&](const std::string& prefix) {
            return box.rfind(prefix, 0) == 0 ? box.substr(prefix.size(), box.find(" | ") - prefix.size()) : std::string("\n");
        };
        const std::string deleted = subject("Failed to delete "), uninstalled = subject("Failed to uninstall ");
        const auto names = Fields(Word(what).second, '\\');
        if (kind == "key" && std::find(names.begin(), names.end(), deleted) != names.end()) return true;
        if (kind == "product" && uninstalled == what) return true;
        if ((kind == "folder" || kind == "file") && deleted != "\n") {
            // A failure about a folder keeps all inside it.
            const std::string named = place(deleted), declared = place(what);
            if (named == declared || named.rfind(declared + "\\", 0) == 0 || declared.rfind(named + "\\", 0) == 0) return true;
        }
        const auto& left = run.problems;
        const bool packaged = kind == "folder" || kind == "file" || what.rfind(std::string("HKLM ") + kUninstall, 0) == 0;
        if (packaged && uninstalled != "\n" &&
            std::find(left.begin(), left.end(), "declared gone but still there: product " + uninstalled) != left.end()) {
            return true;
        }
    }
    return false;
}

// Whatever single call fails, raised or as a code: nothing that was not
// ticked changes, the ticked keys go but those the failure was about, every
// declared removal that did not happen is told in a box, the failure is
// named in a box of its own, a folder the safety rule could not check keeps
// all it holds, and the window is ready for the next run.
void PlayFaults(const Case& c) {
    MemoryPlayer clean;
    clean.Play(c, false);
    const auto& calls = clean.machine.calls;
    // From Start on: a failing population before it shows another tree,
    // whose own failures the discovery cases play.
    for (size_t k = clean.startAt + 1; k <= calls.size(); ++k) {
        const std::string verb = Word(calls[k - 1]).first;
        for (bool raise : {true, false}) {
            if (!raise && !Coded(verb)) continue;
            SCOPED_TRACE((raise ? "raise at call " : "code 5 at call ") + std::to_string(k) + ": " + calls[k - 1]);
            MemoryPlayer run(k, raise);
            run.Play(c, false);
            bool unfinished = false;
            const std::string about = About(run, calls[k - 1]);
            for (const auto& problem : run.problems) {
                const bool tolerated = problem.rfind("declared gone but", 0) == 0 && Keeps(about, problem);
                unfinished = unfinished || tolerated;
                if (!tolerated) ADD_FAILURE() << problem;
                EXPECT_TRUE(!tolerated || Told(run, k, problem)) << problem << ", and no box says why: " << ::testing::PrintToString(run.boxes);
            }
            const auto window = run.Window();
            if (k > clean.lastClearAt) {  // in the final population, which may end the program
                EXPECT_TRUE(run.ended || window.at(1).find("\"Ready\"") != std::string::npos) << window.at(1);
                continue;
            }
            EXPECT_EQ(window.at(0), "Refresh on, Start off, Cancel on");
            EXPECT_NE(window.at(1).find("\"Ready\""), std::string::npos) << window.at(1);
            // The first box after the failing call names it. It is a box of
            // its own: the run shows it more often than the clean run, less
            // those of the clean run that came after calls the failure
            // prevented; when the clean run failed this very call, as often.
            const Failure want = Expected(run, calls[k - 1], raise);
            const std::string bare = want.box.substr(0, want.box.find(" | Call failed."));
            const auto named = [&](const std::string& box) { return box == want.box || (want.alone && box == bare); };
            const auto next = std::find_if(run.boxCalls.begin(), run.boxCalls.end(), [&](size_t at) { return at >= k; });
            const bool first = next != run.boxCalls.end() && named(run.boxes[static_cast<size_t>(next - run.boxCalls.begin())]);
            // Masked: the clean run shows that box next, after calls about
            // the same subject alone, since that subject failed already.
            const auto cleanNext = std::find_if(clean.boxCalls.begin(), clean.boxCalls.end(), [&](size_t at) { return at >= k; });
            bool already = cleanNext != clean.boxCalls.end() && named(clean.boxes[static_cast<size_t>(cleanNext - clean.boxCalls.begin())]);
            for (size_t at = k - 1; already && at < *cleanNext; ++at) {
                already = Word(calls[at]).first == "connect" || Word(calls[at]).second.rfind(Word(calls[*cleanNext - 1]).second, 0) == 0;
            }
            long cleanCount = 0, prevented = 0;
            for (size_t b = 0; b < clean.boxes.size(); ++b) {
                if (!named(clean.boxes[b])) continue;
                ++cleanCount;
                const size_t at = clean.boxCalls[b];
                const std::string before = calls[at - 1];
                // Made during the removal, as often as before that box.
                const auto made = [&](const std::vector<std::string>& log, size_t end) {
                    return std::count(log.begin() + static_cast<long>(clean.startAt), log.begin() + static_cast<long>(end), before);
                };
                prevented += made(run.machine.calls, std::max(run.lastClearAt, clean.startAt)) < made(calls, at);
            }
            const long runCount = std::count_if(run.boxes.begin(), run.boxes.end(), named);
            // A box with the failure's reason is its own wherever the clean
            // run names the same subject.
            const auto exact = [&](const std::vector<std::string>& shown) { return std::count(shown.begin(), shown.end(), want.box); };
            const bool own = first && (exact(run.boxes) > exact(clean.boxes) || runCount >= cleanCount - prevented + (already ? 0 : 1));
            const bool must = raise || verb != "DeleteKey" || unfinished;
            EXPECT_TRUE(!must || own) << "expected a box of its own \"" << want.box << "\"; shown: " << ::testing::PrintToString(run.boxes);
            if (Safety(verb) && !run.failedFolder.empty()) {
                // Until the next status text, that folder's check: the same
                // folder may be checked and erased again for another product.
                const std::string inside = ToUtf8(memory::Upper(FromUtf8(run.failedFolder)));
                for (size_t at = run.failedLogAt; at < run.log.size() && Word(run.log[at]).first != "status"; ++at) {
                    const auto [kind, path] = Word(run.log[at]);
                    const bool erase = kind == "DeleteFile" || kind == "DeleteFolder";
                    const std::string upper = ToUtf8(memory::Upper(FromUtf8(path)));
                    EXPECT_FALSE(erase && (upper == inside || upper.rfind(inside + "\\", 0) == 0)) << "erased unchecked: " << path;
                }
            }
            if (::testing::Test::HasFailure()) return;
        }
    }
}

}  // namespace
}  // namespace clearstrand::scenario

int main(int argc, char** argv) {
    using namespace clearstrand::scenario;
    ::testing::InitGoogleTest(&argc, argv);
    for (const Case& c : Load(SCENARIO_DIR)) {
        Register("Scenario", c, [](const Case& c) { MemoryPlayer().Play(c); });
        if (std::any_of(c.steps.begin(), c.steps.end(), [](const Step& s) { return s.verb == "start"; })) {
            Register("Faults", c, PlayFaults);
        }
    }
    return RUN_ALL_TESTS();
}
