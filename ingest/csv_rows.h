#pragma once
// Rows of a CSV file, read as a stream: quoted fields with commas, quotes and
// line ends inside them, CR LF or LF line ends, a leading UTF-8 byte order
// mark dropped, blank lines skipped. Each row carries the line it starts on.
// Memory stays bounded whatever the input: a row longer than kMaxRowBytes or
// with more than kMaxRowFields fields ends the reading with an error.

#include <cstddef>
#include <cstdio>
#include <deque>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

struct csv_parser;

namespace quillon::import {

inline constexpr std::size_t kMaxRowBytes = 1 << 20;
inline constexpr std::size_t kMaxRowFields = 1000;

struct CsvRow {
    std::vector<std::string> Fields;
    long Line = 0;  // 1-based line the row starts on
};

class CsvRowReader {
  public:
    // Reads from an open file, which the caller keeps open and closes.
    explicit CsvRowReader(std::FILE* file);
    // Reads from bytes in memory, which must outlive the reader.
    explicit CsvRowReader(std::string_view bytes);
    ~CsvRowReader();
    CsvRowReader(const CsvRowReader&) = delete;
    CsvRowReader& operator=(const CsvRowReader&) = delete;

    // The next row; false at the end of the input or after an error.
    bool Next(CsvRow& row);
    // Empty unless the reading stopped on an error; then what went wrong,
    // beginning with "line N: ".
    const std::string& Error() const { return error_; }

  private:
    friend struct CsvCallbacks;
    bool Refill();
    void Feed(const char* data, std::size_t size);
    void Fail(const std::string& what);

    std::FILE* file_ = nullptr;
    std::string_view memory_;
    std::unique_ptr<csv_parser> parser_;
    std::vector<char> chunk_;
    std::deque<CsvRow> ready_;
    CsvRow current_;
    std::string error_;
    long line_ = 1;
    long rowStartLine_ = 1;
    bool rowOpen_ = false;
    std::size_t rowBytes_ = 0;
    bool atStart_ = true;
    bool finished_ = false;
};

}  // namespace quillon::import
