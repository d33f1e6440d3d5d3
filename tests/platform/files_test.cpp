#include "platform/files.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

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

TEST(Files, AtomicReplaceWritesOwnerOnlyAndKeepsOldFileOnFailure) {
    TempDir dir;
    dir.Write("settings", "old");
    ASSERT_TRUE(ReplaceFileAtomically(dir.File("settings"), "new\r\n", true));
    EXPECT_EQ(dir.Read("settings"), "new\r\n");
    struct stat info {};
    ASSERT_EQ(::stat(dir.File("settings").c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u);
    EXPECT_FALSE(dir.Exists("settings.new"));

    // The temporary name is taken by a directory: the write fails.
    std::filesystem::create_directory(dir.File("settings.new"));
    EXPECT_FALSE(ReplaceFileAtomically(dir.File("settings"), "lost", true));
    EXPECT_EQ(dir.Read("settings"), "new\r\n");
    EXPECT_FALSE(ReplaceFileAtomically(dir.File("no/such/dir"), "x", false));
}

}  // namespace
}  // namespace quillon
