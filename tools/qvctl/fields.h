// Records on the screen and in JSON: one field table per record.
//
// A command never prints a record itself: it hands its records to PrintList
// or PrintOne together with the record's field table, and the table drives
// everything a user can ask for: the human table (the fields marked for it),
// the detail view (every field), -H (no header, tab-separated), -p (exact
// numbers), -o (chosen fields, in the order given; `-o help` lists them, `-o all`
// takes every one) and
// JSON (every field, sizes in bytes, times in seconds, the unit in the key).
//
// A new record is a table of rows; a new command adds no printer:
//
//   const Fields<QV_SNAPSHOT_INFO>& SnapshotFields() {
//       static const Fields<QV_SNAPSHOT_INFO> fields = {
//           {"id", "ID", Unit::kCount, [](const QV_SNAPSHOT_INFO& s) -> Value { return s.Id; }},
//           {"name", "NAME", Unit::kText, [](const QV_SNAPSHOT_INFO& s) { return Text(s.Name); }},
//           {"size", "SIZE", Unit::kBytes, [](const QV_SNAPSHOT_INFO& s) -> Value {
//                return uint64_t{s.SizeKiB} * 1024; }},
//           {"owner", "OWNER", Unit::kText, ..., kDetail},   // detail view, -o and JSON only
//       };
//       return fields;
//   }
//   PrintList(globals, SnapshotFields(), list.Entries, list.Entries + list.Count);
//   PrintOne(globals, SnapshotFields(), list.Entries[0]);
#pragma once

#include <cstdint>
#include <functional>
#include <nlohmann/json.hpp>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

namespace qvctl {

using json = nlohmann::ordered_json;
struct Globals;

// What a field's number measures. The unit decides the human form, the
// exact form (-p) and the JSON key's suffix.
enum class Unit {
    kText,     // a string
    kCount,    // a plain number
    kBytes,    // "8.0 GiB"; JSON key NAME_bytes
    kRate,     // bytes per second, "120.0 MiB/s"; JSON key NAME_bytes_per_second
    kSeconds,  // "2m05s"; JSON key NAME_seconds
    kPercent,  // "42%"; JSON key NAME_percent
    kFlag,     // "yes" or "no"; JSON true or false
    kStatus,   // a status word as eight hexadecimal digits
};

// A field's value; std::monostate when the record has none ("-", null).
using Value = std::variant<std::monostate, std::string, uint64_t, int64_t, bool>;

// The value of a text the library handed out (null stays absent).
Value Text(const char16_t* utf16);

inline constexpr bool kDetail = false;  // a field left out of the default table

template <class Record>
struct Field {
    std::string name;    // -o name; JSON key before the unit suffix
    std::string header;  // table header; the detail view's label is made from it
    Unit unit;
    std::function<Value(const Record&)> get;
    bool in_table = true;
};

template <class Record>
using Fields = std::vector<Field<Record>>;

// The record-independent half: columns and rows of values.
struct Column {
    const std::string* name;
    const std::string* header;
    Unit unit;
    bool in_table;
};
using Row = std::vector<Value>;

void PrintRows(const Globals& globals, const std::vector<Column>& columns,
               const std::vector<Row>& rows);
void PrintDetail(const Globals& globals, const std::vector<Column>& columns, const Row& row);
json RowJson(const Globals& globals, const std::vector<Column>& columns, const Row& row);
// The human form of one value, as the table shows it (honours -p).
std::string Show(const Globals& globals, Unit unit, const Value& value);

template <class Record>
std::vector<Column> ColumnsOf(const Fields<Record>& fields) {
    std::vector<Column> columns;
    for (const auto& f : fields) columns.push_back({&f.name, &f.header, f.unit, f.in_table});
    return columns;
}

template <class Record>
Row RowOf(const Fields<Record>& fields, const Record& record) {
    Row row;
    for (const auto& f : fields) row.push_back(f.get(record));
    return row;
}

template <class Record, class Iterator>
void PrintList(const Globals& globals, const Fields<Record>& fields, Iterator begin, Iterator end) {
    std::vector<Row> rows;
    for (Iterator i = begin; i != end; ++i) rows.push_back(RowOf(fields, *i));
    PrintRows(globals, ColumnsOf(fields), rows);
}

template <class Record>
void PrintOne(const Globals& globals, const Fields<Record>& fields, const Record& record) {
    PrintDetail(globals, ColumnsOf(fields), RowOf(fields, record));
}

template <class Record>
json JsonOf(const Globals& globals, const Fields<Record>& fields, const Record& record) {
    return RowJson(globals, ColumnsOf(fields), RowOf(fields, record));
}

// Human forms shared with the progress bar.
std::string BytesText(uint64_t bytes);
std::string SecondsText(uint64_t seconds);

}  // namespace qvctl
