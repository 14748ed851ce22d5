#pragma once

// Scenarios: a machine described in a few lines of text, what the user does
// to it, and what must show and be left afterwards. The same files are
// played against the in-memory platform and, for real.txt, against the real
// program under Wine. See tests/scenarios/README for the language.

#include <functional>
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

// Every case of every .txt file in `folder`, or of one file.
std::vector<Case> Load(const std::string& path);

// "a | b | c" -> {"a", "b", "c"}, each trimmed.
std::vector<std::string> Fields(const std::string& text);
// The first word and the rest.
std::pair<std::string, std::string> Word(const std::string& text);

// A "gone" line: something that must have been removed from the machine.
// `Covers` tells whether a line of a machine's description falls under it.
struct Gone {
    std::string kind;  // key, folder, file, product
    std::string what;  // "HKLM SOFTWARE\X", "C:\X", a product's name
    bool Covers(const std::string& line) const;
};

// Compares two descriptions of the machine against the gone lines: the lines
// that vanished, the lines that appeared or changed, and the gone lines that
// took nothing. Empty when the machine changed exactly as declared.
std::vector<std::string> Diff(const std::vector<std::string>& before, const std::vector<std::string>& after,
                              const std::vector<Gone>& gone);

// Replaces the macros of a step, innermost first: "${x40}" is forty x's,
// "${sp}" a space (which a field would otherwise lose), and any other
// "${name}" or "${name:argument}" is what `lookup` gives for it, such as the
// machine's own Windows folder or a path's short form.
std::string Expand(std::string text, const std::function<std::string(const std::string& name, const std::string& argument)>& lookup);

// Only the lines that start with one of `words` (the first word of a line).
std::vector<std::string> Filter(const std::vector<std::string>& lines, const std::string& words);

}  // namespace clearstrand::scenario
