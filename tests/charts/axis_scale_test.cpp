// Value axes with round ticks: the step chosen at the edges between its
// sizes, the axis ends as given or on ticks, and the tick texts.
#include "charts/axis_scale.h"

#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

namespace quillon {
namespace {

TEST(AxisScale, StepEndsTicksAndTexts) {
    const struct Case {
        const char* name;
        double low, high;
        AxisEnds ends;
        double step, axisLow, axisHigh;
        std::vector<std::string> labels;
    } cases[] = {
        {"a sixth is the step",
         0,
         120,
         AxisEnds::OnTicks,
         20,
         0,
         120,
         {"0", "20", "40", "60", "80", "100", "120"}},
        {"ends rounded out",
         3,
         127,
         AxisEnds::OnTicks,
         20,
         0,
         140,
         {"0", "20", "40", "60", "80", "100", "120", "140"}},
        {"a step of 1.5 rounds to 2",
         0,
         9,
         AxisEnds::OnTicks,
         2,
         0,
         10,
         {"0", "2", "4", "6", "8", "10"}},
        {"a step of 3 rounds to 5",
         0,
         18,
         AxisEnds::OnTicks,
         5,
         0,
         20,
         {"0", "5", "10", "15", "20"}},
        {"a step of 7 rounds to 10",
         0,
         42,
         AxisEnds::OnTicks,
         10,
         0,
         50,
         {"0", "10", "20", "30", "40", "50"}},
        {"below zero",
         -7,
         -1,
         AxisEnds::OnTicks,
         1,
         -7,
         -1,
         {"-7", "-6", "-5", "-4", "-3", "-2", "-1"}},
        {"decimals of the step",
         30,
         34,
         AxisEnds::OnTicks,
         0.5,
         30,
         34,
         {"30.0", "30.5", "31.0", "31.5", "32.0", "32.5", "33.0", "33.5", "34.0"}},
        {"tenths without float noise",
         0.3,
         0.9,
         AxisEnds::AsGiven,
         0.1,
         0.3,
         0.9,
         {"0.3", "0.4", "0.5", "0.6", "0.7", "0.8", "0.9"}},
        {"ticks inside, zero unsigned",
         -0.05,
         0.55,
         AxisEnds::AsGiven,
         0.1,
         -0.05,
         0.55,
         {"0.0", "0.1", "0.2", "0.3", "0.4", "0.5"}},
        {"billions in three digits",
         0,
         3e9,
         AxisEnds::AsGiven,
         5e8,
         0,
         3e9,
         {"0", "5e+08", "1e+09", "1.5e+09", "2e+09", "2.5e+09", "3e+09"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const AxisScale scale = RoundAxis(c.low, c.high, c.ends);
        EXPECT_DOUBLE_EQ(scale.Step, c.step);
        EXPECT_DOUBLE_EQ(scale.Low, c.axisLow);
        EXPECT_DOUBLE_EQ(scale.High, c.axisHigh);
        EXPECT_EQ(scale.Labels, c.labels);
        ASSERT_EQ(scale.Ticks.size(), scale.Labels.size());
        for (std::size_t i = 0; i < scale.Ticks.size(); ++i) {
            EXPECT_NEAR(scale.Ticks[i], std::stod(c.labels[i]), c.step * 1e-9) << i;
            EXPECT_FALSE(std::signbit(scale.Ticks[i]) && scale.Ticks[i] == 0) << i;
        }
    }
}

}  // namespace
}  // namespace quillon
