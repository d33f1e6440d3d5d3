#include "apps/command_line.h"

#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

namespace quillon {
namespace {

const char* kHelp = "Usage: prog [OPTION]... FILE...\n\nDoes things.\n";

// What a program made of the base reads: a flag, an option with a value, a
// list that runs to the next option, and file names.
struct Parsed {
    std::optional<int> status;
    bool flag = false;
    std::string value;
    std::vector<std::string> list, files;
    std::string workdir;
    std::string out, err;
};

Parsed Parse(std::vector<std::string> args) {
    args.insert(args.begin(), "prog");
    std::vector<char*> argv;
    for (std::string& arg : args)
        argv.push_back(arg.data());
    argv.push_back(nullptr);
    Parsed p;
    testing::internal::CaptureStdout();
    testing::internal::CaptureStderr();
    CommandLine line("prog", static_cast<int>(args.size()), argv.data(), kHelp);
    line.TakeWorkdir();
    const auto run = [&]() -> std::optional<int> {
        while (line.Next()) {
            if (line.Is("--flag")) {
                p.flag = true;
            } else if (line.Is("--value")) {
                const std::optional<std::string> value = line.Value();
                if (!value) return line.MissingValue();
                p.value = *value;
            } else if (line.Is("--list")) {
                while (line.Peek() && !line.Peek()->starts_with("--"))
                    p.list.push_back(*line.Value());
            } else if (line.Arg().starts_with("--")) {
                return line.Usage("unknown option '" + std::string(line.Arg()) + "'");
            } else {
                p.files.emplace_back(line.Arg());
            }
        }
        return line.End();
    };
    p.status = run();
    p.workdir = line.Workdir();
    p.out = testing::internal::GetCapturedStdout();
    p.err = testing::internal::GetCapturedStderr();
    return p;
}

const std::string kTry = "Usage: prog [OPTION]... FILE...\nTry 'prog --help' for more.\n";

TEST(CommandLine, ReadsOptionsAnswersHelpAndVersionAndSaysUsageErrors) {
    const struct {
        std::vector<std::string> args;
        std::optional<int> status;
        std::string out, err;
    } cases[] = {
        {{"a", "--flag", "b"}, std::nullopt, "", ""},
        // Answered where they stand: an error after them is never reached,
        // one before them is said.
        {{"--help", "--bogus"}, 0, kHelp, ""},
        {{"-h"}, 0, kHelp, ""},
        {{"--version", "--value"}, 0, "prog " QUILLON_VERSION "\n", ""},
        {{"--bogus", "--help"}, 64, "", "prog: unknown option '--bogus'\n" + kTry},
        {{"--flag", "--value"}, 64, "", "prog: --value needs a value\n" + kTry},
        // A value is taken as it is, whatever it looks like.
        {{"--value", "--help"}, std::nullopt, "", ""},
        {{"--workdir"}, 64, "", "prog: --workdir needs a directory\n" + kTry},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.args.empty() ? "" : c.args.front());
        const Parsed p = Parse(c.args);
        EXPECT_EQ(p.status, c.status);
        EXPECT_EQ(p.out, c.out);
        EXPECT_EQ(p.err, c.err);
    }
}

TEST(CommandLine, TakesValuesListsAndTheWorkingDirectoryWhereverTheyStand) {
    const Parsed p =
        Parse({"x", "--list", "l1", "l2", "--value", "v", "--workdir=/w", "--list", "--flag", "y"});
    EXPECT_EQ(p.status, std::nullopt);
    EXPECT_EQ(p.value, "v");
    EXPECT_EQ(p.list, (std::vector<std::string>{"l1", "l2"}));
    EXPECT_EQ(p.files, (std::vector<std::string>{"x", "y"}));
    EXPECT_TRUE(p.flag);
    EXPECT_EQ(p.workdir, "/w");
}

TEST(CommandLine, DateArgumentsAreExactlyYearMonthDayOfARealDay) {
    const struct {
        const char* text;
        std::optional<CivilDay> day;
    } cases[] = {
        {"2026-12-10", CivilDay{2026, 12, 10}},
        {"2024-02-29", CivilDay{2024, 2, 29}},
        {"2025-02-29", std::nullopt},
        {"2026-13-01", std::nullopt},
        {"2026-1-10", std::nullopt},
        {"10/12/2026", std::nullopt},
        {"2026-12-10x", std::nullopt},
        {"1899-12-31", std::nullopt},
        {"", std::nullopt},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        EXPECT_EQ(DateArgument(c.text), c.day);
    }
    EXPECT_EQ(HelpAndVersionLines(12),
              "  --help    show this text\n  --version show the program's name and version\n");
}

}  // namespace
}  // namespace quillon
