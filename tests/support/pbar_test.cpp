#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <string>

#include "tests/support/helpers.h"
#include "zivra/pbar.h"

namespace {

std::string bar(int equals, int blanks, const std::string &pct) {
  return "[" + std::string(static_cast<size_t>(equals), '=') + ">" + std::string(static_cast<size_t>(blanks), ' ') +
         "] " + pct + "%\r";
}

std::string draw(float start, float end) {
  StdoutCapture out;
  print_progress_bar(start, end);
  return out.text();
}

struct Drawing {
  float start, end;
  int equals, blanks;
  const char *pct;
};

void PrintTo(const Drawing &d, std::ostream *os) { *os << d.start << "/" << d.end; }

class ProgressBar : public testing::TestWithParam<Drawing> {};

TEST_P(ProgressBar, Draws) {
  const Drawing &d = GetParam();
  EXPECT_EQ(draw(d.start, d.end), bar(d.equals, d.blanks, d.pct)) << d.start << "/" << d.end;
}

INSTANTIATE_TEST_SUITE_P(Drawings, ProgressBar,
                         testing::Values(Drawing{0, 10, 0, 40, "0"}, Drawing{5, 10, 20, 20, "50"},
                                         Drawing{1, 3, 14, 26, "33"}, Drawing{10, 10, 40, 0, "100"},
                                         Drawing{1, 40, 1, 39, "2"}, Drawing{3, 2, 60, 0, "150"},
                                         Drawing{-5, 10, 0, 40, "-50"}, Drawing{99, 100, 40, 0, "99"},
                                         // An empty job is complete, not 0 / 0.
                                         Drawing{0, 0, 40, 0, "100"}, Drawing{7, 0, 40, 0, "100"},
                                         Drawing{1, INFINITY, 0, 40, "0"}, Drawing{NAN, 1, 0, 40, "0"}));

TEST(ProgressBar, OutOfRangeInputIsPinnedNotConverted) {
  std::string s = draw(INFINITY, 1);
  EXPECT_NE(s.find("] " + std::to_string(INT_MAX) + "%\r"), std::string::npos) << s;
  EXPECT_LT(s.size(), 1000u);
  EXPECT_EQ(draw(-1e30f, 1), bar(0, 40, std::to_string(INT_MIN)));
}

}  // namespace
