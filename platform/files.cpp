#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>
#include <string_view>

namespace quillon {

namespace fs = std::filesystem;

int OpenWorkingFile(const std::string& name, int flags, mode_t mode) {
    return ::open(name.c_str(), flags | O_NOFOLLOW, mode);
}

std::string OpenErrorText(const std::string& name, int error) {
    struct stat info {};
    // ELOOP also means a loop of links among the directories on the way.
    if (error == ELOOP && ::lstat(name.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        return "it is a symbolic link; refused: remove it and try again";
    }
    return std::strerror(error);
}

std::int64_t QueryFileSize(const std::string& name) {
    struct stat info {};
    if (name.empty() || ::stat(name.c_str(), &info) != 0) return -1;
    if (S_ISDIR(info.st_mode)) return 0;
    return static_cast<std::int64_t>(info.st_size);
}

bool FileExists(const std::string& name) {
    struct stat info {};
    return !name.empty() && ::stat(name.c_str(), &info) == 0;
}

bool DeleteFileQuietly(const std::string& name) {
    if (::unlink(name.c_str()) == 0) return true;
    return errno == ENOENT;
}

bool RenameFileQuietly(const std::string& from, const std::string& to) {
    if (!FileExists(from) || FileExists(to)) return false;
    return ::rename(from.c_str(), to.c_str()) == 0;
}

std::optional<std::string> ReadWholeFile(const std::string& name) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return std::nullopt;
    std::ostringstream content;
    content << in.rdbuf();
    if (in.bad()) return std::nullopt;
    return content.str();
}

std::optional<std::string> ReadFileStart(const std::string& name, std::size_t limit) {
    std::ifstream in(name, std::ios::binary);
    if (!in) return std::nullopt;
    std::string content(limit, '\0');
    in.read(content.data(), static_cast<std::streamsize>(limit));
    if (in.bad()) return std::nullopt;
    content.resize(static_cast<std::size_t>(in.gcount()));
    return content;
}

namespace {

// Temporary files of a replacement are the target's name, this marker and a
// random suffix of kTempSuffixLength letters and digits.
constexpr std::string_view kTempMarker = ".new-";
constexpr std::string_view kImportTempMarker = ".import-";
constexpr std::size_t kTempSuffixLength = 6;
constexpr const char* kTempSuffixChars =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789";
// The single fixed temporary name that earlier builds used.
constexpr const char* kOldTempSuffix = ".new";

// Drawn from the system's random source on every call, so that programs
// started alike, or forked, do not draw the same names.
std::string RandomSuffix() {
    std::random_device device;
    std::uniform_int_distribution<std::size_t> pick(0, std::strlen(kTempSuffixChars) - 1);
    std::string suffix;
    for (std::size_t i = 0; i < kTempSuffixLength; ++i)
        suffix += kTempSuffixChars[pick(device)];
    return suffix;
}

// Creates a new temporary file beside `name` that no other writer uses
// (O_EXCL), with `mode` before the umask; its descriptor, or -1.
int CreateTemporary(const std::string& name, mode_t mode, std::string& temp) {
    for (int attempt = 0; attempt < 100; ++attempt) {
        temp = name + std::string(kTempMarker) + RandomSuffix();
        const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode);
        if (fd >= 0 || errno != EEXIST) return fd;
    }
    return -1;
}

// True when `entry` is a temporary name of a replacement of `base`.
bool IsTemporaryOf(std::string_view entry, std::string_view base) {
    if (!entry.starts_with(base)) return false;
    entry.remove_prefix(base.size());
    if (entry == kOldTempSuffix) return true;
    // The importer's own temporaries of earlier builds, named by mkstemp.
    const std::string_view marker =
        entry.starts_with(kImportTempMarker) ? kImportTempMarker : kTempMarker;
    if (!entry.starts_with(marker)) return false;
    entry.remove_prefix(marker.size());
    return entry.size() == kTempSuffixLength &&
           entry.find_first_not_of(kTempSuffixChars) == std::string_view::npos;
}

}  // namespace

bool ReplaceFileAtomically(const std::string& name, const std::string& content, bool ownerOnly) {
    FileReplacement replacement(name, ownerOnly);
    return replacement.Write(content) && replacement.Commit();
}

FileReplacement::FileReplacement(const std::string& name, bool ownerOnly) : name_(name) {
    // Each replacement writes a temporary file of its own, so that two
    // writers at the same time (two running programs) never write into one.
    fd_ = CreateTemporary(name, ownerOnly ? 0600 : 0666, temp_);
    if (fd_ < 0) {
        Fail();
        return;
    }
    if (ownerOnly) ::fchmod(fd_, 0600);  // exactly, whatever the umask
}

FileReplacement::~FileReplacement() {
    if (fd_ < 0) return;
    ::close(fd_);
    ::unlink(temp_.c_str());
}

bool FileReplacement::Fail() {
    if (error_ == 0) error_ = errno != 0 ? errno : EIO;
    return false;
}

bool FileReplacement::Write(std::string_view bytes) {
    if (fd_ < 0 || error_ != 0) return false;
    while (!bytes.empty()) {
        const ssize_t written = ::write(fd_, bytes.data(), bytes.size());
        if (written < 0 && errno == EINTR) continue;
        if (written <= 0) {
            if (written == 0) errno = ENOSPC;
            return Fail();
        }
        bytes.remove_prefix(static_cast<std::size_t>(written));
    }
    return true;
}

bool FileReplacement::WriteWith(const std::function<bool(std::FILE*)>& write) {
    if (fd_ < 0 || error_ != 0) return false;
    const int copy = ::dup(fd_);
    std::FILE* file = copy >= 0 ? ::fdopen(copy, "wb") : nullptr;
    if (file == nullptr) {
        if (copy >= 0) ::close(copy);
        return Fail();
    }
    errno = 0;
    bool ok = write(file) && std::fflush(file) == 0;
    if (!ok) Fail();
    if (std::fclose(file) != 0 && ok) ok = Fail();
    return ok;
}

bool FileReplacement::Sync() {
    if (fd_ < 0 || error_ != 0) return false;
    if (!synced_ && ::fsync(fd_) != 0) return Fail();
    synced_ = true;
    return true;
}

bool FileReplacement::Commit() {
    if (fd_ < 0) return false;
    bool ok = Sync();
    if (::close(fd_) != 0 && ok) ok = Fail();
    fd_ = -1;
    if (ok && ::rename(temp_.c_str(), name_.c_str()) != 0) ok = Fail();
    if (!ok) {
        ::unlink(temp_.c_str());
        return false;
    }
    const std::string directory = fs::path(name_).parent_path().string();
    SyncDirectory(directory.empty() ? "." : directory);
    return true;
}

int RemoveLeftoverTemporaries(const std::string& name, std::chrono::seconds minimumAge) {
    const fs::path target(name);
    const std::string base = target.filename().string();
    fs::path directory = target.parent_path();
    if (directory.empty()) directory = ".";
    const auto now = std::chrono::system_clock::now();
    int removed = 0;
    std::error_code error;
    for (fs::directory_iterator entry(directory, error), end; !error && entry != end;
         entry.increment(error)) {
        const fs::path& path = entry->path();
        if (!IsTemporaryOf(path.filename().string(), base)) continue;
        struct stat info {};
        if (::lstat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) continue;
        // A temporary file that is this young may belong to a save that is
        // running now; one whose time is far off either way cannot.
        const auto modified = std::chrono::system_clock::from_time_t(info.st_mtime);
        const auto age = now > modified ? now - modified : modified - now;
        if (age < minimumAge) continue;
        if (::unlink(path.c_str()) == 0) ++removed;
    }
    return removed;
}

bool SyncDirectory(const std::string& directory) {
    const int fd = ::open(directory.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return false;
    const bool ok = ::fsync(fd) == 0;
    ::close(fd);
    return ok;
}

std::string CurrentDirectory() {
    std::error_code error;
    std::string dir = fs::current_path(error).string();
    while (dir.size() > 1 && dir.back() == '/')
        dir.pop_back();
    return dir;
}

}  // namespace quillon
