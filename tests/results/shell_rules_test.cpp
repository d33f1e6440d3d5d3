// The main window's rules without a window: the ticker, the captions, and
// the commands on the symbol file, the list files and the data source.
#include "results/shell_rules.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "platform/services.h"
#include "tests/support/temp_dir.h"

namespace quillon {
namespace {

using testing::TempDir;

TEST(ShellRules, TickerRunsLeftAndWraps) {
    std::string caption = kDefaultTickerText;
    for (std::size_t i = 0; i < caption.size(); ++i) {
        caption = ScrollTicker(caption);
        if (i + 1 < caption.size()) {
            EXPECT_NE(caption, kDefaultTickerText);
        }
    }
    EXPECT_EQ(caption, kDefaultTickerText);
    EXPECT_EQ(ScrollTicker("ab"), "ba");
    EXPECT_EQ(ScrollTicker(""), "");
    // A caption longer than 1001 characters is shortened at the first step.
    std::string longCaption = "x" + std::string(1500, 'y');
    EXPECT_EQ(ScrollTicker(longCaption), std::string(1000, 'y') + "x");
}

TEST(ShellRules, ASwapThatCannotMoveTheListKeepsTheSymbols) {
    // A list "file" that is the symbol file's own directory cannot be renamed
    // into itself: the symbols go back where they were.
    TempDir dir;
    std::filesystem::create_directory(dir.File("GoodSym.txt"));
    const std::string symbols = dir.File("GoodSym.txt") + "/Symbols.sym";
    std::ofstream(symbols) << "IBM\n";
    SwapSymbolFile(symbols, dir.File("GoodSym.txt"), dir.File("QUIL---.tmp"));
    EXPECT_TRUE(std::filesystem::exists(symbols));
    EXPECT_FALSE(dir.Exists("QUIL---.tmp"));
}

TEST(ShellRules, CaptionsAndMessages) {
    EXPECT_EQ(VersionText(1.96f), "Version 1.96");
    EXPECT_EQ(VersionText(2.125f), "Version 2.125");
    EXPECT_EQ(MainCaption("/home/u/Symbols.sym"), "Welcome to Quillon [/home/u/Symbols.sym]");
    EXPECT_EQ(SwapQuestion("/w/Symbols.sym", "/w/GoodSym.txt"),
              "Swap the contents of /w/Symbols.sym\nwith the contents of /w/GoodSym.txt\nAre you "
              "sure ?");
}

class RecordingLauncher final : public ProgramLauncher {
  public:
    void LaunchProgram(const std::string& file) override { Launched.push_back(file); }
    std::vector<std::string> Launched;
};

// Every command that changes what the next scan reads forgets the resume
// point; choosing the data source already in use only saves the settings.
TEST(ShellRules, CommandsThatStartANewPass) {
    struct Case {
        const char* name;
        bool forgets;
    };
    const Case cases[] = {{"choose symbol file", true},
                          {"edit symbol file", true},
                          {"other data source", true},
                          {"same data source", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        TempDir dir;
        const WorkingFileNames files = WorkingFileNames::In(dir.Path());
        Settings settings;
        settings.SymbolFileName = dir.File("Symbols.sym");
        RunTimeValues runtime;
        runtime.SymbolsLoaded = true;
        dir.Write("Progress.---", "3 7");
        ScriptedMessages messages;
        RecordingLauncher launcher;
        const std::string name = c.name;
        if (name == "choose symbol file") {
            ApplySymbolFileChoice(dir.File("Other.sym"), settings, runtime, files, messages);
            EXPECT_EQ(settings.SymbolFileName, dir.File("Other.sym"));
        } else if (name == "edit symbol file") {
            EditSymbolFile(settings, runtime, files, launcher);
            EXPECT_EQ(launcher.Launched, std::vector<std::string>{dir.File("Symbols.sym")});
            EXPECT_TRUE(dir.Exists("Symbols.sym")) << "created empty for the editor";
        } else {
            SelectDataSource(QuoteSource::Local, name == "same data source", settings, runtime,
                             files, messages);
            EXPECT_EQ(settings.QuotesFromLocalFile, 1);
        }
        EXPECT_EQ(runtime.RestartPending, c.forgets);
        EXPECT_EQ(dir.Exists("Progress.---"), !c.forgets);
        EXPECT_TRUE(messages.Shown.empty());
        // Every command but Edit Symbol File saves the settings.
        EXPECT_EQ(dir.Exists("Quillon.---"), name != "edit symbol file");
    }
}

}  // namespace
}  // namespace quillon

namespace quillon {
namespace {

// A template applied from the command line leaves the IV filters unused, as
// the filter dialog does, and keeps their window and the figures switch.
TEST(ShellRules, ATemplateLeavesTheIvFiltersUnused) {
    TempDir dir;
    ASSERT_FALSE(dir.Path().empty());
    const WorkingFileNames files = WorkingFileNames::In(dir.Path());
    ScriptedMessages messages;
    Settings settings;
    settings.History.MinIvRank = FilterValue::Number(30);
    settings.History.MaxIvPercentile = FilterValue::Text("80");
    settings.History.WindowWeeks = 13;
    settings.History.ShowFigures = true;
    ASSERT_TRUE(
        ApplyFilterTemplateAndSave(FilterTemplate::ForLowPEStocks, settings, files, messages));
    EXPECT_FALSE(settings.History.FiltersInUse());
    EXPECT_EQ(settings.History.WindowWeeks, 13);
    EXPECT_TRUE(settings.History.ShowFigures);
    Settings loaded;
    ASSERT_TRUE(LoadSettings(loaded, files));
    EXPECT_FALSE(loaded.History.FiltersInUse());
    EXPECT_EQ(loaded.History.WindowWeeks, 13);
}

}  // namespace
}  // namespace quillon
