#pragma once
// The recorded date of a quote archive: QuoteDate.txt beside Quote.txt holds
// the date the quotes in Quote.txt are of, one line "2025-06-17". A local scan
// of the archive builds its expiration calendar and dates its report from it,
// so that quotes imported for a past day are scanned as of that day.

#include <optional>
#include <string>
#include <string_view>

#include "platform/clock.h"

namespace quillon {

inline constexpr const char* kArchiveDateFile = "QuoteDate.txt";  // beside Quote.txt

// The file's text for a date: "2025-06-17\r\n".
std::string ArchiveDateText(int year, int month, int day);

// The date a QuoteDate.txt text holds: its first line, exactly YYYY-MM-DD (a
// real date of the years 1900 to 9999), ended by CR LF, LF or the end of the
// text; whatever follows the first line end is not read. Nothing for anything
// else, a blank or a byte order mark on the line included. The time is 0:00:00.
std::optional<DateTime> ParseArchiveDate(std::string_view text);

// What a QuoteDate.txt file says.
struct ArchiveDateRead {
    std::optional<DateTime> Date;  // the recorded date
    // Why a file with bytes in it gave no date, in words for the user (the
    // file named without its directory); empty when the file gave a date, is
    // missing or is empty.
    std::string Problem;
};

// Reads the recorded date from the file `name`. A missing or empty file
// records no date, which is no problem: the archive is of today.
ArchiveDateRead ReadArchiveDate(const std::string& name);

}  // namespace quillon
