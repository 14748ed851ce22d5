#include "scenario/scenario.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace clearstrand::scenario {

namespace {

std::string Trim(const std::string& text) {
    const size_t first = text.find_first_not_of(" \t\r");
    if (first == std::string::npos) return {};
    return text.substr(first, text.find_last_not_of(" \t\r") - first + 1);
}

void LoadFile(const std::filesystem::path& file, std::vector<Case>& cases) {
    std::ifstream in(file);
    if (!in) throw std::runtime_error("cannot read " + file.string());
    std::string line;
    for (int number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        const std::string where = file.filename().string() + ":" + std::to_string(number);
        if (Trim(line).empty() || line[0] == '#') continue;
        if (line.rfind("== ", 0) == 0) {
            cases.push_back({Trim(line.substr(3)), {}});
        } else if (cases.empty()) {
            throw std::runtime_error(where + ": a step before the first \"== name\"");
        } else if (line.rfind("  ", 0) == 0) {
            if (cases.back().steps.empty()) throw std::runtime_error(where + ": an indented line with no step");
            cases.back().steps.back().block.push_back(line.substr(2));
        } else {
            auto [verb, arg] = Word(line);
            cases.back().steps.push_back({verb, arg, {}, where});
        }
    }
}

// The path a description line is about, and what follows it (" [ro]", " = x").
bool PathCovers(const std::string& line, const std::string& kind, const std::string& path, bool below) {
    const std::string head = kind + " " + path;
    if (line.rfind(head, 0) != 0) return false;
    const std::string rest = line.substr(head.size());
    return rest.empty() || rest.rfind(" [", 0) == 0 || rest.rfind(" = ", 0) == 0 || rest.rfind(" | ", 0) == 0 ||
           (below && rest[0] == '\\');
}

}  // namespace

std::vector<Case> Load(const std::string& path) {
    std::vector<Case> cases;
    if (std::filesystem::is_directory(path)) {
        std::vector<std::filesystem::path> files;
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            if (entry.path().extension() == ".txt") files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
        for (const auto& file : files) LoadFile(file, cases);
    } else {
        LoadFile(path, cases);
    }
    return cases;
}

std::vector<std::string> Fields(const std::string& text) {
    std::vector<std::string> fields;
    size_t start = 0;
    while (true) {
        const size_t bar = text.find('|', start);
        fields.push_back(Trim(text.substr(start, bar == std::string::npos ? std::string::npos : bar - start)));
        if (bar == std::string::npos) return fields;
        start = bar + 1;
    }
}

std::pair<std::string, std::string> Word(const std::string& text) {
    const std::string trimmed = Trim(text);
    const size_t space = trimmed.find(' ');
    if (space == std::string::npos) return {trimmed, {}};
    return {trimmed.substr(0, space), Trim(trimmed.substr(space + 1))};
}

bool Gone::Covers(const std::string& line) const {
    if (kind == "key") return PathCovers(line, "key", what, true) || PathCovers(line, "value", what, true);
    if (kind == "folder") {
        return PathCovers(line, "folder", what, true) || PathCovers(line, "file", what, true) ||
               PathCovers(line, "link", what, true);
    }
    if (kind == "file") return PathCovers(line, "file", what, false) || PathCovers(line, "link", what, false);
    if (kind == "product") return line == "product " + what;
    throw std::runtime_error("gone: unknown kind " + kind);
}

std::vector<std::string> Diff(const std::vector<std::string>& before, const std::vector<std::string>& after,
                              const std::vector<Gone>& gone) {
    std::vector<std::string> vanished, appeared, problems;
    std::set_difference(before.begin(), before.end(), after.begin(), after.end(), std::back_inserter(vanished));
    std::set_difference(after.begin(), after.end(), before.begin(), before.end(), std::back_inserter(appeared));
    for (const auto& line : appeared) problems.push_back("appeared or changed: " + line);
    for (const auto& line : vanished) {
        if (std::none_of(gone.begin(), gone.end(), [&](const Gone& g) { return g.Covers(line); })) {
            problems.push_back("removed but not declared gone: " + line);
        }
    }
    for (const auto& g : gone) {
        if (std::none_of(vanished.begin(), vanished.end(), [&](auto& line) { return g.Covers(line); })) {
            problems.push_back("declared gone but nothing of it was removed: " + g.kind + " " + g.what);
        }
        for (const auto& line : after) {
            if (g.Covers(line)) problems.push_back("declared gone but still there: " + line);
        }
    }
    return problems;
}

std::string Expand(std::string text,
                   const std::function<std::string(const std::string&, const std::string&)>& lookup) {
    // The last "${" is the innermost macro.
    for (size_t open = text.rfind("${"); open != std::string::npos; open = text.rfind("${")) {
        const size_t close = text.find('}', open);
        if (close == std::string::npos) throw std::runtime_error("an unclosed \"${\" in " + text);
        const std::string macro = text.substr(open + 2, close - open - 2);
        const size_t colon = macro.find(':');
        const std::string name = macro.substr(0, colon);
        const std::string argument = colon == std::string::npos ? "" : macro.substr(colon + 1);
        std::string value;
        if (name == "sp") {
            value = " ";
        } else if (name.size() > 1 && name[0] == 'x' && std::isdigit(static_cast<unsigned char>(name[1]))) {
            value = std::string(std::stoul(name.substr(1)), 'x');
        } else {
            value = lookup(name, argument);
        }
        text.replace(open, close - open + 1, value);
    }
    return text;
}

std::vector<std::string> Filter(const std::vector<std::string>& lines, const std::string& words) {
    std::vector<std::string> wanted, picked;
    for (std::string rest = words; !rest.empty();) {
        auto [word, tail] = Word(rest);
        wanted.push_back(word);
        rest = tail;
    }
    for (const auto& line : lines) {
        if (std::find(wanted.begin(), wanted.end(), Word(line).first) != wanted.end()) picked.push_back(line);
    }
    return picked;
}

}  // namespace clearstrand::scenario
