#include "bench_model.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

namespace clearstrand::bench {

namespace {

std::u16string Ascii(const std::string& text) {
    return std::u16string(text.begin(), text.end());
}

std::string Padded(size_t value, int width) {
    char buffer[32];
    std::snprintf(buffer, sizeof(buffer), "%0*zu", width, value);
    return buffer;
}

std::string Fixed(double value, int decimals) {
    char buffer[64];
    std::snprintf(buffer, sizeof(buffer), "%.*f", decimals, value);
    return buffer;
}

std::string JsonString(const std::string& text) {
    std::string out = "\"";
    for (const char c : text) {
        switch (c) {
        case '"': out += "\\\""; break;
        case '\\': out += "\\\\"; break;
        case '\n': out += "\\n"; break;
        case '\r': out += "\\r"; break;
        case '\t': out += "\\t"; break;
        default:
            if (static_cast<unsigned char>(c) < 0x20) {
                char buffer[8];
                std::snprintf(buffer, sizeof(buffer), "\\u%04x", static_cast<unsigned>(c));
                out += buffer;
            } else {
                out += c;
            }
        }
    }
    return out + "\"";
}

// Numbers as JSON takes them: a fixed number of decimals, no exponent.
std::string JsonNumber(double value) {
    return Fixed(value, 3);
}

// A line of a text table: each cell right-aligned in its column, the first
// left-aligned.
std::string Row(const std::vector<std::string>& cells, const std::vector<size_t>& widths) {
    std::string line;
    for (size_t i = 0; i < cells.size(); ++i) {
        const size_t width = i < widths.size() ? widths[i] : 0;
        const std::string pad(cells[i].size() < width ? width - cells[i].size() : 0, ' ');
        line += i == 0 ? cells[i] + pad : "  " + pad + cells[i];
    }
    return line + "\n";
}

std::string Table(const std::vector<std::vector<std::string>>& rows) {
    std::vector<size_t> widths;
    for (const auto& row : rows) {
        widths.resize(std::max(widths.size(), row.size()));
        for (size_t i = 0; i < row.size(); ++i) widths[i] = std::max(widths[i], row[i].size());
    }
    std::string out;
    for (const auto& row : rows) out += Row(row, widths);
    return out;
}

std::string Ms(double value) {
    return value < 0 ? "-" : Fixed(value, value < 10 ? 2 : 1);
}

}  // namespace

SeedEntry UninstallEntry(size_t index) {
    const std::string number = Padded(index, 5);
    SeedEntry entry;
    entry.keyName = Ascii("BenchEntry" + number);
    if (index % 10 == 0) {
        // Families in turn; each name is unique, since product nodes are
        // keyed by their DisplayName.
        switch ((index / 10) % 3) {
        case 0:
            entry.displayName = Ascii("Veltramark 2005 Add-in " + number);
            entry.displayVersion = u"13.0." + Ascii(std::to_string(index % 1000));
            break;
        case 1:
            entry.displayName = Ascii("Planoview 2003 Sheet " + number);
            entry.displayVersion = u"3.1";
            break;
        default:
            entry.displayName = Ascii("Tracemill 14 Plug-in " + number);
            entry.displayVersion = u"14.2";
            break;
        }
    } else {
        entry.displayName = Ascii("Bench Tool " + number);
        entry.displayVersion = u"1." + Ascii(std::to_string(index % 100));
    }
    entry.installLocation = u"C:\\Program Files (x86)\\" + entry.displayName;
    return entry;
}

std::vector<std::u16string> SubtreePaths(const std::u16string& root, size_t count) {
    std::vector<std::u16string> paths;
    if (count == 0) return paths;
    paths.reserve(count);
    paths.push_back(root);
    // Breadth first: the children of paths[parent] are added before those of
    // paths[parent + 1].
    for (size_t parent = 0; paths.size() < count; ++parent) {
        for (int child = 0; child < 10 && paths.size() < count; ++child)
            paths.push_back(paths[parent] + u"\\Key" + Ascii(std::to_string(child)));
    }
    return paths;
}

double Median(std::vector<double> values) {
    if (values.empty()) return 0;
    std::sort(values.begin(), values.end());
    const size_t middle = values.size() / 2;
    return values.size() % 2 ? values[middle] : (values[middle - 1] + values[middle]) / 2;
}

std::vector<Target> JudgeTargets(const Results& results) {
    std::vector<Target> targets;
    const PopulationRow* at1000 = nullptr;
    const PopulationRow* at10000 = nullptr;
    for (const auto& row : results.population) {
        if (row.seeded == 1000) at1000 = &row;
        if (row.seeded == 10000) at10000 = &row;
    }
    const auto against = [](double measured, double floor, const std::string& unit) {
        return Ms(measured) + " / " + Ms(floor) + " " + unit;
    };
    if (at1000 && at1000->floorMs > 0)
        targets.push_back({"Population N=1000 / Win32 floor", at1000->wmiMs / at1000->floorMs, 3, "x",
                           against(at1000->wmiMs, at1000->floorMs, "ms")});
    if (at1000 && at10000 && at1000->wmiMs > 0 && at1000->floorMs > 0 && at10000->floorMs > 0) {
        // Growth beyond what the registry's own reads grow by.
        const double growth = at10000->wmiMs / at1000->wmiMs;
        const double floorGrowth = at10000->floorMs / at1000->floorMs;
        targets.push_back({"Population growth N=1000 to 10000 / floor's growth", growth / floorGrowth, 1.1, "x",
                           Fixed(growth, 2) + " / " + Fixed(floorGrowth, 2) + " x"});
    }
    for (const auto& row : results.removal) {
        if (row.size == 1000 && row.floorMs > 0)
            targets.push_back({"Delete 1000-key subtree / RegDeleteTreeW", row.ms / row.floorMs, 5, "x",
                               against(row.ms, row.floorMs, "ms")});
        if (row.size == 10000 && row.floorMs > 0)
            targets.push_back({"Erase 10000 files / bare Win32 loop", row.ms / row.floorMs, 2, "x",
                               against(row.ms, row.floorMs, "ms")});
    }
    for (const auto& row : results.startup) {
        const std::string n = "N=" + std::to_string(row.seeded);
        if (row.bareWindowMs >= 0)
            targets.push_back({"Start-up " + n + " to Ready, over a bare window", row.readyMs - row.bareWindowMs,
                               500, "ms", Ms(row.readyMs) + " - " + Ms(row.bareWindowMs) + " ms"});
        if (row.baselineWorkingSetMb >= 0)
            targets.push_back({"Peak working set " + n + ", over baseline process",
                               row.peakWorkingSetMb - row.baselineWorkingSetMb, 2, "MB",
                               Fixed(row.peakWorkingSetMb, 1) + " - " + Fixed(row.baselineWorkingSetMb, 1) + " MB"});
    }
    return targets;
}

std::string ToJson(const Results& results) {
    std::ostringstream out;
    out << "{\n  \"machine\": " << JsonString(results.machine)
        << ",\n  \"platform\": " << JsonString(results.platform)
        << ",\n  \"tiny\": " << (results.tiny ? "true" : "false") << ",\n  \"population\": [";
    for (size_t i = 0; i < results.population.size(); ++i) {
        const auto& r = results.population[i];
        out << (i ? "," : "") << "\n    {\"seeded\": " << r.seeded << ", \"entries\": " << r.entries
            << ", \"nodes\": " << r.nodes << ", \"runs\": " << r.runs
            << ", \"populate_ms\": " << JsonNumber(r.wmiMs) << ", \"floor_ms\": " << JsonNumber(r.floorMs)
            << ", \"ratio\": " << JsonNumber(r.floorMs > 0 ? r.wmiMs / r.floorMs : 0)
            << ", \"floor_parent_ms\": " << JsonNumber(r.floorParentMs)
            << ", \"profile\": {\"connect_ms\": " << JsonNumber(r.profile.connectMs)
            << ", \"enumkey_calls\": " << r.profile.enumKeyCalls
            << ", \"enumkey_ms\": " << JsonNumber(r.profile.enumKeyMs)
            << ", \"getstringvalue_calls\": " << r.profile.getStringValueCalls
            << ", \"getstringvalue_ms\": " << JsonNumber(r.profile.getStringValueMs)
            << ", \"rest_ms\": " << JsonNumber(r.restMs) << "}}";
    }
    out << "\n  ],\n  \"removal\": [";
    for (size_t i = 0; i < results.removal.size(); ++i) {
        const auto& r = results.removal[i];
        out << (i ? "," : "") << "\n    {\"name\": " << JsonString(r.name) << ", \"size\": " << r.size
            << ", \"runs\": " << r.runs << ", \"ms\": " << JsonNumber(r.ms);
        if (r.floorMs >= 0)
            out << ", \"floor\": " << JsonString(r.floorName) << ", \"floor_ms\": " << JsonNumber(r.floorMs)
                << ", \"ratio\": " << JsonNumber(r.floorMs > 0 ? r.ms / r.floorMs : 0);
        out << ", \"profile\": {\"connections\": " << r.profile.connections
            << ", \"connect_ms\": " << JsonNumber(r.profile.connectMs)
            << ", \"provider_calls\": " << r.profile.ProviderCalls()
            << ", \"provider_ms\": " << JsonNumber(r.profile.ProviderMs()) << ", \"status_texts\": " << r.statusTexts
            << ", \"status_ms\": " << JsonNumber(r.statusMs) << "}}";
    }
    out << "\n  ],\n  \"startup\": [";
    for (size_t i = 0; i < results.startup.size(); ++i) {
        const auto& r = results.startup[i];
        out << (i ? "," : "") << "\n    {\"seeded\": " << r.seeded << ", \"runs\": " << r.runs
            << ", \"window_ms\": " << JsonNumber(r.windowMs) << ", \"ready_ms\": " << JsonNumber(r.readyMs)
            << ", \"disclaimer_ms\": " << JsonNumber(r.disclaimerMs)
            << ", \"peak_working_set_mb\": " << JsonNumber(r.peakWorkingSetMb);
        if (r.bareWindowMs >= 0) out << ", \"bare_window_ms\": " << JsonNumber(r.bareWindowMs);
        if (r.baselineWorkingSetMb >= 0) out << ", \"baseline_working_set_mb\": " << JsonNumber(r.baselineWorkingSetMb);
        out << "}";
    }
    out << "\n  ],\n  \"targets\": [";
    for (size_t i = 0; i < results.targets.size(); ++i) {
        const auto& t = results.targets[i];
        out << (i ? "," : "") << "\n    {\"name\": " << JsonString(t.name) << ", \"measured\": "
            << JsonNumber(t.measured) << ", \"limit\": " << JsonNumber(t.limit) << ", \"unit\": "
            << JsonString(t.unit) << ", \"basis\": " << JsonString(t.basis)
            << ", \"met\": " << (t.met() ? "true" : "false") << "}";
    }
    out << "\n  ]\n}\n";
    return out.str();
}

std::string ToTable(const Results& results) {
    std::string out = "Machine:  " + results.machine + "\nPlatform: " + results.platform + "\n";
    if (results.tiny) out += "Tiny run: sizes too small for the figures to mean anything.\n";

    out += "\nPopulation (PopulateTreeview through WMI into the tree view; median ms;\n"
           "after '|', one profiled run: calls / ms)\n";
    std::vector<std::vector<std::string>> rows{{"N", "entries", "nodes", "runs", "Populate", "Win32 floor",
                                                "ratio", "open-parent floor", "ratio", "| connect", "EnumKey",
                                                "GetStringValue", "rest"}};
    for (const auto& r : results.population) {
        rows.push_back({std::to_string(r.seeded), std::to_string(r.entries), std::to_string(r.nodes),
                        std::to_string(r.runs), Ms(r.wmiMs), Ms(r.floorMs),
                        r.floorMs > 0 ? Fixed(r.wmiMs / r.floorMs, 2) + "x" : "-", Ms(r.floorParentMs),
                        r.floorParentMs > 0 ? Fixed(r.wmiMs / r.floorParentMs, 2) + "x" : "-",
                        "| " + Ms(r.profile.connectMs),
                        std::to_string(r.profile.enumKeyCalls) + " / " + Ms(r.profile.enumKeyMs),
                        std::to_string(r.profile.getStringValueCalls) + " / " + Ms(r.profile.getStringValueMs),
                        Ms(r.restMs)});
    }
    out += Table(rows);

    out += "\nRemoval (one taken node; median ms; after '|', one profiled run: calls / ms)\n";
    rows = {{"operation", "runs", "ms", "floor", "floor ms", "ratio", "| connections", "provider calls",
             "status texts"}};
    for (const auto& r : results.removal) {
        rows.push_back({r.name, std::to_string(r.runs), Ms(r.ms), r.floorMs >= 0 ? r.floorName : "-",
                        Ms(r.floorMs), r.floorMs > 0 ? Fixed(r.ms / r.floorMs, 2) + "x" : "-",
                        "| " + std::to_string(r.profile.connections) + " / " + Ms(r.profile.connectMs),
                        std::to_string(r.profile.ProviderCalls()) + " / " + Ms(r.profile.ProviderMs()),
                        std::to_string(r.statusTexts) + " / " + Ms(r.statusMs)});
    }
    out += Table(rows);

    out += "\nStart-up (median ms from process creation, disclaimer time taken out;\n"
           "bare window: a process that only shows a window, to that window)\n";
    rows = {{"N", "runs", "to window", "to Ready", "disclaimer", "bare window", "peak working set MB",
             "baseline process MB"}};
    for (const auto& r : results.startup) {
        rows.push_back({std::to_string(r.seeded), std::to_string(r.runs), Ms(r.windowMs), Ms(r.readyMs),
                        Ms(r.disclaimerMs), Ms(r.bareWindowMs), Fixed(r.peakWorkingSetMb, 1),
                        r.baselineWorkingSetMb < 0 ? "-" : Fixed(r.baselineWorkingSetMb, 1)});
    }
    out += Table(rows);

    if (!results.targets.empty()) {
        out += "\nTargets\n";
        rows = {{"target", "measured", "limit", "", "from"}};
        for (const auto& t : results.targets) {
            rows.push_back({t.name, Fixed(t.measured, 2) + " " + t.unit,
                            Fixed(t.limit, t.limit == static_cast<int>(t.limit) ? 0 : 1) + " " + t.unit,
                            t.met() ? "met" : "MISSED", t.basis});
        }
        out += Table(rows);
    }
    return out;
}

}  // namespace clearstrand::bench
