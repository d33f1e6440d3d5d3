#pragma once
// A text file read line by line, as the local quote archive is read in a
// local scan. Accepts CR LF or LF line ends, any bytes, and caps the length
// of a line so that a damaged file cannot make memory grow without bound.

#include <cstdio>
#include <string>

namespace quillon {

class LineReader {
  public:
    // Bytes kept of one line; the rest of a longer line is skipped.
    static constexpr std::size_t kMaxLineLength = 64 * 1024;

    LineReader() = default;
    LineReader(const LineReader&) = delete;
    LineReader& operator=(const LineReader&) = delete;
    ~LineReader() { Close(); }

    // Opens `name` for reading from its start, creating it empty when it is
    // missing. False when it cannot be opened.
    bool Open(const std::string& name);
    void Close();
    bool IsOpen() const { return file_ != nullptr; }

    // Back to the start of the file.
    void Rewind();

    // Reads the next line without its line end. At the end of the file it
    // gives an empty line and AtEnd() becomes true.
    std::string ReadLine();

    // True once the last line has been read (or the file is not open).
    bool AtEnd();

  private:
    std::FILE* file_ = nullptr;
};

}  // namespace quillon
