#include "scenario/scenario.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>
#include <set>
#include <stdexcept>
#include <tuple>

#include "platform/errors.h"
#include "platform/paths.h"

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
        const std::string where = file.filename().string() + ":" + std::to_string(number);
        if (Trim(line).empty() || line[0] == '#') continue;
        if (line.rfind("== ", 0) == 0) {
            cases.push_back({Trim(line.substr(3)), {}});
        } else if (cases.empty() || (line.rfind("  ", 0) == 0 && cases.back().steps.empty())) {
            throw std::runtime_error(where + ": a step outside a case, or a block without its step");
        } else if (line.rfind("  ", 0) == 0) {
            cases.back().steps.back().block.push_back(line.substr(2));
        } else {
            auto [verb, arg] = Word(line);
            cases.back().steps.push_back({verb, arg, {}, where});
        }
    }
}

// Whether a description line is about `path` (" [ro]", " = x", " -> y" may
// follow) or, with `below`, about something inside it.
bool PathCovers(const std::string& line, const std::string& kind, const std::string& path, bool below) {
    const std::string head = kind + " " + path;
    if (line.rfind(head, 0) != 0) return false;
    const std::string rest = line.substr(head.size());
    for (const char* tail : {" [", " = ", " | ", " -> "}) {
        if (rest.rfind(tail, 0) == 0) return true;
    }
    return rest.empty() || (below && rest[0] == '\\');
}

// A space that trimming keeps: the end of a name that ends in one.
constexpr char kKeptSpace = '\x1f';

// Replaces the macros, innermost first: "${x40}" is forty x's, "${sp}" a
// space that trimming keeps, the others the platform's.
std::string Expand(std::string text, const std::function<std::string(const std::string&, const std::string&)>& lookup) {
    for (size_t open = text.rfind("${"); open != std::string::npos; open = text.rfind("${")) {
        const size_t close = text.find('}', open);
        if (close == std::string::npos) throw std::runtime_error("an unclosed \"${\" in " + text);
        const std::string macro = text.substr(open + 2, close - open - 2);
        const size_t colon = macro.find(':');
        const std::string name = macro.substr(0, colon);
        std::string value;
        if (name == "sp") {
            value = kKeptSpace;
        } else if (name == "lower") {
            value = macro.substr(colon + 1);
            for (char& c : value) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        } else if (name.size() > 1 && name[0] == 'x' && std::isdigit(static_cast<unsigned char>(name[1]))) {
            value = std::string(std::stoul(name.substr(1)), 'x');
        } else {
            value = lookup(name, colon == std::string::npos ? "" : macro.substr(colon + 1));
        }
        text.replace(open, close - open + 1, value);
    }
    return text;
}

// Whether a declared removal ("folder", "C:\X") accounts for a line.
bool Covers(const std::pair<std::string, std::string>& gone, const std::string& line) {
    const auto& [kind, what] = gone;
    // What each kind takes: itself and, but for a file, all below it.
    static const std::map<std::string, std::vector<std::string>> takes = {
        {"key", {"key", "value", "link"}}, {"folder", {"folder", "file", "link"}}, {"file", {"file", "link"}}, {"product", {"product"}}};
    const auto lines = takes.find(kind);
    if (lines == takes.end()) throw std::runtime_error("gone: unknown kind " + kind);
    return std::any_of(lines->second.begin(), lines->second.end(), [&](auto& as) { return PathCovers(line, as, what, kind != "file"); });
}

}  // namespace

std::vector<Case> Load(const std::string& path) {
    std::vector<std::filesystem::path> files{path};
    if (std::filesystem::is_directory(path)) {
        files.clear();
        for (const auto& entry : std::filesystem::directory_iterator(path)) {
            if (entry.path().extension() == ".txt") files.push_back(entry.path());
        }
        std::sort(files.begin(), files.end());
    }
    std::vector<Case> cases;
    for (const auto& file : files) LoadFile(file, cases);
    return cases;
}

void Register(const char* suite, const Case& c, std::function<void(const Case&)> play) {
    struct Test : ::testing::Test {
        Test(Case c, std::function<void(const Case&)> play) : c(std::move(c)), play(std::move(play)) {}
        void TestBody() override { play(c); }
        Case c;
        std::function<void(const Case&)> play;
    };
    ::testing::RegisterTest(suite, c.name.c_str(), nullptr, nullptr, __FILE__, __LINE__,
                            [c, play]() -> ::testing::Test* { return new Test(c, play); });
}

std::vector<std::string> Fields(const std::string& text, char separator) {
    std::vector<std::string> fields;
    for (size_t start = 0, end = 0; end != std::string::npos; start = end + 1) {
        end = text.find(separator, start);
        fields.push_back(Trim(text.substr(start, end == std::string::npos ? end : end - start)));
        if (separator == '|') std::replace(fields.back().begin(), fields.back().end(), kKeptSpace, ' ');
    }
    return fields;
}

std::pair<std::string, std::string> Word(const std::string& text) {
    const std::string trimmed = Trim(text);
    const size_t space = std::min(trimmed.find(' '), trimmed.size());
    return {trimmed.substr(0, space), Trim(trimmed.substr(space))};
}

// What appeared or changed, what vanished undeclared, what was declared gone
// but is not.
std::vector<std::string> Player::Diff(const std::vector<std::string>& after) const {
    std::vector<std::string> vanished, appeared, problems;
    std::set_difference(before_.begin(), before_.end(), after.begin(), after.end(), std::back_inserter(vanished));
    std::set_difference(after.begin(), after.end(), before_.begin(), before_.end(), std::back_inserter(appeared));
    for (const auto& line : appeared) problems.push_back("appeared or changed: " + line);
    for (const auto& line : vanished) {
        if (std::none_of(gone_.begin(), gone_.end(), [&](auto& g) { return Covers(g, line); })) {
            problems.push_back("removed but not declared gone: " + line);
        }
    }
    for (const auto& g : gone_) {
        const bool any = std::any_of(vanished.begin(), vanished.end(), [&](auto& line) { return Covers(g, line); });
        const auto left = std::find_if(after.begin(), after.end(), [&](auto& line) { return Covers(g, line); });
        if (!any || left != after.end()) problems.push_back("declared gone but still there: " + g.first + " " + g.second);
    }
    return problems;
}

std::string Render(const std::string& text) {
    std::string out;
    for (const char c : text) out += c == '\r' ? std::string(" | ") : c == '\n' ? std::string("\\n") : std::string(1, c);
    return out;
}

std::string ShownBox(const std::string& title, bool icon, const std::string& text) {
    return (title.empty() || title == "Clearstrand" ? "" : "[" + title + "] ") + (icon ? "[!] " : "") + Render(text);
}

std::vector<std::string> ShownWindow(const std::vector<std::pair<std::string, bool>>& buttons,
                                     const std::vector<ShownPanel>& panels, const std::string& label) {
    std::string line, shown = "panels:";
    for (const auto& [caption, enabled] : buttons) line += (line.empty() ? "" : ", ") + caption + (enabled ? " on" : " off");
    for (const auto& p : panels) {
        shown += std::string(p.flat ? " flat" : " inset") + (p.spring ? " spring" : " fixed") + " \"" + p.text + "\"";
    }
    return {line, shown, "label: " + Render(label)};
}

void Player::Play(const Case& c, bool check) {
    const auto describe = [this] {
        if (!described_) before_ = Describe();
        described_ = true;
    };
    const auto open = [&] {
        if (opened) return;
        describe();
        Open();
        opened = true;
    };
    for (const Step& raw : c.steps) {
        Step s = raw;
        if (s.verb == "[" + Name() + "]") {
            std::tie(s.verb, s.arg) = Word(s.arg);
        } else if (s.verb.front() == '[') {
            continue;
        }
        const auto lookup = [this](const std::string& name, const std::string& arg) { return Macro(name, arg); };
        s.arg = Expand(s.arg, lookup);
        for (auto& line : s.block) line = Expand(line, lookup);
        SCOPED_TRACE(s.where);
        try {
            if (std::set<std::string>{"key", "keys", "value", "entry", "msi", "file", "folder", "link", "move", "keylink"}.count(s.verb)) {
                for (const auto& one : Fields(s.arg, ';')) Seed({s.verb, one, {}, s.where});
            } else if (s.verb == "gone") {
                auto [kind, list] = Word(s.arg);
                for (const auto& what : Fields(list)) {
                    if (kind != "msi") gone_.push_back({kind, what});
                    // A package takes its product, its entry and its own file.
                    else gone_.insert(gone_.end(), {{"product", what}, {"key", "HKLM " + packages_.at(what).first},
                                                    {"file", packages_.at(what).second + "\\readme.txt"}});
                }
            } else if (s.verb == "while" && Word(s.arg).first == "box") {
                whileBox_.push_back(s);
            } else if (s.verb == "call") {
                describe();
                const auto result = Call(s.arg);
                EXPECT_TRUE(!check || result == s.block) << s.arg << ": " << ::testing::PrintToString(result);
            } else if (!Other(s)) {
                open();
                if (s.verb == "tick" || s.verb == "untick" || s.verb == "space") Toggle(s.arg, s.verb);
                else if (s.verb == "start" || s.verb == "refresh" || s.verb == "cancel") Press(s.verb);
                else if (check) Expect(s);
            }
        } catch (const std::runtime_error& error) {
            if (check) throw std::runtime_error(s.where + ": " + error.what());
            break;  // a failing call may have built another tree than the case expects
        }
    }
    if (!described_) open();
    Close();
    problems = Diff(Describe());
    if (!check) return;
    EXPECT_EQ(std::vector<std::string>(boxes.begin() + static_cast<long>(std::min(boxesSeen_, boxes.size())), boxes.end()),
              std::vector<std::string>{})
        << "boxes that no step expected";
    for (const auto& problem : problems) ADD_FAILURE() << problem;
}

void Player::Seed(const Step& s) {
    // A change made while the program runs is part of what it finds.
    const auto was = described_ ? Describe() : std::vector<std::string>{};
    const auto f = Fields(s.arg);
    const auto [hive, path] = Word(f.at(0));
    if (s.verb == "key") {
        Key(hive, path);
    } else if (s.verb == "keys") {
        for (size_t i = 1; i < f.size(); ++i) Key(hive, path + "\\" + f[i]);
    } else if (s.verb == "value") {
        const bool dword = f.at(2).rfind('#', 0) == 0;
        const bool expand = f.size() > 3 && f[3] == "expand";
        Value(hive, path, f.at(1), f.at(2).substr(dword), dword ? Type::Dword : expand ? Type::Expandable : Type::String);
    } else if (s.verb == "entry") {
        const std::string key = std::string(kUninstall) + "\\" + f.at(0);
        Key("HKLM", key);
        const char* names[] = {"DisplayName", "DisplayVersion", "InstallLocation"};
        for (size_t i = 1; i < f.size() && i < 4; ++i) {
            if (!f[i].empty()) Value("HKLM", key, names[i - 1], f[i], Type::String);
        }
    } else if (s.verb == "msi") {
        const auto location = f.size() > 3 ? std::optional(f[3]) : std::nullopt;
        packages_[f.at(0)] = {Msi(f.at(0), f.at(1), f.at(2), location), Macro("pf86", "") + "\\" + f.at(2)};
    } else if (s.verb == "link") {
        Link(f.at(0), f.at(1));
    } else if (s.verb == "move") {
        Move(f.at(0), f.at(1));
    } else if (s.verb == "keylink") {
        const auto [targetHive, target] = Word(f.at(1));
        KeyLink(hive, path, targetHive, target);
    } else if (s.verb == "file") {
        const auto has = [&](const char* flag) { return std::find(f.begin() + 1, f.end(), flag) != f.end(); };
        File(f.at(0), has("ro"), has("hidden"), has("held"));
    } else {
        Folder(f.at(0));
        if (f.size() > 1 && f[1] == "held") Hold(f[0]);
    }
    if (!described_) return;
    // Before and after the program, the machine is as the case left it.
    const auto now = Describe();
    std::vector<std::string> vanished, kept;
    std::set_difference(was.begin(), was.end(), now.begin(), now.end(), std::back_inserter(vanished));
    std::set_difference(before_.begin(), before_.end(), vanished.begin(), vanished.end(), std::back_inserter(kept));
    std::set_difference(now.begin(), now.end(), was.begin(), was.end(), std::back_inserter(kept));
    std::sort(kept.begin(), kept.end());
    before_ = std::move(kept);
}

void Player::BoxShown(const std::string& shown) {
    for (auto it = whileBox_.begin(); it != whileBox_.end(); ++it) {
        if (shown.rfind(Word(it->arg).second, 0) != 0) continue;
        const Step s = *it;
        whileBox_.erase(it);
        for (const auto& line : s.block) {
            const auto [verb, arg] = Word(line);
            for (const auto& one : Fields(arg, ';')) Seed({verb, one, {}, s.where});
        }
        return;
    }
}

std::vector<std::string> Player::Call(const std::string& text) {
    const auto [verb, arg] = Word(text);
    const auto f = Fields(arg);
    const auto hive = [&] {
        const std::string name = Word(f.at(0)).first;
        if (name != "HKLM" && name != "HKCU") throw std::runtime_error("call: no hive " + name);
        return name == "HKLM" ? kHiveLocalMachine : kHiveCurrentUser;
    };
    const auto key = [&] { return FromUtf8(Word(f.at(0)).second); };
    const auto shown = [](const std::u16string& path) { return ToUtf8(paths::Shown(path)); };
    const auto coded = [](int32_t code, std::vector<std::string> rest) {
        rest.insert(rest.begin(), std::to_string(code));
        return rest;
    };
    try {
        if (verb == "FinalPath") {
            const auto final = Files().FinalPath(FromUtf8(arg));
            return {final ? shown(*final) : "none"};
        }
        if (verb == "Folder") {
            const auto folder = Files().CreateFileSystem()->GetFolder(FromUtf8(arg));
            if (!folder) return {"none"};
            std::vector<std::string> lines;
            for (const auto& file : folder->Files()) lines.push_back("file " + ToUtf8(paths::Split(file->Path()).second));
            for (const auto& sub : folder->SubFolders()) lines.push_back("folder " + ToUtf8(paths::Split(sub->Path()).second));
            std::sort(lines.begin(), lines.end());
            lines.insert(lines.begin(), shown(folder->FinalPath()));
            return lines;
        }
        if (verb == "Delete") {
            const auto [holder, name] = paths::Split(FromUtf8(arg));
            const auto folder = Files().CreateFileSystem()->GetFolder(holder);
            if (!folder) return {"none"};
            for (const auto& file : folder->Files()) {
                if (paths::Split(file->Path()).second == name) return file->Delete(true), std::vector<std::string>{"deleted"};
            }
            for (const auto& sub : folder->SubFolders()) {
                if (paths::Split(sub->Path()).second == name) return sub->Delete(true), std::vector<std::string>{"deleted"};
            }
            return {"not listed"};
        }
        if (verb == "ProtectedFolders") {  // the current user's profile first, whoever runs the tests
            const ProtectedFolders folders = Files().GetProtectedFolders();
            std::vector<std::string> lines;
            for (const auto& profile : folders.profiles) {
                if (profile != folders.profile) lines.push_back("profile " + ToUtf8(profile));
            }
            std::sort(lines.begin(), lines.end());
            lines.insert(lines.begin(), "own " + ToUtf8(folders.profile));
            return lines;
        }
        if (verb == "EnumKey") {
            std::vector<std::u16string> names;
            const int32_t code = Management().GetRegistryProvider(std::u16string(kRegistryMoniker))->EnumKey(hive(), key(), names);
            std::vector<std::string> lines;
            for (const auto& name : names) lines.push_back(ToUtf8(name));
            return coded(code, lines);
        }
        if (verb == "GetStringValue") {
            std::u16string value = u"(unchanged)";
            const int32_t code = Management().GetRegistryProvider(std::u16string(kRegistryMoniker))->GetStringValue(hive(), key(), FromUtf8(f.at(1)), value);
            return coded(code, {ToUtf8(value)});
        }
        if (verb == "LinkTarget" || verb == "DeleteLink") {
            const auto provider = Management().GetRegistryProvider(std::u16string(kRegistryDeleteMoniker));
            if (verb == "LinkTarget") {
                const auto target = provider->LinkTarget(hive(), key());
                return {target ? ToUtf8(*target) : "none"};
            }
            const auto code = provider->DeleteLink(hive(), key());
            return {code ? std::to_string(*code) : "none"};
        }
        if (verb == "DeleteKey") {
            return coded(Management().GetRegistryProvider(std::u16string(kRegistryDeleteMoniker))->DeleteKey(hive(), key()), {});
        }
        if (verb == "UnInstall") {
            for (const auto& product : Management().GetServices(std::u16string(kProductsMoniker))->ExecQuery(u"SELECT * FROM Win32_Product")) {
                // Twice: the second time the product is no longer there.
                if (product->Name() == FromUtf8(arg)) {
                    const int32_t first = product->UnInstall();
                    return {std::to_string(first), std::to_string(product->UnInstall())};
                }
            }
            return {"no such product"};
        }
    } catch (const PlatformError& error) {
        return {"raises: " + ToUtf8(error.description())};
    }
    throw std::runtime_error("call: unknown " + verb);
}

void Player::Expect(const Step& s) {
    const auto compare = [this](auto read, const auto& want) {
        Settle([&] { return read() == want; });
        EXPECT_EQ(read(), want);
    };
    const auto outline = [this] {
        const auto nodes = Tree();
        std::vector<std::string> lines;
        for (size_t i = 0; i < nodes.size(); ++i) {
            // Only a node with children can show itself expanded.
            const bool children = i + 1 < nodes.size() && nodes[i + 1].depth > nodes[i].depth;
            const std::string marks = std::string(nodes[i].expanded && children ? "+" : "") + (nodes[i].bold ? "b" : "") +
                                      (nodes[i].checked ? "x" : "");
            lines.push_back(std::string(static_cast<size_t>(nodes[i].depth) * 2, ' ') + nodes[i].text +
                            (marks.empty() ? "" : " [" + marks + "]"));
        }
        return lines;
    };
    const auto checked = [this] {
        std::string out;
        for (const auto& node : Tree()) out += node.checked ? (out.empty() ? "" : ", ") + node.text : "";
        return out;
    };
    if (s.verb == "tree") {
        compare(outline, s.block);
    } else if (s.verb == "checked") {
        compare(checked, s.arg);
    } else if (s.verb == "buttons") {
        compare([this] { return Window().at(0); }, s.arg);
    } else if (s.verb == "window") {
        compare([this] { return Window(); }, s.block);
    } else if (s.verb == "disclaimer") {
        EXPECT_EQ(boxes.at(0), s.arg);
    } else if (s.verb == "boxes") {
        // "boxes unordered": where the file system lists a folder's entries in its own order.
        auto shown = std::vector<std::string>(boxes.begin() + static_cast<long>(boxesSeen_), boxes.end());
        auto want = s.block;
        if (s.arg == "unordered") {
            std::sort(shown.begin(), shown.end());
            std::sort(want.begin(), want.end());
        }
        EXPECT_EQ(shown, want);
        boxesSeen_ = boxes.size();
    } else if (s.verb == "safe" || s.verb == "unsafe") {
        for (const auto& folder : Fields(s.arg)) EXPECT_EQ(SafeToErase(folder), s.verb == "safe") << folder;
    } else if (s.verb == "log") {
        EXPECT_EQ(Log(s.arg).value_or(s.block), s.block);
    } else {
        throw std::runtime_error("unknown step " + s.verb);
    }
}

}  // namespace clearstrand::scenario
