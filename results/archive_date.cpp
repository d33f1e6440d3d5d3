#include "results/archive_date.h"

#include <cerrno>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/clock.h"
#include "platform/files.h"

namespace quillon {

namespace {

// The value of the decimal digits of `text`, or -1 when one is not a digit.
int Digits(std::string_view text) {
    int value = 0;
    for (const char c : text) {
        if (c < '0' || c > '9') return -1;
        value = value * 10 + (c - '0');
    }
    return value;
}

}  // namespace

std::string ArchiveDateText(int year, int month, int day) {
    char text[32];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d\r\n", year, month, day);
    return text;
}

std::optional<DateTime> ParseArchiveDate(std::string_view text) {
    constexpr std::size_t kDateLength = 10;  // YYYY-MM-DD
    if (text.size() < kDateLength) return std::nullopt;
    const std::string_view rest = text.substr(kDateLength);
    const bool lineEnds = rest.empty() || rest.front() == '\n' || rest.starts_with("\r\n");
    if (!lineEnds || text[4] != '-' || text[7] != '-') return std::nullopt;
    const int year = Digits(text.substr(0, 4));
    const int month = Digits(text.substr(5, 2));
    const int day = Digits(text.substr(8, 2));
    if (year < 1900 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month))
        return std::nullopt;
    DateTime at;
    at.Year = year;
    at.Month = month;
    at.Day = day;
    return at;
}

ArchiveDateRead ReadArchiveDate(const std::string& name) {
    ArchiveDateRead read;
    const std::int64_t size = QueryFileSize(name);
    if (size < 0) return read;
    const std::string shortName = name.substr(name.rfind('/') + 1);
    std::error_code error;
    if (!std::filesystem::is_regular_file(name, error)) {
        read.Problem = "Cannot read " + shortName + ": it is not a file";
        return read;
    }
    // The date is on the first line; a file of any length is read no further.
    constexpr std::size_t kEnough = 64;
    errno = 0;
    const std::optional<std::string> text = ReadFileStart(name, kEnough);
    if (!text || (text->empty() && size > 0)) {
        read.Problem = "Cannot read " + shortName + ": " +
                       (errno != 0 ? std::strerror(errno) : "the read did not complete");
        return read;
    }
    if (text->empty()) return read;
    read.Date = ParseArchiveDate(*text);
    if (!read.Date) read.Problem = shortName + " holds no date of the form YYYY-MM-DD";
    return read;
}

}  // namespace quillon
