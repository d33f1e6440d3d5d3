#include "platform/files.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>

namespace quillon {

namespace fs = std::filesystem;

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

bool ReplaceFileAtomically(const std::string& name, const std::string& content, bool ownerOnly) {
    std::string temp = name + ".new";
    mode_t mode = ownerOnly ? 0600 : 0666;
    int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, mode);
    if (fd < 0) return false;
    if (ownerOnly) ::fchmod(fd, 0600);
    const char* data = content.data();
    std::size_t left = content.size();
    bool ok = true;
    while (left > 0) {
        ssize_t written = ::write(fd, data, left);
        if (written < 0) {
            if (errno == EINTR) continue;
            ok = false;
            break;
        }
        data += written;
        left -= static_cast<std::size_t>(written);
    }
    if (ok && ::fsync(fd) != 0) ok = false;
    if (::close(fd) != 0) ok = false;
    if (ok && ::rename(temp.c_str(), name.c_str()) != 0) ok = false;
    if (!ok) ::unlink(temp.c_str());
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
