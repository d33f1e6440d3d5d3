#include "platform/workdir.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string_view>

namespace quillon {

namespace fs = std::filesystem;

std::string UserDataDirectory(const char* xdgDataHome, const char* home) {
    if (xdgDataHome != nullptr && xdgDataHome[0] == '/') {
        return (fs::path(xdgDataHome) / "quillon").lexically_normal().string();
    }
    if (home != nullptr && home[0] == '/') {
        return (fs::path(home) / ".local/share/quillon").lexically_normal().string();
    }
    return {};
}

WorkdirChoice TakeWorkdirOptions(int& argc, char** argv) {
    WorkdirChoice choice;
    const std::string_view equals = "--workdir=";
    int kept = 1;
    for (int i = 1; i < argc; ++i) {
        const std::string_view argument = argv[i];
        if (argument == kWorkdirOption) {
            choice.Directory = i + 1 < argc ? argv[++i] : "";
            if (choice.Directory.empty()) choice.Error = "--workdir needs a directory";
        } else if (argument.substr(0, equals.size()) == equals) {
            choice.Directory = std::string(argument.substr(equals.size()));
            if (choice.Directory.empty()) choice.Error = "--workdir needs a directory";
        } else if (argument == kUserWorkdirOption) {
            choice.Directory = UserDataDirectory(std::getenv("XDG_DATA_HOME"), std::getenv("HOME"));
            if (choice.Directory.empty()) {
                choice.Error = "--user-workdir: neither XDG_DATA_HOME nor HOME names a directory";
            }
        } else {
            argv[kept++] = argv[i];
        }
    }
    argc = kept;
    argv[argc] = nullptr;
    return choice;
}

std::string MakeWorkingDirectory(const std::string& directory) {
    std::error_code error;
    // Absolute, so that a message names the directory wherever it is read.
    const fs::path path = fs::absolute(directory, error).lexically_normal();
    if (error) return "cannot work in " + directory + ": " + error.message();
    // Each missing level is made in turn, so that new ones get mode 0700.
    fs::path made;
    for (const fs::path& part : path) {
        made /= part;
        if (fs::is_directory(made, error)) continue;
        if (::mkdir(made.c_str(), 0700) != 0 && errno != EEXIST) {
            return "cannot create " + made.string() + ": " + std::strerror(errno);
        }
    }
    // A file of that name stands where the directory should be.
    if (!fs::is_directory(path, error))
        return "cannot create " + path.string() + ": " + std::strerror(ENOTDIR);
    return {};
}

std::string EnterWorkingDirectory(const std::string& directory) {
    if (std::string made = MakeWorkingDirectory(directory); !made.empty()) return made;
    std::error_code error;
    const fs::path path = fs::absolute(directory, error).lexically_normal();
    if (::chdir(path.c_str()) != 0) {
        return "cannot work in " + directory + ": " + std::strerror(errno);
    }
    return {};
}

}  // namespace quillon
