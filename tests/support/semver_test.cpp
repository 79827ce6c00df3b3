#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "zivra/semver.h"

namespace {

// Owns a parsed version.
struct Ver {
  explicit Ver(const char *s) { rc = semver_parse(s, &v); }
  ~Ver() { semver_free(&v); }
  Ver(const Ver &) = delete;
  Ver &operator=(const Ver &) = delete;
  semver_t v{};
  int rc;
};

std::string render(semver_t v) {
  char buf[600] = "";
  semver_render(&v, buf);
  return buf;
}

TEST(Semver, ParsesPrereleaseAndMetadata) {
  Ver a("1.2.3-beta.1+build.5");
  ASSERT_EQ(a.rc, 0);
  EXPECT_EQ(a.v.major, 1);
  EXPECT_EQ(a.v.minor, 2);
  EXPECT_EQ(a.v.patch, 3);
  EXPECT_STREQ(a.v.prerelease, "beta.1");
  EXPECT_STREQ(a.v.metadata, "build.5");

  Ver b("1.2.3+b-1");  // the first "+" is cut first
  ASSERT_EQ(b.rc, 0);
  EXPECT_STREQ(b.v.metadata, "b-1");
  EXPECT_EQ(b.v.prerelease, nullptr);

  Ver c("4.10.1+");
  ASSERT_EQ(c.rc, 0);
  EXPECT_STREQ(c.v.metadata, "");

  Ver d("1..2");
  ASSERT_EQ(d.rc, 0);
  EXPECT_EQ(d.v.major, 1);
  EXPECT_EQ(d.v.minor, 2);
  EXPECT_EQ(d.v.patch, 0);

  Ver e("1.2.3.4.x");  // a fourth part is checked, later ones ignored
  EXPECT_EQ(e.rc, 0);
  EXPECT_EQ(e.v.patch, 3);
}

TEST(Semver, RejectsInvalidTexts) {
  for (const char *s : {"1.2.x", "1.2.3_4", "1.2.3.x", "v 1", "1.2.3-\xC3\xA9"}) {
    Ver v(s);
    EXPECT_EQ(v.rc, -1) << s;
    EXPECT_EQ(v.v.prerelease, nullptr) << s;  // nothing left allocated
  }
  std::string longest(255, '1'), too_long(256, '1');
  EXPECT_EQ(semver_is_valid(longest.c_str()), 1);
  EXPECT_EQ(semver_is_valid(too_long.c_str()), 0);
  EXPECT_EQ(Ver(too_long.c_str()).rc, -1);
  EXPECT_EQ(Ver((std::string(51, '1') + ".0.0").c_str()).rc, -1);  // over 50 digits
  EXPECT_EQ(semver_parse(nullptr, nullptr), -1);
}

TEST(Semver, NumbersThatDoNotFitAnIntAreInvalid) {
  EXPECT_EQ(Ver("2147483647.0.0").rc, 0);
  EXPECT_EQ(Ver("2147483648.0.0").rc, -1);
  EXPECT_EQ(Ver("1.99999999999999999999999999999999999999999999999999").rc, -1);
  EXPECT_EQ(Ver("1.2.00000000000000000000000000000000000000000000000042").rc, 0);
  metadata_s m{};
  char pre[] = "rc.99999999999";
  EXPECT_EQ(semver_parse_prerelease(pre, &m), -1);
  EXPECT_EQ(m.meta, nullptr);
}

TEST(Semver, SplitsPrereleaseText) {
  metadata_s m{};
  char text[] = "rc..1.alpha.22";
  ASSERT_EQ(semver_parse_prerelease(text, &m), 0);
  EXPECT_STREQ(m.meta, "rc.alpha");
  ASSERT_EQ(m.version_count, 2);
  EXPECT_EQ(m.version[0], 1);
  EXPECT_EQ(m.version[1], 22);
  free(m.meta);
  char digits[] = "7";
  ASSERT_EQ(semver_parse_prerelease(digits, &m), 0);
  EXPECT_EQ(m.meta, nullptr);
  char long_text[] = "aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa";  // 51
  EXPECT_EQ(semver_parse_prerelease(long_text, &m), -1);
}

struct Order {
  const char *a, *b;
  int cmp;
};
void PrintTo(const Order &o, std::ostream *os) { *os << o.a << " vs " << o.b; }
class SemverOrder : public testing::TestWithParam<Order> {};

TEST_P(SemverOrder, Compares) {
  Ver a(GetParam().a), b(GetParam().b);
  ASSERT_EQ(a.rc, 0);
  ASSERT_EQ(b.rc, 0);
  EXPECT_EQ(semver_compare(a.v, b.v), GetParam().cmp);
  EXPECT_EQ(semver_gt(a.v, b.v), GetParam().cmp == 1);
  EXPECT_EQ(semver_lt(a.v, b.v), GetParam().cmp == -1);
  EXPECT_EQ(semver_eq(a.v, b.v), GetParam().cmp == 0);
  EXPECT_EQ(semver_neq(a.v, b.v), GetParam().cmp != 0);
  EXPECT_EQ(semver_gte(a.v, b.v), GetParam().cmp >= 0);
  EXPECT_EQ(semver_lte(a.v, b.v), GetParam().cmp <= 0);
}

INSTANTIATE_TEST_SUITE_P(
    Pairs, SemverOrder,
    testing::Values(Order{"1.2.3", "1.2.3-alpha", 1}, Order{"1.2.3", "1.2.4-alpha", -1},
                    Order{"1.0.0-beta", "1.0.0-alpha", 1},  // the shorter text is higher
                    Order{"1.0.0-rc.1", "1.0.0-rc.1.1", 1},  // fewer numeric parts is higher
                    Order{"1.0.0-rc.2", "1.0.0-rc.10", -1}, Order{"1.0.0-1", "1.0.0-rc", 1},
                    Order{"2.0.0", "10.0.0", -1}, Order{"1.10.0", "1.9.9", 1}, Order{"1.2.3", "1.2.3", 0},
                    Order{"1.2.3+b.1", "1.2.3", -1}, Order{"1.2.3+b.1", "1.2.3+b.2", -1},
                    Order{"1.2.3-a+b.1", "1.2.3-a+b.1", 0}));

TEST(Semver, VersionComparisonIgnoresPrerelease) {
  Ver a("4.9.61"), b("4.9.7"), c("4.9.7-rc.1");
  EXPECT_EQ(semver_compare_version(a.v, b.v), 1);
  EXPECT_EQ(semver_compare_version(b.v, c.v), 0);
  EXPECT_EQ(semver_compare_metadata(b.v, c.v), 1);
}

struct Range {
  const char *x, *y, *op;
  int ok;
};
void PrintTo(const Range &r, std::ostream *os) { *os << r.x << " " << r.op << " " << r.y; }
class SemverRange : public testing::TestWithParam<Range> {};

TEST_P(SemverRange, Satisfies) {
  Ver x(GetParam().x), y(GetParam().y);
  EXPECT_EQ(semver_satisfies(x.v, y.v, GetParam().op), GetParam().ok)
      << GetParam().x << " " << GetParam().op << " " << GetParam().y;
}

INSTANTIATE_TEST_SUITE_P(Ops, SemverRange,
                         testing::Values(Range{"1.9.0", "1.2.0", "^", 1}, Range{"2.0.0", "1.2.0", "^", 0},
                                         Range{"0.3.1", "0.2.0", "^", 1}, Range{"0.1.9", "0.2.0", "^", 0},
                                         Range{"1.2.9", "1.2.0", "~", 1}, Range{"1.3.0", "1.2.0", "~", 0},
                                         Range{"1.2.0", "1.2.0", ">=", 1}, Range{"1.2.0", "1.2.0", ">", 0},
                                         Range{"1.2.1", "1.2.0", ">", 1}, Range{"1.2.0", "1.2.0", "<=", 1},
                                         Range{"1.1.0", "1.2.0", "<", 1}, Range{"1.2.0", "1.2.0", "<", 0},
                                         Range{"1.2.0", "1.2.0", "=", 1}, Range{"1.2.1", "1.2.0", "=", 0},
                                         Range{"1.2.0", "1.2.0", "!", 0}, Range{"1.2.0", "1.2.0", "", 0}));

TEST(Semver, RendersAndBumps) {
  Ver a("1.0.3-rc.1");
  EXPECT_EQ(render(a.v), "1.0.3-rc.1");
  Ver b("10.20.30-alpha.1+build.77");
  EXPECT_EQ(render(b.v), "10.20.30-alpha.1+build.77");
  char dest[64] = "v";
  semver_render(&a.v, dest);  // appends to what is there
  EXPECT_STREQ(dest, "v1.0.3-rc.1");
  std::string pre(200, 'p');
  Ver c(("1.2.3-" + pre).c_str());
  EXPECT_EQ(render(c.v), "1.2.3-" + pre);  // long texts are not cut

  semver_t v{1, 2, 3, nullptr, nullptr};
  semver_bump_patch(&v);
  semver_bump_minor(&v);
  semver_bump(&v);
  EXPECT_EQ(render(v), "2.3.4");
  semver_t top{2147483647, 0, 0, nullptr, nullptr};
  semver_bump(&top);
  EXPECT_EQ(top.major, 2147483647);
}

TEST(Semver, Cleans) {
  char s[] = "v1.2.3 ";
  EXPECT_EQ(semver_clean(s), 0);
  EXPECT_STREQ(s, "v1.2.3");
  char t[] = "  1.2_3!!-rc~1 ";
  EXPECT_EQ(semver_clean(t), 0);
  EXPECT_STREQ(t, "1.23-rc1");
  std::string long_text(256, ' ');
  EXPECT_EQ(semver_clean(long_text.data()), -1);
  EXPECT_EQ(long_text, std::string(256, ' '));
}

TEST(Semver, Numeric) {
  struct {
    const char *text;
    int want;
  } cases[] = {{"1.2.3", 123}, {"1.0.3", 13}, {"1.3.0", 13}, {"0.0.0", 0},
               {"1.2.3-a", 220}, {"1.2.3-a+b", 318}, {"4.10.3", 4103},
               // Too long for an int: refused, never wrapped.
               {"2147483647.2147483647.2147483647", -1}, {"2147483647.0.0-a", -1}};
  for (const auto &c : cases) {
    Ver v(c.text);
    ASSERT_EQ(v.rc, 0) << c.text;
    EXPECT_EQ(semver_numeric(&v.v), c.want) << c.text;
  }
  semver_t neg{-1, 2, 3, nullptr, nullptr};
  EXPECT_EQ(semver_numeric(&neg), -1);
}

}  // namespace
