// The output directories of the programs the README uses: quillon-import's
// --out, --workdir and --user-workdir and quillon-make-archive's DIRECTORY
// are made when missing, each new level for the user alone as a working
// directory is made, and a file standing in the way is told and nothing is
// written. The README's command blocks themselves run in
// tests/docs/readme_test.sh.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>

#include <cstdlib>
#include <string>

#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

const std::string kReadmeExamples = std::string(QUILLON_SOURCE_DIR) + "/docs/examples/";

unsigned ModeOf(const std::string& path) {
    struct stat status {};
    if (::stat(path.c_str(), &status) != 0) return 0;
    return status.st_mode & 0777;
}

TEST(OutputDirectories, AreMadeForTheUserAloneWhereverTheyAreNamed) {
    const std::string import = "'" QUILLON_IMPORT_PATH "' --date 2026-12-08 ";
    const std::string stocks = " '" + kReadmeExamples + "stocks.csv'";
    const std::string archive = "'" QUILLON_MAKE_ARCHIVE_PATH "' ";
    struct Case {
        const char* name;
        // The command after `cd HOME`, with HOME (the test's scratch
        // directory) in the environment; @ stands for HOME.
        std::string command;
        std::string environment;
        const char* madeLevel;  // the first level the program had to make
        const char* written;    // a file it writes in the deepest one
    };
    const Case cases[] = {
        {"--out", import + "--out @/a/b" + stocks, "", "a", "a/b/Quote.txt"},
        {"--workdir", import + "--workdir @/a/b" + stocks, "", "a", "a/b/Quote.txt"},
        {"--workdir=", import + "--workdir=a/b" + stocks, "", "a", "a/b/Quote.txt"},
        {"--user-workdir under HOME", import + "--user-workdir" + stocks,
         "XDG_DATA_HOME=", ".local", ".local/share/quillon/Quote.txt"},
        {"--user-workdir under XDG_DATA_HOME", import + "--user-workdir" + stocks,
         "XDG_DATA_HOME=@/data", "data", "data/quillon/Quote.txt"},
        // A relative XDG_DATA_HOME is to be ignored.
        {"--user-workdir, relative XDG_DATA_HOME", import + "--user-workdir" + stocks,
         "XDG_DATA_HOME=data", ".local", ".local/share/quillon/Quote.txt"},
        {"quillon-make-archive", archive + "@/a/b 3", "", "a", "a/b/Symbols.sym"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir home;
        auto expand = [&](std::string text) {
            for (std::size_t at; (at = text.find('@')) != std::string::npos;)
                text.replace(at, 1, home.Path());
            return text;
        };
        const std::string run = "cd '" + home.Path() + "' && env HOME='" + home.Path() + "' " +
                                expand(c.environment) + " " + expand(c.command) + " >out.log 2>&1";
        const int status = std::system(run.c_str());
        ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << run << "\n"
                                                                   << home.Read("out.log");
        EXPECT_TRUE(home.Exists(c.written)) << home.Read("out.log");
        EXPECT_EQ(ModeOf(home.File(c.madeLevel)), 0700U);
        const std::string deepest = home.File(c.written).substr(0, home.File(c.written).rfind('/'));
        EXPECT_EQ(ModeOf(deepest), 0700U);
    }
}

// A file where the directory should be: exit status 1, the path and the
// reason told, and nothing written anywhere.
TEST(OutputDirectories, AFileInTheWayIsToldAndNothingIsWritten) {
    const std::string stocks = " '" + kReadmeExamples + "stocks.csv'";
    const std::string commands[] = {
        "'" QUILLON_IMPORT_PATH "' --date 2026-12-08 --out @/taken" + stocks,
        "'" QUILLON_IMPORT_PATH "' --date 2026-12-08 --out @/taken/sub" + stocks,
        "'" QUILLON_MAKE_ARCHIVE_PATH "' @/taken 3",
    };
    for (const std::string& command : commands) {
        SCOPED_TRACE(command);
        TempDir home;
        home.Write("taken", "a file\n");
        std::string line = command;
        for (std::size_t at; (at = line.find('@')) != std::string::npos;)
            line.replace(at, 1, home.Path());
        const int status =
            std::system(("cd '" + home.Path() + "' && " + line + " >out.log 2>&1").c_str());
        ASSERT_TRUE(WIFEXITED(status));
        EXPECT_EQ(WEXITSTATUS(status), 1) << home.Read("out.log");
        EXPECT_NE(home.Read("out.log").find("cannot create " + home.File("taken")),
                  std::string::npos)
            << home.Read("out.log");
        EXPECT_NE(home.Read("out.log").find(": Not a directory"), std::string::npos);
        EXPECT_EQ(home.Read("taken"), "a file\n");
        EXPECT_FALSE(home.Exists("Quote.txt"));
    }
}

}  // namespace
}  // namespace quillon
