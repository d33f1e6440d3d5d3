#pragma once
// Reading the symbol file and the progress file Progress.---.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace quillon {

inline constexpr std::size_t kMaxSymbolLength = 6;

// The symbol a line of the symbol file names: its leading run of ASCII
// letters and digits, at most six characters, in upper case; empty when the
// line starts with anything else (a blank included).
std::string SymbolOfLine(std::string_view line);

// The symbols of a symbol file's text, sorted ascending (digits before
// letters, a symbol before its extensions: IBM before IBMX), without
// duplicates. Lines end with LF or CR LF.
std::vector<std::string> ParseSymbolText(std::string_view text);

// The symbols of the named file; nothing when it cannot be opened or read.
std::optional<std::vector<std::string>> ReadSymbolFile(const std::string& name);

// The resume point kept in Progress.---.
struct ProgressPoint {
    int ProcessCount = 0;
    int SymbolIndex = 0;
};

// Two decimal integers separated by white space; a number that cannot be
// read (missing, not a number, out of range) and every number after it
// stay 0.
ProgressPoint ParseProgress(std::string_view text);

}  // namespace quillon
