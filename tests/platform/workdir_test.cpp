#include "platform/workdir.h"

#include "platform/scan_lock.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/stat.h>
#include <sys/wait.h>
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

// Scan.lock is read back from a directory any program may have written to:
// only a whole "PROGRAM PID" line names a holder.
TEST(ScanLockFile, OnlyAWholeLineNamesTheHolder) {
    struct Case {
        std::string text;
        const char* holder;
    };
    const Case cases[] = {
        {"quillon-scan 4711\n", "quillon-scan (process 4711)"},
        {"quillon 12", "quillon (process 12)"},
        {"", "another program"},
        {"quillon-scan\n", "another program"},
        {"quillon-scan 0\n", "another program"},
        {"quillon-scan -5\n", "another program"},
        {"quillon-scan 47x1\n", "another program"},
        {"quillon-scan 99999999999999999999999\n", "another program"},
        {" 4711\n", "another program"},
        {"two words 4711\n", "another program"},
        {std::string("quillon\0scan 4711\n", 18), "another program"},
        {"quillon-scan 4711\nquillon 12\n", "another program"},
        {std::string(200, 'a') + " 1\n", "another program"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ParseScanLockHolder(c.text).Text(), c.holder) << c.text;
}

// Two holders in one process are two open files: the second is refused
// until the first lets go, and a lock that cannot be made is told.
TEST(ScanLockFile, TheSecondComerIsRefusedUntilTheFirstLetsGo) {
    TempDir dir;
    ScanLock first, second;
    ASSERT_EQ(first.Take(dir.Path(), "first"), ScanLock::Outcome::Taken);
    EXPECT_EQ(first.Take(dir.Path(), "first"), ScanLock::Outcome::Taken);
    EXPECT_EQ(dir.Read("Scan.lock"), "first " + std::to_string(::getpid()) + "\n");
    ASSERT_EQ(second.Take(dir.Path(), "second"), ScanLock::Outcome::Busy);
    EXPECT_EQ(second.Holder().Text(), "first (process " + std::to_string(::getpid()) + ")");
    EXPECT_FALSE(second.Held());
    first.Release();
    EXPECT_EQ(second.Take(dir.Path(), "quillon"), ScanLock::Outcome::Taken);
    EXPECT_EQ(dir.Read("Scan.lock"), "quillon " + std::to_string(::getpid()) + "\n");

    ScanLock nowhere;
    EXPECT_EQ(nowhere.Take(dir.File("missing"), "quillon"), ScanLock::Outcome::Failed);
    EXPECT_EQ(nowhere.Error(),
              "cannot lock " + dir.File("missing") + "/Scan.lock: No such file or directory");
}

// A program started while the lock is held (the scan window starts an
// editor, a browser) must not keep it after the holder lets go.
TEST(ScanLockFile, AProgramStartedByTheHolderDoesNotKeepTheLock) {
    TempDir dir;
    ScanLock first;
    ASSERT_EQ(first.Take(dir.Path(), "first"), ScanLock::Outcome::Taken);
    pid_t child = 0;
    char program[] = "/bin/sleep";
    char seconds[] = "30";
    char* argv[] = {program, seconds, nullptr};
    ASSERT_EQ(::posix_spawn(&child, program, nullptr, nullptr, argv, environ), 0);
    first.Release();
    ScanLock second;
    EXPECT_EQ(second.Take(dir.Path(), "second"), ScanLock::Outcome::Taken);
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
}

// A symbolic link in the place of Scan.lock, to a file or to nothing, is
// refused: the holder's name would be written into its target.
TEST(ScanLockFile, ASymbolicLinkInItsPlaceIsRefused) {
    for (const bool targetExists : {true, false}) {
        SCOPED_TRACE(targetExists);
        TempDir dir;
        if (targetExists) dir.Write("victim", "keep me");
        fs::create_symlink(dir.File("victim"), dir.File("Scan.lock"));
        ScanLock lock;
        EXPECT_EQ(lock.Take(dir.Path(), "quillon"), ScanLock::Outcome::Failed);
        EXPECT_EQ(lock.Error(), "cannot lock " + dir.File("Scan.lock") +
                                    ": it is a symbolic link; refused: remove it and try again");
        EXPECT_EQ(dir.Exists("victim"), targetExists);
        if (targetExists) {
            EXPECT_EQ(dir.Read("victim"), "keep me");
        }
    }
}

}  // namespace
}  // namespace quillon
