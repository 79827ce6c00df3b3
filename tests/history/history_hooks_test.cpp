#include <gtest/gtest.h>

#include <string>

#include "libzivra/version_history.h"
#include "tests/support/helpers.h"
#include "zivra/version_history.h"

namespace {

semver_t ver(int a, int b, int c) { return semver_t{a, b, c, nullptr, nullptr}; }

TEST(HistoryHooks, TransportChoosesTheTable) {
  struct list_head *l = zivra::ver_hist_select(ver(3, 9, 0), ver(4, 0, 3), true);
  ASSERT_EQ(l, &head);
  ASSERT_FALSE(ll_empty(l));
  EXPECT_STREQ(ll_entry(l->next, fw_ver_hist, node)->v, "4.0.3");
  EXPECT_EQ(l->next, l->prev);  // only one: the 4.x notes
  l = zivra::ver_hist_select(ver(3, 9, 0), ver(4, 0, 3), false);
  ASSERT_FALSE(ll_empty(l));
  EXPECT_STREQ(ll_entry(l->next, fw_ver_hist, node)->v, "3.11.0");
  EXPECT_STREQ(ll_entry(l->prev, fw_ver_hist, node)->v, "3.12.0");
}

TEST(HistoryHooks, PrintsEachReleaseWithABlankLine) {
  struct list_head *l = zivra::ver_hist_select(ver(4, 9, 6), ver(4, 9, 7), true);
  std::string note = ll_entry(l->next, fw_ver_hist, node)->s;
  StdoutCapture out;
  zivra::print_ver_hist(l);
  EXPECT_EQ(out.text(), "v4.9.7\n -" + note + " \n");
}

TEST(HistoryHooks, EmptyOrNullSelectionPrintsNothing) {
  StdoutCapture out;
  zivra::print_ver_hist(zivra::ver_hist_select(ver(4, 9, 7), ver(4, 9, 7), true));
  zivra::print_ver_hist(nullptr);
  EXPECT_EQ(out.text(), "");
}

}  // namespace
