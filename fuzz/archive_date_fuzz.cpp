// Any bytes as the text of QuoteDate.txt: a date is read only from a first
// line that is exactly the date's own text, the date is a real one, and
// writing it gives back that line with CR LF.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_context.h"
#include "platform/civil_day.h"
#include "results/archive_date.h"

namespace {

using quillon::fuzz::Check;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string_view bytes(reinterpret_cast<const char*>(data), size);
    const auto date = quillon::ParseArchiveDate(bytes);
    if (!date) return 0;
    Check(date->Year >= 1900 && date->Year <= 9999);
    Check(date->Month >= 1 && date->Month <= 12);
    Check(date->Day >= 1 && date->Day <= quillon::DaysInMonth(date->Year, date->Month));
    Check(date->Hour == 0 && date->Minute == 0 && date->Second == 0);

    const std::string text = quillon::ArchiveDateText(date->Year, date->Month, date->Day);
    Check(text.size() == 12 && text.ends_with("\r\n"));
    // The first line is the date's text and nothing else.
    const std::string_view line = bytes.substr(0, bytes.find('\n'));
    Check(line == std::string_view(text).substr(0, 10) ||
          line == std::string_view(text).substr(0, 11));
    // What follows the first line does not matter.
    const auto again = quillon::ParseArchiveDate(text);
    Check(again && again->Year == date->Year && again->Month == date->Month &&
          again->Day == date->Day);
    return 0;
}
