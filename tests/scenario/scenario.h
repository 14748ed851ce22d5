#pragma once

// Scenarios: a machine described in a few lines of text, what the user does
// to it, and what must show and be left afterwards. One Player plays them;
// the in-memory platform and the real program under Wine each supply the
// platform's part. The language is described in cases/README.

#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace clearstrand::scenario {

struct Step {
    std::string verb;                // the first word: "key", "tick", "tree"...
    std::string arg;                 // the rest of the line
    std::vector<std::string> block;  // the indented lines that follow, less two spaces
    std::string where;               // "file.txt:12", for messages
};

struct Case {
    std::string name;
    std::vector<Step> steps;
};

// Every case of every .txt file in a folder, or of one file.
std::vector<Case> Load(const std::string& path);

// "a | b | c" -> {"a", "b", "c"}, each trimmed.
std::vector<std::string> Fields(const std::string& text);
// The first word and the rest.
std::pair<std::string, std::string> Word(const std::string& text);

// Something that must have been removed from the machine: a registry key
// ("key HKLM SOFTWARE\X"), a folder or a file with all below it, a product.
struct Gone {
    std::string kind;
    std::string what;
    bool Covers(const std::string& line) const;
};

// Compares two descriptions of a machine, sorted lines such as
// "key HKLM SOFTWARE\X" or "file C:\X\a.txt [ro] = content": what appeared
// or changed, what vanished undeclared, and what was declared gone but is
// not. Empty when the machine changed exactly as declared.
std::vector<std::string> Diff(const std::vector<std::string>& before, const std::vector<std::string>& after,
                              const std::vector<Gone>& gone);

// Text as the scenarios write it: a carriage return as " | ", a line feed as "\n".
std::string Render(const std::string& text);

// One node of the tree as the user sees it, in display order.
struct Shown {
    int depth;
    std::string text;
    bool checked, bold, expanded;  // expanded shows only on a node with children
};

// Plays cases; a platform supplies the seeding, the program and what shows.
class Player {
public:
    virtual ~Player() = default;

    // Plays every step, closes the program and compares the machine. With
    // `check` unset nothing that shows is compared, and a step the changed
    // machine cannot take ends the case (for fault replays).
    void Play(const Case& c, bool check = true);

    std::vector<std::string> boxes;     // as the user saw them, the disclaimer first
    std::vector<std::string> problems;  // the machine's, after Play

protected:
    // Seeding. Hives are "HKLM" (its 32-bit view), "HKLM64" and "HKCU".
    virtual void Key(const std::string& hive, const std::string& path) = 0;
    virtual void Value(const std::string& hive, const std::string& path, const std::string& name,
                       const std::string& data, bool dword) = 0;
    // A test package: an uninstall entry, its folder under Program Files
    // (x86) with readme.txt, recorded as InstallLocation unless `location`
    // says otherwise. Gives the entry's path.
    virtual std::string Msi(const std::string& name, const std::string& version, const std::string& folder,
                            const std::optional<std::string>& location) = 0;
    virtual void File(const std::string& path, bool readOnly, bool hidden, bool held) = 0;
    virtual void Folder(const std::string& path) = 0;
    // "${name}" and "${name:argument}": the machine's own folders.
    virtual std::string Macro(const std::string& name, const std::string& argument) = 0;
    // Steps only one platform knows; false when unknown.
    virtual bool Other(const Step&) { return false; }

    // The program: opened with its disclaimer answered, driven, and closed
    // if it still runs. Every box it shows is answered and added to `boxes`.
    virtual void Open() = 0;
    virtual void Toggle(const std::string& caption, const std::string& how) = 0;  // tick, untick, space
    virtual void Press(const std::string& button) = 0;                             // start, refresh, cancel
    virtual void Close() = 0;
    virtual std::vector<Shown> Tree() = 0;
    // "ended", or the buttons, the status panels and the instruction text.
    virtual std::vector<std::string> Window() = 0;
    virtual std::optional<std::vector<std::string>> Layout() { return std::nullopt; }
    virtual std::optional<std::vector<std::string>> Log(const std::string& words) {
        (void)words;
        return std::nullopt;
    }
    virtual std::vector<std::string> Describe() = 0;
    // Gives a window that shows changes a moment later the time to show `want`.
    virtual void Settle(const std::function<bool()>& want) { (void)want; }

    bool opened = false;

private:
    void Seed(const Step& s);
    void Expect(const Step& s);
    template <typename Read, typename Want>
    void Compare(Read read, const Want& want);

    std::vector<std::string> before_;
    std::vector<Gone> gone_;
    std::map<std::string, std::pair<std::string, std::string>> packages_;  // name: entry, folder
    size_t boxesSeen_ = 1;  // the disclaimer is "disclaimer"'s
};

}  // namespace clearstrand::scenario
