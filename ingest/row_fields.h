#pragma once
// What the readers of stock rows and of option rows share: trimming and
// upper-casing a field, digits, the field and the name of a column, reading
// a number into a figure, and the symbols a scan can read.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "ingest/import_rows.h"
#include "platform/civil_day.h"
#include "platform/text.h"

namespace quillon::import::fields {

// Values beyond this are no prices or share counts, and would overflow the
// archive's 32-bit figures.
inline constexpr double kLargestValue = 1e15;

// A field without its blanks, and a line's CR after it.
inline std::string_view Trim(std::string_view text) {
    return TrimEnd(TrimStart(text, IsSpaceOrTab), IsSpaceTabOrCr);
}

inline char Upper(char c) {
    return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
}

inline std::string UpperCase(std::string_view text) {
    std::string out(text);
    for (char& c : out)
        c = Upper(c);
    return out;
}

inline bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}

inline bool IsAlnum(char c) {
    return IsDigit(c) || (c >= 'A' && c <= 'Z');
}

inline std::optional<int> Digits(std::string_view text, std::size_t minLength,
                                 std::size_t maxLength) {
    if (text.size() < minLength || text.size() > maxLength) return std::nullopt;
    int value = 0;
    for (char c : text) {
        if (!IsDigit(c)) return std::nullopt;
        value = value * 10 + (c - '0');
    }
    return value;
}

inline std::optional<CivilDay> ValidDate(std::optional<int> year, std::optional<int> month,
                                         std::optional<int> day) {
    if (!year || !month || !day || *year < 1900) return std::nullopt;
    const CivilDay date{*year, *month, *day};
    return date.Valid() ? std::optional<CivilDay>(date) : std::nullopt;
}

// The index of the first of `aliases` (normalized names) in the header, or -1.
inline int FindColumn(const std::vector<std::string>& normalized,
                      std::initializer_list<const char*> aliases) {
    for (const char* alias : aliases) {
        for (std::size_t i = 0; i < normalized.size(); ++i) {
            if (normalized[i] == alias) return static_cast<int>(i);
        }
    }
    return -1;
}

inline std::vector<std::string> Normalized(const std::vector<std::string>& header) {
    std::vector<std::string> out;
    out.reserve(header.size());
    for (const std::string& name : header)
        out.push_back(NormalizeColumnName(name));
    return out;
}

inline std::string_view FieldAt(const std::vector<std::string>& fields, int column) {
    if (column < 0 || static_cast<std::size_t>(column) >= fields.size()) return {};
    return Trim(fields[static_cast<std::size_t>(column)]);
}

inline std::string NameOf(const std::vector<std::string>& names, int column) {
    return column >= 0 && static_cast<std::size_t>(column) < names.size()
               ? names[static_cast<std::size_t>(column)]
               : std::string();
}

// Reads an optional number of `column` into `out`; false with the problem
// set when the cell holds something else. A missing value leaves `out`.
template <class T>
bool ReadNumberInto(const std::vector<std::string>& names, const std::vector<std::string>& fields,
                    int column, bool mayBeNegative, T& out, RowProblem& problem) {
    const std::string_view text = FieldAt(fields, column);
    const Cell cell = ReadCell(text);
    if (cell.kind == Cell::Missing) return true;
    if (cell.kind == Cell::Unreadable || (!mayBeNegative && cell.value < 0)) {
        problem = {
            cell.kind == Cell::Unreadable ? RowFault::UnreadableNumber : RowFault::NegativeValue,
            NameOf(names, column),
            std::string(text),
            {}};
        return false;
    }
    out = static_cast<T>(cell.value);
    return true;
}

// A symbol the scan can read from the symbol file and find in the archive.
inline bool IsScanSymbol(std::string_view symbol) {
    if (symbol.empty() || symbol.size() > 6) return false;
    for (char c : symbol) {
        if (!IsAlnum(c)) return false;
    }
    return true;
}

}  // namespace quillon::import::fields
