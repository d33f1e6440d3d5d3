#include "ingest/csv_rows.h"

#include <csv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quillon::import {

namespace {

constexpr std::size_t kChunkBytes = 64 * 1024;
// libcsv grows its field buffer by this much at a time; its default of 128
// bytes makes a long field cost many reallocations.
constexpr std::size_t kFieldBlockBytes = 64 * 1024;
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";

bool HasContent(const char* data, std::size_t size) {
    return std::any_of(data, data + size,
                       [](char c) { return c != ' ' && c != '\t' && c != '\r' && c != '\n'; });
}

}  // namespace

// libcsv calls back into plain functions; these forward to the reader.
struct CsvCallbacks {
    static void Field(void* data, std::size_t size, void* self) {
        auto& reader = *static_cast<CsvRowReader*>(self);
        if (!reader.error_.empty()) return;
        if (reader.current_.Fields.size() >= kMaxRowFields) {
            reader.Fail("a row with more than " + std::to_string(kMaxRowFields) + " fields");
            return;
        }
        const char* bytes = static_cast<const char*>(data);
        reader.current_.Fields.emplace_back(bytes == nullptr ? "" : std::string(bytes, size));
    }
    static void Row(int /*terminator*/, void* self) {
        auto& reader = *static_cast<CsvRowReader*>(self);
        if (!reader.error_.empty()) return;
        reader.current_.Line = reader.rowOpen_ ? reader.rowStartLine_ : reader.line_;
        reader.ready_.push_back(std::move(reader.current_));
        reader.current_ = CsvRow{};
        reader.rowOpen_ = false;
        reader.rowBytes_ = 0;
    }
};

CsvRowReader::CsvRowReader(std::FILE* file) : file_(file), parser_(std::make_unique<csv_parser>()) {
    csv_init(parser_.get(), 0);
    csv_set_blk_size(parser_.get(), kFieldBlockBytes);
    chunk_.resize(kChunkBytes);
}

CsvRowReader::CsvRowReader(std::string_view bytes)
    : memory_(bytes), parser_(std::make_unique<csv_parser>()) {
    csv_init(parser_.get(), 0);
    csv_set_blk_size(parser_.get(), kFieldBlockBytes);
}

CsvRowReader::~CsvRowReader() {
    csv_free(parser_.get());
}

void CsvRowReader::Fail(const std::string& what) {
    if (error_.empty())
        error_ = "line " + std::to_string(rowOpen_ ? rowStartLine_ : line_) + ": " + what;
}

// Feeds one piece that ends at a line feed or holds none, so that the line
// count and the start line of an open row stay exact.
void CsvRowReader::Feed(const char* data, std::size_t size) {
    if (!rowOpen_ && HasContent(data, size)) {
        rowOpen_ = true;
        rowStartLine_ = line_;
    }
    if (rowOpen_) rowBytes_ += size;
    if (rowBytes_ > kMaxRowBytes) {
        Fail("a row longer than " + std::to_string(kMaxRowBytes) +
             " bytes (is a quote left open?)");
        return;
    }
    if (csv_parse(parser_.get(), data, size, CsvCallbacks::Field, CsvCallbacks::Row, this) !=
        size) {
        Fail("cannot read the CSV text (out of memory)");
        return;
    }
    if (size > 0 && data[size - 1] == '\n') ++line_;
}

bool CsvRowReader::Refill() {
    std::string_view piece;
    if (file_ != nullptr) {
        const std::size_t got = std::fread(chunk_.data(), 1, chunk_.size(), file_);
        if (got == 0 && std::ferror(file_)) {
            Fail(std::string("cannot read the file: ") + std::strerror(errno));
            return false;
        }
        piece = std::string_view(chunk_.data(), got);
    } else {
        piece = memory_.substr(0, std::min(memory_.size(), kChunkBytes));
        memory_.remove_prefix(piece.size());
    }
    if (atStart_ && !piece.empty()) {
        atStart_ = false;
        if (piece.starts_with(kByteOrderMark)) piece.remove_prefix(kByteOrderMark.size());
    }
    if (piece.empty()) {
        csv_fini(parser_.get(), CsvCallbacks::Field, CsvCallbacks::Row, this);
        finished_ = true;
        return !ready_.empty();
    }
    while (!piece.empty() && error_.empty()) {
        const std::size_t end = piece.find('\n');
        const std::size_t size = end == std::string_view::npos ? piece.size() : end + 1;
        Feed(piece.data(), size);
        piece.remove_prefix(size);
    }
    return true;
}

bool CsvRowReader::Next(CsvRow& row) {
    while (ready_.empty()) {
        if (!error_.empty() || finished_) return false;
        Refill();
    }
    if (!error_.empty()) {
        ready_.clear();
        return false;
    }
    row = std::move(ready_.front());
    ready_.pop_front();
    return true;
}

}  // namespace quillon::import
