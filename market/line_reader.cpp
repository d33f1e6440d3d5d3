#include "market/line_reader.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace quillon {

namespace {

// The kept part of a line of `length` bytes at `data`: at most
// kMaxLineLength bytes, then a CR at its end dropped (only LF ends a line; a
// CR is dropped only just before it).
std::string_view KeptPart(const char* data, std::size_t length) {
    std::string_view line(data, std::min(length, LineReader::kMaxLineLength));
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    return line;
}

}  // namespace

bool LineReader::Open(const std::string& name) {
    Close();
    // O_APPEND | O_CREAT creates a missing file and leaves an existing archive
    // untouched.
    const int create = ::open(name.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0666);
    if (create >= 0) ::close(create);
    fd_ = ::open(name.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd_ < 0) return false;
    if (!block_) block_ = std::make_unique<char[]>(kBlockSize);
    start_ = end_ = 0;
    return true;
}

void LineReader::Close() {
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
    start_ = end_ = 0;
}

void LineReader::Rewind() {
    if (fd_ < 0) return;
    ::lseek(fd_, 0, SEEK_SET);
    start_ = end_ = 0;
}

bool LineReader::Fill() {
    if (start_ < end_) return true;
    start_ = end_ = 0;
    if (fd_ < 0) return false;
    for (;;) {
        const ssize_t got = ::read(fd_, block_.get(), kBlockSize);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        end_ = static_cast<std::size_t>(got);
        return true;
    }
}

std::string_view LineReader::NextLine() {
    if (!Fill()) return {};
    // Most lines lie within the block: handed out where they are.
    const char* data = block_.get() + start_;
    const std::size_t available = end_ - start_;
    if (const void* lf = std::memchr(data, '\n', available)) {
        const std::size_t length = static_cast<std::size_t>(static_cast<const char*>(lf) - data);
        start_ += length + 1;
        return KeptPart(data, length);
    }
    // The line goes on past the block: its kept part is collected.
    spill_.clear();
    while (Fill()) {
        data = block_.get() + start_;
        const std::size_t left = end_ - start_;
        const void* lf = std::memchr(data, '\n', left);
        const std::size_t length =
            lf != nullptr ? static_cast<std::size_t>(static_cast<const char*>(lf) - data) : left;
        const std::size_t room = kMaxLineLength - std::min(spill_.size(), kMaxLineLength);
        spill_.append(data, std::min(length, room));
        start_ += lf != nullptr ? length + 1 : length;
        if (lf != nullptr) break;
    }
    return KeptPart(spill_.data(), spill_.size());
}

std::string LineReader::ReadLine() {
    return std::string(NextLine());
}

bool LineReader::AtEnd() {
    return !Fill();
}

}  // namespace quillon
