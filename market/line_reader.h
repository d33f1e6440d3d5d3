#pragma once
// A text file read line by line, as the local quote archive is read in a
// local scan. Accepts CR LF or LF line ends, any bytes, and caps the length
// of a line so that a damaged file cannot make memory grow without bound.
//
// The file is read in blocks of kBlockSize bytes; a line that lies within
// the block is handed out as a view of it, without a copy, so that reading
// costs no allocation per line and memory stays the same whatever the size
// of the file.

#include <cstddef>
#include <memory>
#include <string>
#include <string_view>

namespace quillon {

class LineReader {
  public:
    // Bytes kept of one line; the rest of a longer line is skipped.
    static constexpr std::size_t kMaxLineLength = 64 * 1024;
    // Bytes asked of one read from the file.
    static constexpr std::size_t kBlockSize = 64 * 1024;

    LineReader() = default;
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    ~LineReader() { Close(); }

    // Opens `name` for reading from its start, creating it empty when it is
    // missing. False when it cannot be opened.
    bool Open(const std::string& name);
    void Close();
    bool IsOpen() const { return fd_ >= 0; }

    // Back to the start of the file.
    void Rewind();

    // Reads the next line without its line end. At the end of the file it
    // gives an empty line and AtEnd() becomes true. A failed read counts as
    // the end of the file.
    std::string ReadLine();
    // The same as a view, valid until the next call of any member.
    std::string_view NextLine();

    // True once the last line has been read (or the file is not open).
    bool AtEnd();

  private:
    // Reads the next block when every byte of the last one is used; false
    // at the end of the file.
    bool Fill();

    int fd_ = -1;
    std::unique_ptr<char[]> block_;
    std::size_t start_ = 0;  // the first byte of block_ not yet handed out
    std::size_t end_ = 0;    // the bytes of block_ that hold data
    std::string spill_;      // a line that crosses the end of a block
};

}  // namespace quillon
