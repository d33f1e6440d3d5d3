#include "results/archive_date.h"

#include <cerrno>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>

#include "platform/clock.h"
#include "platform/files.h"

namespace quillon {

std::string ArchiveDateText(int year, int month, int day) {
    return CivilDay{year, month, day}.IsoText() + "\r\n";
}

std::optional<DateTime> ParseArchiveDate(std::string_view text) {
    constexpr std::size_t kDateLength = 10;  // YYYY-MM-DD
    if (text.size() < kDateLength) return std::nullopt;
    const std::string_view rest = text.substr(kDateLength);
    const bool lineEnds = rest.empty() || rest.front() == '\n' || rest.starts_with("\r\n");
    const std::optional<CivilDay> day = ReadIsoDigits(text.substr(0, kDateLength));
    if (!lineEnds || !day || day->Year < 1900 || !day->Valid()) return std::nullopt;
    DateTime at;
    at.Year = day->Year;
    at.Month = day->Month;
    at.Day = day->Day;
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
