// Each filter of the day's IV standing, followed through every place that
// takes it from the table of such filters: its own line of the settings
// file, its name for --filter, the screen's test of its own figure on its
// own side, and the back-test report's list of filters in use.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "history/backtest_report.h"
#include "results/screen.h"
#include "results/settings.h"
#include "results/shell_rules.h"

namespace quillon {
namespace {

std::vector<std::string> Lines(const std::string& text) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line, '\n');)
        lines.push_back(line);
    return lines;
}

TEST(HistoryFilters, EachRowReachesEveryPlace) {
    constexpr std::size_t kFirstHistoryLine = 26;
    for (std::size_t i = 0; i < kHistoryFilterCount; ++i) {
        const HistoryFilter& filter = kHistoryFilters[i];
        SCOPED_TRACE(filter.Name);
        Settings settings;
        SetDefaultSettings(settings);
        settings.History.*filter.Value = FilterValue::Number(40);

        const std::string text = SettingsFileText(settings);
        const std::vector<std::string> lines = Lines(text);
        ASSERT_EQ(lines.size(), kFirstHistoryLine + kHistoryFilterCount + 2);
        for (std::size_t j = 0; j < kHistoryFilterCount; ++j)
            EXPECT_EQ(lines[kFirstHistoryLine + j], j == i ? "40\r" : "NA\r") << j;
        Settings loaded;
        ASSERT_TRUE(LoadSettingsText(loaded, text));
        EXPECT_EQ((loaded.History.*filter.Value).ToText(), "40");

        std::string lower = filter.Name;
        for (char& c : lower)
            c = static_cast<char>(c | 0x20);
        EXPECT_EQ(FilterNamed(settings, lower), &(settings.History.*filter.Value));

        const FilterValues unused{};
        const ScreenRules rules = ScreenRules::Of(unused, settings.History);
        IvStanding inside, outside;
        inside.*filter.Figure = filter.Maximum ? 30 : 50;
        outside.*filter.Figure = filter.Maximum ? 50 : 30;
        const ScreenOutcome passed = Screen(rules, {}, [&] { return inside; });
        EXPECT_EQ(passed.Verdict, Verdict::Saved);
        const ScreenOutcome failed = Screen(rules, {}, [&] { return outside; });
        EXPECT_EQ(failed.Verdict, Verdict::Rejected);
        ASSERT_NE(failed.FailedTest, nullptr);
        EXPECT_STREQ(failed.FailedTest, filter.Name);

        EXPECT_EQ(FiltersInUseText(unused, settings.History),
                  std::string(filter.Name) + " 40 (IV window 52 weeks)");
    }
}

}  // namespace
}  // namespace quillon
