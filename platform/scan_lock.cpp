#include "platform/scan_lock.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#include <charconv>
#include <cstring>

#include "platform/files.h"

namespace quillon {

std::string ScanLockHolder::Text() const {
    if (Program.empty() || ProcessId <= 0) return "another program";
    return Program + " (process " + std::to_string(ProcessId) + ")";
}

ScanLockHolder ParseScanLockHolder(std::string_view text) {
    // One short line: anything longer or otherwise shaped is not ours.
    constexpr std::size_t kLongest = 128;
    if (!text.empty() && text.back() == '\n') text.remove_suffix(1);
    if (text.size() > kLongest) return {};
    const std::size_t blank = text.rfind(' ');
    if (blank == std::string_view::npos || blank == 0) return {};
    const std::string_view program = text.substr(0, blank);
    const std::string_view pid = text.substr(blank + 1);
    for (char c : program) {
        if (static_cast<unsigned char>(c) <= ' ' || c == 0x7f) return {};
    }
    long value = 0;
    const auto [end, error] = std::from_chars(pid.data(), pid.data() + pid.size(), value);
    if (error != std::errc() || end != pid.data() + pid.size() || value <= 0) return {};
    return ScanLockHolder{std::string(program), value};
}

namespace {

ScanLockHolder ReadHolder(int fd) {
    char buffer[160];
    const ssize_t got = ::pread(fd, buffer, sizeof buffer, 0);
    if (got <= 0) return {};
    return ParseScanLockHolder(std::string_view(buffer, static_cast<std::size_t>(got)));
}

}  // namespace

ScanLock::Outcome ScanLock::Take(const std::string& directory, const std::string& program,
                                 bool wait, void (*waiting)(const ScanLockHolder&)) {
    if (Held()) return Outcome::Taken;
    holder_ = {};
    error_.clear();
    const std::string name = directory + "/" + kScanLockFile;
    // Close-on-exec: a program started from the scan window must not keep
    // the directory locked after the scan has gone. A symbolic link in the
    // file's place is refused: the holder's name would overwrite its target.
    const int fd = OpenWorkingFile(name, O_RDWR | O_CREAT | O_CLOEXEC);
    if (fd < 0) {
        error_ = "cannot lock " + name + ": " + OpenErrorText(name, errno);
        return Outcome::Failed;
    }
    int result;
    while ((result = ::flock(fd, LOCK_EX | LOCK_NB)) != 0 && errno == EINTR) {
    }
    if (result != 0 && errno == EWOULDBLOCK) {
        holder_ = ReadHolder(fd);
        if (!wait) {
            ::close(fd);
            return Outcome::Busy;
        }
        if (waiting != nullptr) waiting(holder_);
        while ((result = ::flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
        }
    }
    if (result != 0) {
        error_ = "cannot lock " + name + ": " + std::strerror(errno);
        ::close(fd);
        return Outcome::Failed;
    }
    // The holder's name for the next comer. A failure to write it costs
    // only the name in a refusal.
    const std::string text = program + " " + std::to_string(::getpid()) + "\n";
    if (::pwrite(fd, text.data(), text.size(), 0) == static_cast<ssize_t>(text.size()) &&
        ::ftruncate(fd, static_cast<off_t>(text.size())) != 0) {
        // A longer name of an earlier holder left behind reads as no one.
    }
    fd_ = fd;
    return Outcome::Taken;
}

void ScanLock::Release() {
    if (fd_ < 0) return;
    // Closing gives the lock up; the file stays for the next holder.
    ::close(fd_);
    fd_ = -1;
}

std::string ScanLockRefusal(const std::string& directory, const ScanLockHolder& holder) {
    return "The working directory " + directory + " is in use by " + holder.Text() +
           ": one scan at a time works in a directory.";
}

}  // namespace quillon
