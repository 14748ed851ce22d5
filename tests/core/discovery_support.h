#pragma once

// Helpers for the discovery and shell tests: seed a machine's registry and
// describe the tree the form built.

#include <string>
#include <vector>

#include "discovery/catalog.h"
#include "memory/memory_controls.h"
#include "platform/errors.h"

namespace clearstrand::testing_support {

inline constexpr char16_t kUninstall[] = u"SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall";

inline void AddEntry(MemoryRegistry& registry, const std::u16string& subkey,
                     const std::u16string& name, const std::u16string& version,
                     const std::u16string& location = {}) {
    const std::u16string path = std::u16string(kUninstall) + u"\\" + subkey;
    registry.CreateKey(kHiveLocalMachine, path);
    if (!name.empty()) registry.SetString(kHiveLocalMachine, path, u"DisplayName", name);
    if (!version.empty()) registry.SetString(kHiveLocalMachine, path, u"DisplayVersion", version);
    if (!location.empty()) registry.SetString(kHiveLocalMachine, path, u"InstallLocation", location);
}

// One line per node, depth-first through Child and Next, indented two
// spaces per level: "<caption>" plus " [+]" when expanded and " [b]" when
// bold, " [x]" when checked.
inline std::vector<std::string> Outline(TreeView& view) {
    std::vector<std::string> lines;
    auto visit = [&](auto& self, TreeNode* node, int depth) -> void {
        for (; node; node = node->Next()) {
            std::string line(static_cast<size_t>(depth) * 2, ' ');
            line += ToUtf8(node->Text());
            if (node->Expanded()) line += " [+]";
            if (node->Bold()) line += " [b]";
            if (node->Checked()) line += " [x]";
            lines.push_back(line);
            self(self, node->Child(), depth + 1);
        }
    };
    if (view.Nodes().Count() > 0) visit(visit, &view.Nodes().Item(1), 0);
    return lines;
}

inline std::vector<std::u16string> KeysInIndexOrder(TreeView& view) {
    std::vector<std::u16string> keys;
    view.Nodes().ForEach([&](TreeNode& node) { keys.push_back(node.Key()); });
    return keys;
}

// A machine with something in every category:
//   HKLM SOFTWARE: KTRN, Planoview\{p2001, p2002}, QBEL, Veltramark\{Veltramark 2003,
//   Veltramark 2005}; HKCU SOFTWARE: Castwell;
//   uninstall entries for 2003 (two products), 2005, p2001 and the editor.
inline void SeedFullMachine(MemoryRegistry& registry) {
    for (const char16_t* key : {u"SOFTWARE\\KTRN", u"SOFTWARE\\QBEL", u"SOFTWARE\\Planoview\\p2001",
                                u"SOFTWARE\\Planoview\\p2002", u"SOFTWARE\\Veltramark\\Veltramark 2003",
                                u"SOFTWARE\\Veltramark\\Veltramark 2005"}) {
        registry.CreateKey(kHiveLocalMachine, key);
    }
    registry.CreateKey(kHiveCurrentUser, u"SOFTWARE\\Castwell");
    AddEntry(registry, u"{A1}", u"Veltramark 2003", u"11.0", u"C:\\VM3");  // collides: no node
    AddEntry(registry, u"{A2}", u"Veltramark 2003 Tools", u"11.2", u"C:\\VM3T");
    AddEntry(registry, u"{A3}", u"Veltramark 2003 Viewer", u"11.1");
    AddEntry(registry, u"{B1}", u"Veltramark 2005 SP0.0", u"13.0.1", u"C:\\VM5");
    AddEntry(registry, u"{C1}", u"Planoview 1.4", u"1.4");
    AddEntry(registry, u"{D1}", u"Tracemill 13", u"13.2", u"C:\\TM");
    AddEntry(registry, u"{E1}", u"Unrelated", u"13.0");
}

}  // namespace clearstrand::testing_support
