#include <gtest/gtest.h>

#include "fixtures/recording_host.h"
#include "support/errors.h"
#include "support/progress.h"

namespace razere {
namespace {

struct FillCase {
  const char* text;
  int32_t position, maximum;
  const char* expected;
};

class FillStatusTextTest : public ::testing::TestWithParam<FillCase> {};

TEST_P(FillStatusTextTest, FillsFirstTwoPercentD) {
  const FillCase& c = GetParam();
  EXPECT_EQ(FillStatusText(c.text, c.position, c.maximum), c.expected);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, FillStatusTextTest,
    ::testing::Values(FillCase{"正在加载(%d/%d) ID.DB", 3, 10, "正在加载(3/10) ID.DB"},
                      FillCase{"(%D/%d)", 1, 2, "(1/2)"},             // upper case counts too
                      FillCase{"no numbers", 5, 6, "no numbers"},
                      FillCase{"only %d here", 5, 6, "only 5 here"},
                      FillCase{"%d %d %d", 1, 2, "1 2 %d"},           // only the first two
                      FillCase{"100%%d", 7, 8, "100%7"},
                      FillCase{"%", 1, 1, "%"},
                      FillCase{"", 1, 1, ""}));

TEST(ShowStatusText, AddsValueClampsAtMaximumAndShowsCaption) {
  testing::RecordingHost host;
  Progress bar(host);
  bar.SetRange(0, 3);
  bar.SetPosition(0);
  bar.ShowStatusText(1, "a(%d/%d)");
  bar.ShowStatusText(5, "a(%d/%d)");
  EXPECT_EQ(bar.Position(), 3);
  EXPECT_EQ(host.statuses.back(), "a(3/3)");
  bar.ShowStatusText(0, "b(%d/%d)");  // zero and negative values do not move the bar
  bar.ShowStatusText(-2, "b(%d/%d)");
  EXPECT_EQ(host.statuses.back(), "b(3/3)");
}

TEST(ShowStatusText, PumpsEventsAtEveryHundredthPositionIncludingZero) {
  testing::RecordingHost host;
  Progress bar(host);
  bar.SetRange(0, 1000);
  bar.SetPosition(0);
  bar.ShowStatusText(0, "x");  // position 0
  EXPECT_EQ(host.pumps, 1);
  for (int i = 0; i < 250; ++i) bar.ShowStatusText(1, "x(%d/%d)");
  EXPECT_EQ(host.pumps, 3);  // 100 and 200
}

TEST(ShowStatusText, ShuttingDownEndsTheLoopWithAnErrorUnlessDisarmed) {
  testing::RecordingHost host;
  Progress bar(host);
  host.shuttingDown = true;
  EXPECT_THROW(bar.ShowStatusText(1, "x"), RunInterrupted);
  bar.SetInterruptible(false);
  EXPECT_NO_THROW(bar.ShowStatusText(1, "x"));
}

}  // namespace
}  // namespace razere
