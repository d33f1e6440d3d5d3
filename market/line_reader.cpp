#include "market/line_reader.h"

namespace quillon {

bool LineReader::Open(const std::string& name) {
    Close();
    // "ab" creates a missing file and leaves an existing archive untouched.
    if (std::FILE* create = std::fopen(name.c_str(), "ab")) std::fclose(create);
    file_ = std::fopen(name.c_str(), "rb");
    return file_ != nullptr;
}

void LineReader::Close() {
    if (file_ != nullptr) std::fclose(file_);
    file_ = nullptr;
}

void LineReader::Rewind() {
    if (file_ != nullptr) std::rewind(file_);
}

std::string LineReader::ReadLine() {
    std::string line;
    if (file_ == nullptr) return line;
    int c;
    while ((c = std::getc(file_)) != EOF) {
        // Only LF ends a line; a CR is dropped only just before it.
        if (c == '\n') break;
        if (line.size() < kMaxLineLength) line.push_back(static_cast<char>(c));
    }
    if (!line.empty() && line.back() == '\r') line.pop_back();
    return line;
}

bool LineReader::AtEnd() {
    if (file_ == nullptr) return true;
    int c = std::getc(file_);
    if (c == EOF) return true;
    std::ungetc(c, file_);
    return false;
}

}  // namespace quillon
