#pragma once

// Scenarios: a machine described in a few lines of text, what the user does
// to it, and what must show and be left afterwards (see cases/README). One
// Player plays them; the in-memory platform and the real program under Wine
// each supply the platform's part.

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
    std::string where;               // "file.txt:12"
};

struct Case {
    std::string name;
    std::vector<Step> steps;
};

// Every case of every .txt file in a folder, or of one file.
std::vector<Case> Load(const std::string& path);
// A test named after the case, in `suite`, that hands the case to `play`.
void Register(const char* suite, const Case& c, std::function<void(const Case&)> play);
// "a | b | c" -> {"a", "b", "c"}, each trimmed.
std::vector<std::string> Fields(const std::string& text, char separator = '|');
// The first word and the rest.
std::pair<std::string, std::string> Word(const std::string& text);
// Text as the scenarios write it: a carriage return as " | ", a line feed as "\n".
std::string Render(const std::string& text);

// Something that must have been removed: "key HKLM SOFTWARE\X", a folder or
// a file with all below it, a product.
struct Gone {
    std::string kind, what;
    bool Covers(const std::string& line) const;
};

// Compares two descriptions of a machine (sorted lines such as
// "key HKLM SOFTWARE\X" or "file C:\X\a.txt [ro] = content"): what appeared
// or changed, what vanished undeclared, what was declared gone but is not.
std::vector<std::string> Diff(const std::vector<std::string>& before, const std::vector<std::string>& after,
                              const std::vector<Gone>& gone);

// A node of the tree as the user sees it, in display order.
struct Shown {
    int depth;
    std::string text;
    bool checked, bold, expanded;
};

class Player {
public:
    virtual ~Player() = default;

    // Plays every step, closes the program and compares the machine. Without
    // `check` nothing shown is compared, and a step the machine cannot take
    // ends the case (for replays with a failing call).
    void Play(const Case& c, bool check = true);

    std::vector<std::string> boxes;     // as the user saw them, the disclaimer first
    std::vector<std::string> problems;  // the machine's, after Play

protected:
    // Seeding. Hives: "HKLM" (its 32-bit view), "HKLM64", "HKCU".
    virtual void Key(const std::string& hive, const std::string& path) = 0;
    virtual void Value(const std::string& hive, const std::string& path, const std::string& name,
                       const std::string& data, bool dword) = 0;
    // A test package: its uninstall entry (the path given back) and its
    // folder under Program Files (x86) with readme.txt, recorded as
    // InstallLocation unless `location` says otherwise.
    virtual std::string Msi(const std::string& name, const std::string& version, const std::string& folder,
                            const std::optional<std::string>& location) = 0;
    virtual void File(const std::string& path, bool readOnly, bool hidden, bool held) = 0;
    virtual void Folder(const std::string& path) = 0;
    virtual void Link(const std::string& path, const std::string& target) = 0;  // as a Unix symbolic link under Wine
    virtual std::string Macro(const std::string& name, const std::string& argument) = 0;  // the machine's folders
    virtual bool Other(const Step&) { return false; }  // steps one platform alone knows

    // The program. Every box it shows is answered and added to `boxes`.
    virtual void Open() = 0;
    virtual void Toggle(const std::string& caption, const std::string& how) = 0;  // tick, untick, space
    virtual void Press(const std::string& button) = 0;                             // start, refresh, cancel
    virtual void Close() = 0;
    virtual std::vector<Shown> Tree() = 0;
    // "ended", or the buttons, the status panels and the instruction text.
    virtual std::vector<std::string> Window() = 0;
    virtual std::optional<std::vector<std::string>> Log(const std::string&) { return std::nullopt; }
    virtual std::vector<std::string> Describe() = 0;
    virtual bool SafeToErase(const std::string& folder) = 0;  // the removal's own rule, on this machine
    // A window that catches up later gets a moment to show `want`.
    virtual void Settle(const std::function<bool()>&) {}

    bool opened = false;

private:
    void Seed(const Step& s);
    void Expect(const Step& s);

    std::vector<std::string> before_;
    std::vector<Gone> gone_;
    std::map<std::string, std::pair<std::string, std::string>> packages_;  // name: entry, folder
    size_t boxesSeen_ = 1;  // the disclaimer is "disclaimer"'s
};

}  // namespace clearstrand::scenario
