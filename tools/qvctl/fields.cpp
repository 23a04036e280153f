// The field tables' printers: the table, the detail view and JSON.
#include "fields.h"

#include <algorithm>
#include <array>
#include <cstdio>
#include <iostream>

#include "qvctl.h"

namespace qvctl {
namespace {

// Characters on the screen: code points, not bytes.
std::size_t Width(const std::string& text) {
    return static_cast<std::size_t>(
        std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

std::string Pad(const std::string& text, std::size_t width, bool right) {
    const std::size_t w = Width(text);
    if (w >= width) return text;
    const std::string fill(width - w, ' ');
    return right ? fill + text : text + fill;
}

bool Numeric(Unit unit) { return unit != Unit::kText && unit != Unit::kFlag; }

// Per unit, in the order of Unit: the JSON key's suffix and, for -o help,
// what the value is.
struct UnitText {
    const char* suffix;
    const char* word;
};
constexpr std::array<UnitText, 8> kUnitTexts{{
    {"", "text"},
    {"", "number"},
    {"_bytes", "bytes"},
    {"_bytes_per_second", "bytes per second"},
    {"_seconds", "seconds"},
    {"_percent", "percent"},
    {"", "yes or no"},
    {"", "status"},
}};

const UnitText& TextOf(Unit unit) { return kUnitTexts.at(static_cast<std::size_t>(unit)); }

std::string Exact(const Value& value) {
    if (const auto* s = std::get_if<std::string>(&value)) return *s;
    if (const auto* u = std::get_if<uint64_t>(&value)) return std::to_string(*u);
    if (const auto* i = std::get_if<int64_t>(&value)) return std::to_string(*i);
    if (const auto* b = std::get_if<bool>(&value)) return *b ? "yes" : "no";
    return "-";
}

uint64_t Number(const Value& value) {
    if (const auto* u = std::get_if<uint64_t>(&value)) return *u;
    if (const auto* i = std::get_if<int64_t>(&value)) return *i < 0 ? 0 : static_cast<uint64_t>(*i);
    return 0;
}

// Prints the fields of the command when -o asks for `help`.
bool ListedFields(const Globals& globals, const std::vector<Column>& columns) {
    if (globals.columns.size() != 1 || globals.columns[0] != "help") return false;
    for (const Column& c : columns) {
        std::cout << *c.name << "\t" << TextOf(c.unit).word << (c.in_table ? "\ttable" : "") << '\n';
    }
    return true;
}

// The columns -o names, in its order; without -o (or with -o all), every
// column or the table's.
std::vector<std::size_t> Select(const Globals& globals, const std::vector<Column>& columns,
                                bool all) {
    std::vector<std::size_t> chosen;
    const bool every = globals.columns.size() == 1 && globals.columns[0] == "all";
    all = all || every;
    if (globals.columns.empty() || every) {
        for (std::size_t i = 0; i < columns.size(); ++i) {
            if (all || columns[i].in_table) chosen.push_back(i);
        }
        return chosen;
    }
    for (const std::string& name : globals.columns) {
        const auto it = std::find_if(columns.begin(), columns.end(),
                                     [&](const Column& c) { return *c.name == name; });
        if (it == columns.end()) {
            throw UsageError("no field '" + name +
                             "' here; `-o help` lists them, `-o all` shows them all");
        }
        chosen.push_back(static_cast<std::size_t>(it - columns.begin()));
    }
    return chosen;
}

json JsonValue(Unit unit, const Value& value) {
    if (std::holds_alternative<std::monostate>(value)) return nullptr;
    if (unit == Unit::kStatus) return Hex8(static_cast<QV_STATUS>(Number(value)));
    if (const auto* s = std::get_if<std::string>(&value)) return *s;
    if (const auto* u = std::get_if<uint64_t>(&value)) return *u;
    if (const auto* i = std::get_if<int64_t>(&value)) return *i;
    return std::get<bool>(value);
}

// The detail view's label: "DISPLAY NAME" becomes "Display name".
std::string Label(const std::string& header) {
    std::string label = header;
    for (std::size_t i = 1; i < label.size(); ++i) {
        if (label[i] >= 'A' && label[i] <= 'Z') label[i] = static_cast<char>(label[i] + 32);
    }
    return label;
}

}  // namespace

Value Text(const char16_t* utf16) {
    if (utf16 == nullptr) return {};
    return ToUtf8(std::u16string_view(utf16));
}

std::string BytesText(uint64_t bytes) {
    static constexpr std::array<const char*, 7> kUnits{"B",   "KiB", "MiB", "GiB",
                                                       "TiB", "PiB", "EiB"};
    auto value = static_cast<long double>(bytes);
    std::size_t unit = 0;
    while (value >= 1024 && unit + 1 < kUnits.size()) {
        value /= 1024;
        ++unit;
    }
    std::array<char, 32> text{};
    std::snprintf(text.data(), text.size(), unit == 0 ? "%.0Lf %s" : "%.1Lf %s", value,
                  kUnits[unit]);
    return text.data();
}

std::string SecondsText(uint64_t s) {
    std::array<char, 32> text{};
    if (s < 60) {
        std::snprintf(text.data(), text.size(), "%us", static_cast<unsigned>(s));
    } else if (s < 3600) {
        std::snprintf(text.data(), text.size(), "%um%02us", static_cast<unsigned>(s / 60),
                      static_cast<unsigned>(s % 60));
    } else if (s < 86400) {
        std::snprintf(text.data(), text.size(), "%uh%02um", static_cast<unsigned>(s / 3600),
                      static_cast<unsigned>(s % 3600 / 60));
    } else {
        std::snprintf(text.data(), text.size(), "%llud%02uh",
                      static_cast<unsigned long long>(s / 86400),
                      static_cast<unsigned>(s % 86400 / 3600));
    }
    return text.data();
}

std::string Show(const Globals& globals, Unit unit, const Value& value) {
    if (std::holds_alternative<std::monostate>(value)) return "-";
    if (unit == Unit::kStatus) return Hex8(static_cast<QV_STATUS>(Number(value)));
    if (globals.exact || !Numeric(unit) || unit == Unit::kCount) return Exact(value);
    const uint64_t n = Number(value);
    switch (unit) {
        case Unit::kBytes:
            return BytesText(n);
        case Unit::kRate:
            return BytesText(n) + "/s";
        case Unit::kSeconds:
            return SecondsText(n);
        case Unit::kPercent:
            return std::to_string(n) + "%";
        default:
            return Exact(value);
    }
}

json RowJson(const Globals& globals, const std::vector<Column>& columns, const Row& row) {
    json out = json::object();
    for (const std::size_t i : Select(globals, columns, true)) {
        out[*columns[i].name + TextOf(columns[i].unit).suffix] = JsonValue(columns[i].unit, row[i]);
    }
    return out;
}

void PrintRows(const Globals& globals, const std::vector<Column>& columns,
               const std::vector<Row>& rows) {
    if (ListedFields(globals, columns)) return;
    if (globals.json) {
        json out = json::array();
        for (const Row& row : rows) out.push_back(RowJson(globals, columns, row));
        PrintJson(out);
        return;
    }
    const std::vector<std::size_t> chosen = Select(globals, columns, false);
    std::vector<std::vector<std::string>> cells;
    if (!globals.scripted) {
        cells.emplace_back();
        for (const std::size_t c : chosen) cells.back().push_back(*columns[c].header);
    }
    for (const Row& row : rows) {
        cells.emplace_back();
        for (const std::size_t c : chosen)
            cells.back().push_back(Show(globals, columns[c].unit, row[c]));
    }
    std::vector<std::size_t> widths(chosen.size(), 0);
    for (const auto& line : cells) {
        for (std::size_t i = 0; i < line.size(); ++i)
            widths[i] = std::max(widths[i], Width(line[i]));
    }
    for (const auto& line : cells) {
        std::string text;
        for (std::size_t i = 0; i < line.size(); ++i) {
            const bool last = i + 1 == line.size();
            const bool right = Numeric(columns[chosen[i]].unit);
            if (globals.scripted) {
                text += line[i] + (last ? "" : "\t");
            } else {
                text += last && !right ? line[i] : Pad(line[i], widths[i], right);
                if (!last) text += "  ";
            }
        }
        std::cout << text << '\n';
    }
}

void PrintDetail(const Globals& globals, const std::vector<Column>& columns, const Row& row) {
    if (ListedFields(globals, columns)) return;
    if (globals.json) {
        PrintJson(RowJson(globals, columns, row));
        return;
    }
    const std::vector<std::size_t> chosen = Select(globals, columns, true);
    std::size_t width = 0;
    for (const std::size_t c : chosen)
        width = std::max(width, Width(Label(*columns[c].header)) + 1);
    for (const std::size_t c : chosen) {
        const std::string value = Show(globals, columns[c].unit, row[c]);
        if (globals.scripted) {
            std::cout << *columns[c].name << '\t' << value << '\n';
        } else {
            std::cout << Pad(Label(*columns[c].header) + ":", width, false) << "  " << value
                      << '\n';
        }
    }
}

}  // namespace qvctl
