#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/capture.h"
#include "tests/support/helpers.h"
#include "zivra/version_history.h"

namespace {

const char kModule[] = "lib/libzivra/version_history";

struct Sem {
  explicit Sem(const char *s) { EXPECT_EQ(semver_parse(s, &v), 0) << s; }
  ~Sem() { semver_free(&v); }
  semver_t v{};
};

std::vector<std::string> versions(struct list_head *l) {
  std::vector<std::string> out;
  if (l == nullptr) return out;
  for (ll_t *n = l->next; n != l; n = n->next) out.push_back(ll_entry(n, fw_ver_hist, node)->v);
  return out;
}

using V = std::vector<std::string>;

TEST(History, SelectsReleasesAfterDeviceUpToComp) {
  EXPECT_EQ(versions(zv_get_ver_hist_v2(Sem("4.9.2").v, Sem("4.10.1").v)),
            (V{"4.9.6", "4.9.61", "4.9.7", "4.9.8", "4.10.1"}));
  // 4.9.61 is patch 61, above 4.9.7.
  EXPECT_EQ(versions(zv_get_ver_hist_v2(Sem("4.9.6").v, Sem("4.9.7").v)), (V{"4.9.7"}));
  // Named as the target, 4.9.61 also takes in 4.9.7 and 4.9.8, in table order.
  EXPECT_EQ(versions(zv_get_ver_hist_v2(Sem("4.9.8").v, Sem("4.9.61").v)), (V{"4.9.61"}));
  EXPECT_EQ(versions(zv_get_ver_hist_v2(Sem("4.9.6").v, Sem("4.9.61").v)), (V{"4.9.61", "4.9.7", "4.9.8"}));
  EXPECT_EQ(versions(zv_get_ver_hist_v1(Sem("3.4.0").v, Sem("3.12.0").v)),
            (V{"3.5.0", "3.6.0", "3.7.0", "3.8.0", "3.9.0", "3.11.0", "3.12.0"}));
  // Pre-release and metadata parts play no part.
  EXPECT_EQ(versions(zv_get_ver_hist_v2(Sem("4.10.1-rc.1").v, Sem("4.10.3+b.7").v)), (V{"4.10.2", "4.10.3"}));
}

TEST(History, EqualOrLowerCompSelectsNothing) {
  EXPECT_EQ(versions(zv_get_ver_hist_v2(Sem("4.9.2").v, Sem("4.9.2").v)), V{});
  EXPECT_EQ(versions(zv_get_ver_hist_v2(Sem("4.9.2").v, Sem("4.1.0").v)), V{});
  EXPECT_EQ(versions(zv_get_ver_hist_v1(Sem("3.12.0").v, Sem("3.0.0").v)), V{});
  EXPECT_EQ(zv_get_ver_hist_v1(Sem("3.12.0").v, Sem("3.0.0").v), &head);
  EXPECT_TRUE(ll_empty(&head));
}

TEST(History, TablesInOrderWithWellFormedNotes) {
  V all2 = versions(zv_get_ver_hist_v2(Sem("0.0.0").v, Sem("99.0.0").v));
  EXPECT_EQ(all2, (V{"4.0.3",  "4.0.7", "4.0.9",  "4.0.10", "4.0.16", "4.0.21", "4.0.24", "4.1.0",  "4.1.1",
                     "4.1.2",  "4.1.4", "4.1.5",  "4.2.1",  "4.2.2",  "4.3.0",  "4.4.0",  "4.4.1",  "4.4.2",
                     "4.6.1",  "4.6.2", "4.6.3",  "4.7.0",  "4.8.2",  "4.9.0",  "4.9.1",  "4.9.2",  "4.9.6",
                     "4.9.61", "4.9.7", "4.9.8",  "4.10.1", "4.10.2", "4.10.3"}));
  for (ll_t *n = head.next; n != &head; n = n->next) {
    std::string s = ll_entry(n, fw_ver_hist, node)->s;
    ASSERT_GE(s.size(), 3u);
    EXPECT_EQ(s.front(), ' ') << s;
    EXPECT_EQ(s.back(), '\n') << s;
    int items = 1;
    for (size_t p = s.find('\n'); p + 1 < s.size(); p = s.find('\n', p + 1)) {
      EXPECT_EQ(s.compare(p + 1, 3, " - "), 0) << s;
      ++items;
    }
    EXPECT_LE(items, 9);
  }
  V all1 = versions(zv_get_ver_hist_v1(Sem("0.0.0").v, Sem("99.0.0").v));
  EXPECT_EQ(all1, (V{"3.0.0", "3.1.0", "3.2.0", "3.3.0", "3.4.0", "3.5.0", "3.6.0", "3.7.0", "3.8.0", "3.9.0",
                     "3.11.0", "3.12.0"}));
}

TEST(History, SecondCallClearsTheFirstSelection) {
  LevelGuard guard;
  set_loglevel(3);
  zv_get_ver_hist_v2(Sem("4.0.0").v, Sem("4.0.0").v);  // leaves the list empty
  {
    LogCapture cap;
    zv_get_ver_hist_v2(Sem("4.9.2").v, Sem("4.10.1").v);
    EXPECT_EQ(cap.all(), "");  // nothing to clear yet
  }
  LogCapture cap;
  EXPECT_EQ(versions(zv_get_ver_hist_v1(Sem("3.9.0").v, Sem("3.12.0").v)), (V{"3.11.0", "3.12.0"}));
  int line = src_line_after(kModule, "zv_get_ver_hist_v1(semver_t", "list not empty, clearing");
  EXPECT_EQ(cap.text(3), std::string("[I] ") + kModule + " zv_get_ver_hist_v1(" + std::to_string(line) +
                             "): list not empty, clearing\n");
  LogCapture cap2;
  EXPECT_EQ(versions(zv_get_ver_hist_v2(Sem("4.10.1").v, Sem("4.10.3").v)), (V{"4.10.2", "4.10.3"}));
  line = src_line_after(kModule, "zv_get_ver_hist_v2(semver_t", "list not empty, clearing");
  EXPECT_EQ(cap2.text(3), std::string("[I] ") + kModule + " zv_get_ver_hist_v2(" + std::to_string(line) +
                              "): list not empty, clearing\n");
}

}  // namespace
