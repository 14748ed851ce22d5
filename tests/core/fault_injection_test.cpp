// The removal run over generated machines with one platform call failing:
// for every call k of a run, once with a failure code (where the call returns
// one) and once raised. Whatever fails, the run must say so, go on, end with
// "Ready", and change nothing the user did not tick.

#include <algorithm>
#include <chrono>
#include <functional>
#include <iostream>
#include <map>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>

#include <gtest/gtest.h>

#include "core/machine_generator.h"
#include "memory/fold.h"
#include "memory/memory_controls.h"

namespace clearstrand {
namespace {

using memory_detail::Fold;
using memory_detail::SplitPath;

// ---------------------------------------------------------------------------
// Counting decorators over the in-memory platform.

struct PlatformCall {
    std::string method;   // "EnumKey", "GetRegistryProvider", "DeleteFile", ...
    int32_t hive = 0;     // registry calls only
    std::u16string arg;   // path, moniker or query
    bool returnsCode = false;
    size_t logPosition = 0;  // index of this call in the shared EventLog
};

class FaultPlan {
public:
    enum class Kind { Raise, Code };

    explicit FaultPlan(EventLog& log) : log_(log) {}

    void Arm(int64_t faultAt, Kind kind) {
        armed_ = true;
        faultAt_ = faultAt;
        kind_ = kind;
    }

    // Counts the call; raises at the chosen one, or returns true when the
    // call must return a failure code instead of reaching the platform.
    bool Next(PlatformCall call) {
        if (!armed_) return false;
        call.logPosition = log_.events.size();
        log_.Add("call " + std::to_string(calls.size() + 1) + " " + call.method + " " + ToUtf8(call.arg));
        calls.push_back(call);
        if (static_cast<int64_t>(calls.size()) != faultAt_) return false;
        faulted = call;
        if (kind_ == Kind::Raise) {
            raised = u"Injected fault at call " + FromUtf8(std::to_string(faultAt_)) + u": " +
                     FromUtf8(call.method) + u" " + call.arg;
            throw PlatformError(static_cast<int32_t>(0x80004005u), *raised);
        }
        codeReturned = call.returnsCode;
        return call.returnsCode;
    }

    std::vector<PlatformCall> calls;
    std::optional<PlatformCall> faulted;
    std::optional<std::u16string> raised;
    bool codeReturned = false;

private:
    EventLog& log_;
    bool armed_ = false;
    int64_t faultAt_ = 0;
    Kind kind_ = Kind::Raise;
};

class FaultyProvider : public RegistryProvider {
public:
    FaultyProvider(std::unique_ptr<RegistryProvider> inner, FaultPlan& plan) : inner_(std::move(inner)), plan_(plan) {}

    int32_t EnumKey(int32_t hive, const std::u16string& path, std::vector<std::u16string>& names) override {
        if (plan_.Next({"EnumKey", hive, path, true})) {
            names.clear();
            return kRegAccessDenied;
        }
        return inner_->EnumKey(hive, path, names);
    }
    int32_t GetStringValue(int32_t hive, const std::u16string& path, const std::u16string& valueName,
                           std::u16string& value) override {
        if (plan_.Next({"GetStringValue", hive, path + u" " + valueName, true})) return kRegAccessDenied;
        return inner_->GetStringValue(hive, path, valueName, value);
    }
    int32_t DeleteKey(int32_t hive, const std::u16string& path) override {
        if (plan_.Next({"DeleteKey", hive, path, true})) return kRegAccessDenied;
        return inner_->DeleteKey(hive, path);
    }

private:
    std::unique_ptr<RegistryProvider> inner_;
    FaultPlan& plan_;
};

constexpr int32_t kInstallFailure = 1603;  // ERROR_INSTALL_FAILURE

class FaultyProduct : public InstalledProduct {
public:
    FaultyProduct(std::unique_ptr<InstalledProduct> inner, FaultPlan& plan) : inner_(std::move(inner)), plan_(plan) {}
    std::u16string Name() override {
        plan_.Next({"Name", 0, {}, false});
        return inner_->Name();
    }
    int32_t UnInstall() override {
        if (plan_.Next({"UnInstall", 0, {}, true})) return kInstallFailure;
        return inner_->UnInstall();
    }

private:
    std::unique_ptr<InstalledProduct> inner_;
    FaultPlan& plan_;
};

class FaultyServices : public ManagementServices {
public:
    FaultyServices(std::unique_ptr<ManagementServices> inner, FaultPlan& plan) : inner_(std::move(inner)), plan_(plan) {}
    ProductCollection ExecQuery(const std::u16string& query) override {
        plan_.Next({"ExecQuery", 0, query, false});
        ProductCollection wrapped;
        for (auto& product : inner_->ExecQuery(query)) {
            wrapped.push_back(std::make_unique<FaultyProduct>(std::move(product), plan_));
        }
        return wrapped;
    }

private:
    std::unique_ptr<ManagementServices> inner_;
    FaultPlan& plan_;
};

class FaultyManagement : public ManagementService {
public:
    FaultyManagement(ManagementService& inner, FaultPlan& plan) : inner_(inner), plan_(plan) {}
    std::unique_ptr<RegistryProvider> GetRegistryProvider(const std::u16string& moniker) override {
        plan_.Next({"GetRegistryProvider", 0, moniker, false});
        return std::make_unique<FaultyProvider>(inner_.GetRegistryProvider(moniker), plan_);
    }
    std::unique_ptr<ManagementServices> GetServices(const std::u16string& moniker) override {
        plan_.Next({"GetServices", 0, moniker, false});
        return std::make_unique<FaultyServices>(inner_.GetServices(moniker), plan_);
    }

private:
    ManagementService& inner_;
    FaultPlan& plan_;
};

class FaultyFile : public File {
public:
    FaultyFile(std::unique_ptr<File> inner, FaultPlan& plan) : inner_(std::move(inner)), plan_(plan) {}
    std::u16string Path() const override {
        plan_.Next({"File.Path", 0, inner_->Path(), false});
        return inner_->Path();
    }
    void Delete(bool force) override {
        plan_.Next({"DeleteFile", 0, inner_->Path(), false});
        inner_->Delete(force);
    }

private:
    std::unique_ptr<File> inner_;
    FaultPlan& plan_;
};

class FaultyFolder : public Folder {
public:
    FaultyFolder(std::unique_ptr<Folder> inner, FaultPlan& plan) : inner_(std::move(inner)), plan_(plan) {}
    std::u16string Path() const override {
        plan_.Next({"Folder.Path", 0, inner_->Path(), false});
        return inner_->Path();
    }
    std::vector<std::unique_ptr<File>> Files() override {
        plan_.Next({"Files", 0, inner_->Path(), false});
        std::vector<std::unique_ptr<File>> wrapped;
        for (auto& file : inner_->Files()) wrapped.push_back(std::make_unique<FaultyFile>(std::move(file), plan_));
        return wrapped;
    }
    std::vector<std::unique_ptr<Folder>> SubFolders() override {
        plan_.Next({"SubFolders", 0, inner_->Path(), false});
        std::vector<std::unique_ptr<Folder>> wrapped;
        for (auto& folder : inner_->SubFolders()) {
            wrapped.push_back(std::make_unique<FaultyFolder>(std::move(folder), plan_));
        }
        return wrapped;
    }
    void Delete(bool force) override {
        plan_.Next({"DeleteFolder", 0, inner_->Path(), false});
        inner_->Delete(force);
    }

private:
    std::unique_ptr<Folder> inner_;
    FaultPlan& plan_;
};

class FaultyFileSystem : public FileSystem {
public:
    FaultyFileSystem(std::unique_ptr<FileSystem> inner, FaultPlan& plan) : inner_(std::move(inner)), plan_(plan) {}
    bool FolderExists(const std::u16string& path) override {
        plan_.Next({"FolderExists", 0, path, false});
        return inner_->FolderExists(path);
    }
    std::unique_ptr<Folder> GetFolder(const std::u16string& path) override {
        plan_.Next({"GetFolder", 0, path, false});
        return std::make_unique<FaultyFolder>(inner_->GetFolder(path), plan_);
    }

private:
    std::unique_ptr<FileSystem> inner_;
    FaultPlan& plan_;
};

class FaultyFileService : public FileService {
public:
    FaultyFileService(FileService& inner, FaultPlan& plan) : inner_(inner), plan_(plan) {}
    std::unique_ptr<FileSystem> CreateFileSystem() override {
        plan_.Next({"CreateFileSystem", 0, {}, false});
        return std::make_unique<FaultyFileSystem>(inner_.CreateFileSystem(), plan_);
    }
    ProtectedFolders GetProtectedFolders() override {
        plan_.Next({"GetProtectedFolders", 0, {}, false});
        return inner_.GetProtectedFolders();
    }

private:
    FileService& inner_;
    FaultPlan& plan_;
};

// ---------------------------------------------------------------------------
// One run: a fresh machine, started and ticked as a user would, then Start.

const std::u16string kSearchMoniker = kRegistryMonikerImpersonate;
const std::u16string kDeleteMoniker = kRegistryMonikerPlain;

struct RegistryState {
    std::set<std::pair<int32_t, std::u16string>> keys;                       // paths as stored
    std::map<std::tuple<int32_t, std::u16string, std::u16string>, std::optional<std::u16string>> values;
};

// Every key's path as the registry keeps it, by its folded path.
void WalkKeys(const MemoryRegistry& registry, int32_t hive, const std::u16string& path,
              std::map<std::pair<int32_t, std::u16string>, std::u16string>& stored) {
    for (const auto& name : registry.SubKeys(hive, path)) {
        const std::u16string child = path.empty() ? name : path + u"\\" + name;
        stored[{hive, Fold(child)}] = child;
        WalkKeys(registry, hive, child, stored);
    }
}

// Values are keyed by the path as the machine was made, so that a deleted
// key's values still compare.
RegistryState Snapshot(const MemoryRegistry& registry, const testing::Machine& machine) {
    RegistryState state;
    std::map<std::pair<int32_t, std::u16string>, std::u16string> stored;
    for (int32_t hive : {kHiveLocalMachine, kHiveCurrentUser}) WalkKeys(registry, hive, u"", stored);
    for (const auto& [where, path] : stored) state.keys.insert({where.first, path});
    for (const auto& key : machine.keys) {
        for (const auto& value : key.values) {
            state.values[{key.hive, key.path, value.name}] = registry.GetString(key.hive, key.path, value.name);
        }
    }
    return state;
}

class RemovalRun {
public:
    RemovalRun(const testing::Machine& machine, uint64_t tickSeed)
        : form_(FormControls{platform.command1, platform.command2, platform.command3, platform.label2,
                             platform.statusBar, platform.tree},
                FormServices{management_, files_, platform.shell}) {
        testing::Apply(machine, platform.registry, platform.installer, platform.files);
        platform.tree.SetNodeCheckHandler([this](TreeNode& node) { form_.TreeView1_NodeCheck(node); });
        form_.Form_Load();
        form_.Form_Activate();
        Tick(tickSeed);
    }

    // Ticks the nodes with these keys instead.
    RemovalRun(const testing::Machine& machine, const std::vector<std::u16string>& keys)
        : RemovalRun(machine, uint64_t{0}) {
        for (const auto& key : ticked) platform.tree.UserToggle(*platform.tree.Find(key));
        ticked.clear();
        for (const auto& key : keys) {
            TreeNode* node = platform.tree.Find(key);
            if (!node) throw std::runtime_error("no node " + ToUtf8(key));
            if (!node->Checked()) platform.tree.UserToggle(*node);
        }
        Collect();
    }

    // Ticks as a user would: now and then "Root", otherwise a few nodes,
    // each toggle propagating through the form's handler.
    void Tick(uint64_t seed) {
        std::mt19937_64 rng(seed);
        TreeNodes& nodes = platform.tree.Nodes();
        const int32_t count = nodes.Count();
        if (std::uniform_int_distribution<int>(0, 99)(rng) < 15) {
            platform.tree.UserToggle(nodes.Item(1));
            return Collect();
        }
        // Mostly leaves: products and keys, each without what is above it.
        std::vector<int32_t> leaves;
        for (int32_t i = 1; i <= count; ++i) {
            if (nodes.Item(i).Children() == 0) leaves.push_back(i);
        }
        const int toggles = std::uniform_int_distribution<int>(1, 4)(rng);
        for (int i = 0; i < toggles; ++i) {
            const bool leaf = !leaves.empty() && std::uniform_int_distribution<int>(0, 99)(rng) < 75;
            const int32_t index = leaf ? leaves[std::uniform_int_distribution<size_t>(0, leaves.size() - 1)(rng)]
                                       : std::uniform_int_distribution<int32_t>(1, count)(rng);
            platform.tree.UserToggle(nodes.Item(index));
        }
        Collect();
    }

    void Collect() {
        TreeNodes& nodes = platform.tree.Nodes();
        const int32_t count = nodes.Count();
        for (int32_t i = 1; i <= count; ++i) {
            if (nodes.Item(i).Checked()) ticked.insert(nodes.Item(i).Key());
        }
    }

    // Start, with the fault armed; a failure that leaves the run is kept.
    void Start(int64_t faultAt, FaultPlan::Kind kind) {
        boxesBefore = platform.shell.boxes.size();
        errorsBefore = platform.shell.errors.size();
        plan.Arm(faultAt, kind);
        try {
            form_.Command2_Click();
        } catch (const PlatformError& error) {
            escaped = error.description();
        }
    }

    MemoryPlatform platform;
    FaultPlan plan{platform.log};
    std::set<std::u16string> ticked;
    std::optional<std::u16string> escaped;
    size_t boxesBefore = 0;
    size_t errorsBefore = 0;

private:
    FaultyManagement management_{platform.management, plan};
    FaultyFileService files_{platform.files, plan};
    Form1 form_;
};

// ---------------------------------------------------------------------------
// What a raised failure at a call must lead to.

enum class Outcome { Reported, Silent, Propagates };

const char* Name(Outcome outcome) {
    switch (outcome) {
        case Outcome::Reported: return "reported";
        case Outcome::Silent: return "skipped silently";
        case Outcome::Propagates: return "passed out of the run";
    }
    return "?";
}

bool StartsWith(const std::string& text, const std::string& prefix) { return text.rfind(prefix, 0) == 0; }

bool IsUnder(const std::u16string& path, const std::u16string& top) {
    return path.size() > top.size() && path.compare(0, top.size(), top) == 0 && path[top.size()] == u'\\';
}

// Population skips failing value reads, and the final population's other
// failures leave the run; the recursive stretch of a key deletion skips its
// failures; every other failure inside an operation is reported and the run
// goes on.
Outcome Expect(const RemovalRun& run, size_t index) {
    const auto& calls = run.plan.calls;
    const PlatformCall& call = calls[index];
    if (call.method == "GetStringValue") return Outcome::Silent;

    size_t lastSearch = calls.size();  // the last search connection: population's, at the end of the run
    for (size_t i = calls.size(); i-- > 0;) {
        if (calls[i].method == "GetRegistryProvider" && calls[i].arg == kSearchMoniker) {
            lastSearch = i;
            break;
        }
    }
    if (lastSearch != calls.size() && index >= lastSearch) return Outcome::Propagates;

    if (call.method != "GetRegistryProvider" && call.method != "DeleteKey" && call.method != "EnumKey") {
        return Outcome::Reported;
    }
    // Inside a deletion? Find the status of the search that started it,
    // after this search's own connection.
    size_t connection = 0;
    for (size_t i = index; i-- > 0;) {
        if (calls[i].method == "GetRegistryProvider" && calls[i].arg == kSearchMoniker) {
            connection = calls[i].logPosition;
            break;
        }
    }
    const auto& events = run.platform.log.events;
    std::optional<int32_t> hive;
    std::u16string top;
    std::string lastStatus;
    for (size_t e = call.logPosition; e-- > connection;) {
        const std::string& event = events[e];
        if (!StartsWith(event, "status=")) continue;
        if (lastStatus.empty()) lastStatus = event;
        if (StartsWith(event, "status=Deleting HKEY_LOCAL_MACHINE\\")) {
            hive = kHiveLocalMachine;
        } else if (StartsWith(event, "status=Deleting HKEY_CURRENT_USER\\")) {
            hive = kHiveCurrentUser;
        } else {
            continue;
        }
        top = FromUtf8(event.substr(event.find('\\') + 1));
        break;
    }
    if (!hive) return Outcome::Reported;  // the search's own listing or connection

    if (call.method == "GetRegistryProvider") {
        if (call.arg != kDeleteMoniker) return Outcome::Reported;
        // The deletion level that connects has just shown its own path.
        const std::string own = "status=Deleting " + std::to_string(*hive) + "\\" + ToUtf8(top);
        return lastStatus == own ? Outcome::Reported : Outcome::Silent;
    }
    if (call.hive != *hive) return Outcome::Reported;
    if (call.method == "DeleteKey") {
        if (call.arg == top) return Outcome::Reported;  // the first and the last DeleteKey of the key itself
        return IsUnder(call.arg, top) ? Outcome::Silent : Outcome::Reported;
    }
    // EnumKey of the key being deleted or below it is inside the skipped stretch.
    return call.arg == top || IsUnder(call.arg, top) ? Outcome::Silent : Outcome::Reported;
}

// ---------------------------------------------------------------------------
// The checks.

struct Before {
    RegistryState registry;
    std::map<std::pair<int32_t, std::u16string>, std::u16string> stored;  // machine path -> stored path
    std::vector<std::u16string> products;
    std::vector<std::u16string> files;
    std::vector<ProductRow> rows;
};

Before Capture(RemovalRun& run, const testing::Machine& machine) {
    Before before{Snapshot(run.platform.registry, machine), {}, run.platform.installer.ProductNames(),
                  run.platform.files.AllPaths(), testing::ExpectPopulation(run.platform.registry).rows};
    std::map<std::pair<int32_t, std::u16string>, std::u16string> byFolded;
    for (int32_t hive : {kHiveLocalMachine, kHiveCurrentUser}) WalkKeys(run.platform.registry, hive, u"", byFolded);
    for (const auto& key : machine.keys) {
        before.stored[{key.hive, key.path}] = byFolded.at({key.hive, Fold(key.path)});
    }
    return before;
}

size_t CountOf(const std::vector<std::u16string>& list, const std::u16string& name) {
    return static_cast<size_t>(std::count(list.begin(), list.end(), name));
}

// The key at this path is one that removal of a ticked key may delete: the
// key itself at one of the six places, or anything below it.
bool MayDeleteKey(const std::u16string& path, const std::set<std::u16string>& ticked) {
    const auto parts = SplitPath(path);
    if (parts.size() < 2 || Fold(parts[0]) != u"SOFTWARE") return false;
    if (ticked.count(parts[1])) return true;
    return parts.size() >= 3 && (parts[1] == u"Veltramark" || parts[1] == u"Planoview") && ticked.count(parts[2]);
}

// Where the key a ticked node names stands at one of the six places.
bool IsPlaceOfTicked(const std::u16string& path, const std::u16string& key) {
    const auto parts = SplitPath(path);
    if (parts.size() < 2 || Fold(parts[0]) != u"SOFTWARE") return false;
    if (parts.size() == 2) return parts[1] == key;
    return parts.size() == 3 && (parts[1] == u"Veltramark" || parts[1] == u"Planoview") && parts[2] == key;
}

std::u16string Trimmed(std::u16string path) {
    while (!path.empty() && path.back() == u'\\') path.pop_back();
    return path;
}

struct Totals {
    int machines = 0;
    int runs = 0;
    int faults = 0;
    std::map<std::string, int> outcomes;
};

void CheckRun(RemovalRun& run, const testing::Machine& machine, const Before& before, std::optional<Outcome> expected,
              Totals& totals) {
    auto& shell = run.platform.shell;
    const std::vector<MsgBoxRecord> boxes(shell.boxes.begin() + static_cast<long>(run.boxesBefore), shell.boxes.end());
    const std::vector<std::u16string> errors(shell.errors.begin() + static_cast<long>(run.errorsBefore),
                                             shell.errors.end());
    const size_t injectedReports =
        run.plan.raised ? static_cast<size_t>(std::count(errors.begin(), errors.end(), *run.plan.raised)) : 0;

    // How the run ends.
    if (expected) {
        ++totals.outcomes[Name(*expected)];
        switch (*expected) {
            case Outcome::Propagates:
                EXPECT_EQ(run.escaped, run.plan.raised) << "a failure of the final population leaves the run";
                EXPECT_EQ(injectedReports, 0u);
                break;
            case Outcome::Silent:
                EXPECT_FALSE(run.escaped) << ToUtf8(*run.escaped);
                EXPECT_EQ(injectedReports, 0u) << "a skipped failure is not reported";
                break;
            case Outcome::Reported:
                EXPECT_FALSE(run.escaped) << ToUtf8(*run.escaped);
                EXPECT_EQ(injectedReports, 1u) << "a failure inside an operation is reported once";
                break;
        }
    } else {
        EXPECT_FALSE(run.escaped) << ToUtf8(*run.escaped);
    }
    if (!run.escaped) {
        EXPECT_EQ(run.platform.status(), u"Ready");
        EXPECT_TRUE(run.platform.command1.Enabled());
        EXPECT_FALSE(run.platform.command2.Enabled());
    }

    // Every message box is a failure of something ticked.
    std::set<std::u16string> failedDeletes, failedUninstalls;
    for (const auto& box : boxes) {
        EXPECT_EQ(box.buttons, kMsgBoxOkOnly);
        EXPECT_FALSE(box.title.has_value());
        const std::u16string& text = box.prompt;
        if (text.rfind(u"Failed to uninstall ", 0) == 0) {
            failedUninstalls.insert(text.substr(20));
            EXPECT_TRUE(run.ticked.count(text.substr(20))) << ToUtf8(text);
        } else if (text.rfind(u"Failed to delete ", 0) == 0) {
            failedDeletes.insert(text.substr(17));
        } else {
            ADD_FAILURE() << "unexpected message box: " << ToUtf8(text);
        }
    }

    // Nothing outside the ticked set changed: registry.
    const RegistryState after = Snapshot(run.platform.registry, machine);
    for (const auto& [hive, path] : before.registry.keys) {
        if (!after.keys.count({hive, path}) && !MayDeleteKey(path, run.ticked)) {
            ADD_FAILURE() << "deleted a key nobody ticked: " << hive << " " << ToUtf8(path);
        }
    }
    for (const auto& key : after.keys) {
        EXPECT_TRUE(before.registry.keys.count(key)) << "created a key: " << ToUtf8(key.second);
    }
    for (const auto& [where, value] : before.registry.values) {
        const auto& [hive, path, name] = where;
        if (after.values.at(where) != value && !MayDeleteKey(before.stored.at({hive, path}), run.ticked)) {
            ADD_FAILURE() << "changed a value nobody ticked: " << ToUtf8(path) << " " << ToUtf8(name);
        }
    }

    // Products.
    const auto productsAfter = run.platform.installer.ProductNames();
    std::set<std::u16string> uninstalled;
    for (const auto& name : std::set<std::u16string>(before.products.begin(), before.products.end())) {
        const size_t was = CountOf(before.products, name), is = CountOf(productsAfter, name);
        if (is < was) uninstalled.insert(name);
        if (!run.ticked.count(name)) {
            EXPECT_EQ(is, was) << "uninstalled a product nobody ticked: " << ToUtf8(name);
        } else if (is > 0) {
            // Still there: said so, by a message box or an error report.
            EXPECT_TRUE(failedUninstalls.count(name) || !errors.empty() || run.escaped)
                << "a ticked product stayed without a word: " << ToUtf8(name);
        }
    }

    // Files: only inside the program folder of a ticked product that the
    // run uninstalled, and only when that folder is an ordinary one.
    std::vector<std::u16string> erasable;
    for (const auto& name : uninstalled) {
        std::u16string location;
        for (const auto& row : before.rows) {
            if (row[1] == name) location = row[3];
        }
        const bool safe = std::find(machine.safeLocations.begin(), machine.safeLocations.end(), location) !=
                          machine.safeLocations.end();
        if (safe) erasable.push_back(Fold(Trimmed(location)));
    }
    const auto filesAfter = run.platform.files.AllPaths();
    const std::set<std::u16string> remaining(filesAfter.begin(), filesAfter.end());
    for (const auto& path : before.files) {
        if (remaining.count(path)) continue;
        const std::u16string folded = Fold(path);
        const bool allowed = std::any_of(erasable.begin(), erasable.end(), [&](const std::u16string& top) {
            return folded == top || IsUnder(folded, top);
        });
        if (!allowed) ADD_FAILURE() << "erased a path outside a ticked program folder: " << ToUtf8(path);
    }
    for (const auto& path : filesAfter) {
        EXPECT_TRUE(std::find(before.files.begin(), before.files.end(), path) != before.files.end())
            << "created " << ToUtf8(path);
    }

    // A ticked registry key still at its place was reported, unless a
    // listing failed with a code (listing codes are not examined).
    const bool listingFailed = run.plan.faulted && run.plan.codeReturned && run.plan.faulted->method == "EnumKey";
    for (const auto& [hive, path] : after.keys) {
        for (const auto& key : run.ticked) {
            if (!IsPlaceOfTicked(path, key) || !before.registry.keys.count({hive, path})) continue;
            EXPECT_TRUE(failedDeletes.count(key) || !errors.empty() || run.escaped || listingFailed)
                << "a ticked key stayed without a word: " << hive << " " << ToUtf8(path);
        }
    }
}

uint64_t BaseSeed() {
    if (const char* seed = std::getenv("CLEARSTRAND_SEED")) return std::strtoull(seed, nullptr, 10);
    return 7700;
}

TEST(FaultInjection, EveryFailingCallIsReportedAndNothingUntickedChanges) {
    const bool replay = std::getenv("CLEARSTRAND_SEED") != nullptr;
    const int machines = replay ? 1 : 24;
    const testing::GeneratorOptions options{.maxSoftwareKeys = 4, .maxContainerKeys = 3, .maxEntries = 5,
                                            .maxProducts = 5, .files = true, .coherent = true,
                                            .decoys = true};
    const auto start = std::chrono::steady_clock::now();
    Totals totals;
    for (int m = 0; m < machines && !::testing::Test::HasFailure(); ++m) {
        const uint64_t seed = BaseSeed() + static_cast<uint64_t>(m);
        SCOPED_TRACE("seed " + std::to_string(seed) + " (replay with CLEARSTRAND_SEED=" + std::to_string(seed) + ")");
        const testing::Machine machine = testing::MachineGenerator(seed).Generate(options);
        ++totals.machines;

        // Without a fault first, to count the calls; every run starts from this state.
        std::vector<PlatformCall> baseline;
        std::optional<Before> before;
        {
            RemovalRun run(machine, seed);
            before = Capture(run, machine);
            run.Start(0, FaultPlan::Kind::Raise);
            ++totals.runs;
            SCOPED_TRACE("no fault");
            CheckRun(run, machine, *before, std::nullopt, totals);
            baseline = run.plan.calls;
        }
        for (size_t k = 1; k <= baseline.size() && !::testing::Test::HasFailure(); ++k) {
            for (auto kind : {FaultPlan::Kind::Raise, FaultPlan::Kind::Code}) {
                if (kind == FaultPlan::Kind::Code && !baseline[k - 1].returnsCode) continue;
                SCOPED_TRACE(std::string(kind == FaultPlan::Kind::Raise ? "raised" : "code") + " at call " +
                             std::to_string(k) + ": " + baseline[k - 1].method + " " + ToUtf8(baseline[k - 1].arg));
                RemovalRun run(machine, seed);
                run.Start(static_cast<int64_t>(k), kind);
                ++totals.runs;
                ++totals.faults;
                ASSERT_GE(run.plan.calls.size(), k) << "the run took another road before the fault";
                ASSERT_EQ(run.plan.calls[k - 1].method, baseline[k - 1].method);
                std::optional<Outcome> expected;
                if (kind == FaultPlan::Kind::Raise) expected = Expect(run, k - 1);
                CheckRun(run, machine, *before, expected, totals);
            }
        }
    }
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start);
    std::cout << "fault injection: " << totals.machines << " machines, " << totals.runs << " runs, " << totals.faults
              << " faults";
    for (const auto& [outcome, count] : totals.outcomes) std::cout << ", " << count << " " << outcome;
    std::cout << ", " << ms.count() << " ms" << std::endl;
}

// Removal on machines built to be awkward, without injected faults.
struct HostileRemoval {
    const char* name;
    std::function<void(testing::Machine&)> build;
    std::vector<std::u16string> tick;
};

testing::GenKey Key(int32_t hive, std::u16string path) { return {hive, std::move(path), {}, {}}; }

void AddEntry(testing::Machine& m, const std::u16string& entry, const std::u16string& name,
              const std::u16string& version, const std::u16string& location) {
    m.keys.push_back({kHiveLocalMachine, testing::kUninstallRoot + u"\\" + entry,
                      {{u"DisplayName", true, name, 0}, {u"DisplayVersion", true, version, 0},
                       {u"InstallLocation", true, location, 0}},
                      {}});
}

const std::vector<HostileRemoval>& HostileRemovals() {
    static const std::vector<HostileRemoval> cases = {
        {"a release key 250 levels deep",
         [](testing::Machine& m) {
             std::u16string path = u"SOFTWARE\\Veltramark\\Veltramark 2005";
             for (int i = 0; i < 250; ++i) path += u"\\L";
             m.keys.push_back(Key(kHiveLocalMachine, path));
             m.keys.push_back(Key(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\Veltramark 2006\\L"));
         },
         {u"Veltramark 2005"}},
        {"a miscellaneous key with 3000 subkeys, one refused",
         [](testing::Machine& m) {
             for (int i = 0; i < 3000; ++i) {
                 m.keys.push_back(Key(kHiveCurrentUser, u"SOFTWARE\\KTRN\\k" + FromUtf8(std::to_string(i))));
             }
             m.keys.back().deleteRefused = kRegAccessDenied;
             m.keys.push_back(Key(kHiveCurrentUser, u"SOFTWARE\\KTRN2"));
         },
         {u"KTRN"}},
        {"five products of one name, one failing, sharing a folder",
         [](testing::Machine& m) {
             m.keys.push_back(Key(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\Veltramark 2003"));
             AddEntry(m, u"a", u"Veltramark 2003 SP1", u"11.0", u"C:\\Program Files\\Veltramark\\Veltramark 2003");
             for (int32_t code : {0, 3010, 1603, 1641, 0}) m.products.push_back({u"Veltramark 2003 SP1", code});
             m.files.push_back({testing::GenFile::Kind::File, u"C:\\Program Files\\Veltramark\\Veltramark 2003\\a.exe", {}});
             m.files.push_back({testing::GenFile::Kind::File, u"C:\\Program Files\\Veltramark\\keep.txt", {}});
             m.safeLocations.push_back(u"C:\\Program Files\\Veltramark\\Veltramark 2003");
         },
         {u"Veltramark 2003 SP1"}},
        {"Root ticked on a machine whose products are named like categories and point at the disk root",
         [](testing::Machine& m) {
             m.keys.push_back(Key(kHiveLocalMachine, u"SOFTWARE\\QBEL"));
             AddEntry(m, u"a", u"Tracemill 15", u"15.0", u"C:\\");
             AddEntry(m, u"b", u"Root", u"13.0", u"C:\\Windows");
             AddEntry(m, u"c", u"Tracemill 14", u"14.0", u"C:\\Users\\user\\Documents\\..\\..");
             for (const char16_t* name : {u"Tracemill 15", u"Root", u"registry", u"Tracemill 14", u"Other"}) {
                 m.products.push_back({name, 0});
             }
             for (const char16_t* path : {u"C:\\Windows\\win.ini", u"C:\\Users\\user\\Documents\\a.doc",
                                         u"C:\\boot.ini"}) {
                 m.files.push_back({testing::GenFile::Kind::File, path, {}});
             }
         },
         {u"Root"}},
        {"a key named like the container, ticked through its product",
         [](testing::Machine& m) {
             m.keys.push_back(Key(kHiveLocalMachine, u"SOFTWARE\\Veltramark\\Veltramark 2007\\Sub"));
             m.keys.push_back(Key(kHiveCurrentUser, u"SOFTWARE\\Planoview\\p2007"));
             AddEntry(m, u"a", u"Veltramark", u"15.0", u"");
             m.products.push_back({u"Veltramark", 0});
         },
         {u"Veltramark"}},
    };
    return cases;
}

TEST(FaultInjection, HostileMachinesLoseNothingUnticked) {
    Totals totals;
    for (const auto& hostile : HostileRemovals()) {
        SCOPED_TRACE(hostile.name);
        testing::Machine machine;
        hostile.build(machine);
        RemovalRun run(machine, hostile.tick);
        const Before before = Capture(run, machine);
        run.Start(0, FaultPlan::Kind::Raise);
        CheckRun(run, machine, before, std::nullopt, totals);
        // What was ticked and could go, went.
        for (const auto& key : run.ticked) {
            for (const auto& name : run.platform.installer.ProductNames()) {
                if (name == key) {
                    EXPECT_TRUE(std::any_of(run.platform.shell.boxes.begin(), run.platform.shell.boxes.end(),
                                            [&](const MsgBoxRecord& b) { return b.prompt == u"Failed to uninstall " + key; }));
                }
            }
        }
    }
    std::cout << "hostile removals: " << HostileRemovals().size() << " cases" << std::endl;
}

}  // namespace
}  // namespace clearstrand
