#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

TEST(Files, QueryFileSizeTellsMissingEmptyAndSized) {
    TempDir dir;
    dir.Write("empty", "");
    dir.Write("three", "abc");
    EXPECT_EQ(QueryFileSize(dir.File("missing")), -1);
    EXPECT_EQ(QueryFileSize(""), -1);
    EXPECT_EQ(QueryFileSize(dir.File("empty")), 0);
    EXPECT_EQ(QueryFileSize(dir.File("three")), 3);
}

TEST(Files, RenameNeverOverwritesAndLeavesBothOnFailure) {
    TempDir dir;
    dir.Write("a", "A");
    dir.Write("b", "B");
    EXPECT_FALSE(RenameFileQuietly(dir.File("a"), dir.File("b")));
    EXPECT_EQ(dir.Read("a"), "A");
    EXPECT_EQ(dir.Read("b"), "B");
    EXPECT_FALSE(RenameFileQuietly(dir.File("missing"), dir.File("c")));
    EXPECT_TRUE(RenameFileQuietly(dir.File("a"), dir.File("c")));
    EXPECT_EQ(dir.Read("c"), "A");
    EXPECT_FALSE(dir.Exists("a"));
    EXPECT_TRUE(DeleteFileQuietly(dir.File("missing")));
}

// The names in `dir` other than `keep`.
std::vector<std::string> OtherNames(const TempDir& dir, const std::string& keep) {
    std::vector<std::string> names;
    for (const auto& entry : std::filesystem::directory_iterator(dir.Path()))
        if (entry.path().filename() != keep) names.push_back(entry.path().filename());
    return names;
}

TEST(Files, AtomicReplaceWritesOwnerOnlyAndKeepsOldFileOnFailure) {
    TempDir dir;
    dir.Write("settings", "old");
    // The fixed temporary name of earlier builds, taken: no hindrance.
    std::filesystem::create_directory(dir.File("settings.new"));
    ASSERT_TRUE(ReplaceFileAtomically(dir.File("settings"), "new\r\n", true));
    EXPECT_EQ(dir.Read("settings"), "new\r\n");
    struct stat info {};
    ASSERT_EQ(::stat(dir.File("settings").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_EQ(OtherNames(dir, "settings"), std::vector<std::string>{"settings.new"});

    // The target is a directory: the rename fails and the temporary goes.
    std::filesystem::create_directory(dir.File("folder"));
    EXPECT_FALSE(ReplaceFileAtomically(dir.File("folder"), "lost", true));
    EXPECT_TRUE(std::filesystem::is_directory(dir.File("folder")));
    EXPECT_EQ(OtherNames(dir, "settings").size(), 2u);
    EXPECT_EQ(dir.Read("settings"), "new\r\n");
    EXPECT_FALSE(ReplaceFileAtomically(dir.File("no/such/dir"), "x", false));
}

// Two programs replacing one file at the same time: a reader only ever sees
// one of the complete contents, and no temporary file is left.
TEST(Files, AtomicReplaceBySeveralProcessesAtOnce) {
    TempDir dir;
    const std::string name = dir.File("settings");
    const std::string contents[] = {std::string(20000, 'a'), std::string(30000, 'b')};
    ASSERT_TRUE(ReplaceFileAtomically(name, contents[0], true));
    std::vector<pid_t> writers;
    for (const std::string& content : contents) {
        const pid_t pid = fork();
        if (pid == 0) {
            bool ok = true;
            for (int i = 0; i < 150; ++i)
                ok = ReplaceFileAtomically(name, content, true) && ok;
            _exit(ok ? 0 : 1);
        }
        writers.push_back(pid);
    }
    int torn = 0;
    for (int running = 2; running > 0;) {
        const std::string seen = ReadWholeFile(name).value_or("");
        if (seen != contents[0] && seen != contents[1]) ++torn;
        running = 0;
        for (pid_t& pid : writers) {
            int status = 0;
            if (pid > 0 && waitpid(pid, &status, WNOHANG) == pid) {
                EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "a save failed";
                pid = 0;
            }
            running += pid > 0 ? 1 : 0;
        }
    }
    EXPECT_EQ(torn, 0);
    const std::string last = dir.Read("settings");
    EXPECT_TRUE(last == contents[0] || last == contents[1]) << last.size();
    EXPECT_TRUE(OtherNames(dir, "settings").empty());
}

// Leftovers of killed replacements go once they are old enough; names that
// only look alike stay.
TEST(Files, RemoveLeftoverTemporaries) {
    TempDir dir;
    const struct {
        std::string name;
        bool old;
        bool removed;
    } cases[] = {
        {"Quillon.---.new-a1B2c3", true, true},
        {"Quillon.---.new", true, true},           // the fixed name of earlier builds
        {"Quillon.---.new-Zz9Zz9", false, false},  // a save may be running now
        {"Quillon.---.new-a1B2c", true, false},
        {"Quillon.---.new-a1B2c34", true, false},
        {"Quillon.---.new-a1B2c.", true, false},
        {"Quillon.---.new-", true, false},
        {"Quillon.---.newer", true, false},
        {"Quillon.---.bak", true, false},
        {"Quillon.---", true, false},
        {"Other.---.new-a1B2c3", true, false},
        {"xQuillon.---.new-a1B2c3", true, false},
    };
    const auto longAgo = std::filesystem::file_time_type::clock::now() - std::chrono::minutes(5);
    for (const auto& c : cases) {
        dir.Write(c.name, "password");
        if (c.old) std::filesystem::last_write_time(dir.File(c.name), longAgo);
    }
    // A directory by a leftover's name is not a file of ours.
    std::filesystem::create_directory(dir.File("Quillon.---.new-dirABC"));
    std::filesystem::last_write_time(dir.File("Quillon.---.new-dirABC"), longAgo);

    EXPECT_EQ(RemoveLeftoverTemporaries(dir.File("Quillon.---"), std::chrono::seconds(60)), 2);
    for (const auto& c : cases)
        EXPECT_EQ(dir.Exists(c.name), !c.removed) << c.name;
    EXPECT_TRUE(dir.Exists("Quillon.---.new-dirABC"));
    EXPECT_EQ(RemoveLeftoverTemporaries(dir.File("missing/Quillon.---"), std::chrono::seconds(0)),
              0);
}

}  // namespace
}  // namespace quillon
