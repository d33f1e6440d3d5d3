#include "platform/workdir.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;
namespace fs = std::filesystem;

TEST(Workdir, UserDataDirectoryFollowsTheXdgRules) {
    struct Case {
        const char* xdg;
        const char* home;
        const char* expected;
    };
    const Case cases[] = {
        {"/data/me", "/home/me", "/data/me/quillon"},
        {"/data/me/", "/home/me", "/data/me/quillon"},
        {nullptr, "/home/me", "/home/me/.local/share/quillon"},
        {"", "/home/me", "/home/me/.local/share/quillon"},
        // A relative XDG_DATA_HOME is to be ignored.
        {"data", "/home/me", "/home/me/.local/share/quillon"},
        {nullptr, nullptr, ""},
        {nullptr, "", ""},
        {nullptr, "relative", ""},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(UserDataDirectory(c.xdg, c.home), c.expected)
            << (c.xdg ? c.xdg : "(unset)") << " " << (c.home ? c.home : "(unset)");
    }
}

// The options are taken out of the argument list; what remains keeps its
// order for the program's own parsing.
TEST(Workdir, OptionsAreTakenOutOfTheArguments) {
    ::setenv("XDG_DATA_HOME", "/xdg", 1);
    struct Case {
        std::vector<std::string> args;
        std::vector<std::string> rest;
        std::string directory;
        bool error;
    };
    const Case cases[] = {
        {{"--realtime"}, {"--realtime"}, "", false},
        {{"--workdir", "/w", "--realtime"}, {"--realtime"}, "/w", false},
        {{"--realtime", "--workdir=rel/dir"}, {"--realtime"}, "rel/dir", false},
        {{"--user-workdir", "-platform", "offscreen"},
         {"-platform", "offscreen"},
         "/xdg/quillon",
         false},
        {{"--user-workdir", "--workdir", "/w"}, {}, "/w", false},
        {{"--workdir"}, {}, "", true},
        {{"--workdir="}, {}, "", true},
        {{"--workdir", ""}, {}, "", true},
    };
    for (const Case& c : cases) {
        std::vector<std::string> storage = c.args;
        storage.insert(storage.begin(), "prog");
        std::vector<char*> argv;
        for (std::string& s : storage)
            argv.push_back(s.data());
        argv.push_back(nullptr);
        int argc = static_cast<int>(storage.size());
        const WorkdirChoice choice = TakeWorkdirOptions(argc, argv.data());
        std::vector<std::string> rest(argv.begin() + 1, argv.begin() + argc);
        EXPECT_EQ(rest, c.rest) << c.args.front();
        EXPECT_EQ(argv[static_cast<std::size_t>(argc)], nullptr);
        EXPECT_EQ(choice.Directory, c.directory) << c.args.front();
        EXPECT_EQ(!choice.Error.empty(), c.error) << c.args.front();
    }
    ::unsetenv("XDG_DATA_HOME");
}

// Missing levels are made for the user alone; the directory becomes current.
// A file in the way is told with its name and the system's reason.
TEST(Workdir, EnteringMakesTheMissingLevels) {
    const fs::path before = fs::current_path();
    TempDir dir;
    const std::string target = dir.File("a/b/quillon");
    EXPECT_EQ(EnterWorkingDirectory(target), "");
    EXPECT_EQ(fs::current_path(), fs::path(target));
    struct stat made {};
    ASSERT_EQ(::stat(target.c_str(), &made), 0);
    EXPECT_EQ(made.st_mode & 0777, 0700U);
    // An existing directory is entered as it is.
    EXPECT_EQ(EnterWorkingDirectory(dir.Path()), "");
    EXPECT_EQ(fs::current_path(), fs::path(dir.Path()));

    dir.Write("file", "x");
    const std::string error = EnterWorkingDirectory(dir.File("file/sub"));
    EXPECT_EQ(error, "cannot create " + dir.File("file/sub") + ": Not a directory");
    fs::current_path(before);
}

}  // namespace
}  // namespace quillon
