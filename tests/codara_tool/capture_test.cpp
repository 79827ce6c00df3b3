// The capture parsers of the codara tool: each text format, where captures end, and the
// errors a user gets for input that cannot be used.
#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

#include "capture_formats.h"

using codara_cli::Capture;
using codara_cli::Format;
using codara_cli::parse_captures;
using Edges = std::vector<uint16_t>;

namespace {

std::vector<Edges> edges_of(const std::vector<Capture> &cs) {
  std::vector<Edges> r;
  for (const Capture &c : cs) {
    EXPECT_EQ(c.error, "") << "line " << c.line;
    r.push_back(c.edges);
  }
  return r;
}

struct Case {
  const char *name;
  const char *text;
  std::vector<Edges> want;
};

void PrintTo(const Case &c, std::ostream *os) { *os << c.name; }

class Formats : public testing::TestWithParam<Case> {};

TEST_P(Formats, GiveTheEdgesAReceiverWouldHandOver) {
  EXPECT_EQ(edges_of(parse_captures(GetParam().text)), GetParam().want);
}

INSTANTIATE_TEST_SUITE_P(
    Capture, Formats,
    testing::Values(
        Case{"mode2", "pulse 9000\nspace 4500\npulse 560\n", {{9000, 4500, 560}}},
        Case{"mode2_leading_and_trailing_space_dropped",
             "space 16777215\npulse 889\nspace 889\npulse 1778\nspace 889\n", {{889, 889, 1778}}},
        Case{"mode2_blank_line_ends_capture", "pulse 1\nspace 2\npulse 3\n\npulse 4\nspace 5\npulse 6\n",
             {{1, 2, 3}, {4, 5, 6}}},
        Case{"mode2_timeout_ends_capture_carrier_ignored",
             "carrier 38000\npulse 1\nspace 2\npulse 3\ntimeout 125000\npulse 4\nspace 5\npulse 6\n",
             {{1, 2, 3}, {4, 5, 6}}},
        Case{"mode2_long_space_ends_capture",
             "pulse 1\nspace 2\npulse 3\nspace 14001\npulse 4\nspace 14000\npulse 6\n", {{1, 2, 3}, {4, 14000, 6}}},
        Case{"mode2_split_edges_merge", "pulse 100\npulse 200\nspace 50\nspace 50\npulse 7\n", {{300, 100, 7}}},
        Case{"mode2_comment_line_does_not_end", "pulse 1\n# note\nspace 2\npulse 3\n", {{1, 2, 3}}},
        Case{"mode2_crlf_and_case", "PULSE 1\r\nSpace 2\r\npulse 3\r\n\r\npulse 9\r\n", {{1, 2, 3}, {9}}},
        Case{"irctl", "+889 -889 +1778 -1778 +889 # timeout 133889\n", {{889, 889, 1778, 1778, 889}}},
        Case{"irctl_one_capture_per_line", "+1 -2 +3\n+4 -5 +6 -7\n", {{1, 2, 3}, {4, 5, 6}}},
        Case{"irctl_long_space_inside_line_splits", "+9000 -4500 +560 -40000 +9000 -2250 +560\n",
             {{9000, 4500, 560}, {9000, 2250, 560}}},
        Case{"irctl_leading_space_is_silence", "-50000 +1 -2 +3\n", {{1, 2, 3}}},
        Case{"raw_blanks", "  889\t889  1778 \n", {{889, 889, 1778}}},
        Case{"raw_commas", "889,889, 1778 ,889\n", {{889, 889, 1778}}},
        Case{"raw_no_final_newline", "5 6 7", {{5, 6, 7}}},
        Case{"mixed_formats_in_one_text", "pulse 1\nspace 2\npulse 3\n10 20 30\n+4 -5 +6\n",
             {{1, 2, 3}, {10, 20, 30}, {4, 5, 6}}},
        // 0x006D: one unit is 109 * 0.241246 us = 26.296 us; 0x0156 = 342 units = 8993 us.
        Case{"pronto_once", "0000 006D 0002 0000 0156 00AB 0015 0F00\n", {{8993, 4497, 552}}},
        Case{"pronto_once_and_repeat_are_two_captures",
             "0000 006D 0001 0001 0156 0F00 0156 0F00\n", {{8993}, {8993}}},
        Case{"pronto_repeat_only", "0000 006D 0000 0002 0015 0015 0015 0F00\n", {{552, 552, 552}}},
        Case{"pronto_wrapped_over_lines", "0000 006D 0002 0000\n0156 00AB\n0015 0F00\n", {{8993, 4497, 552}}},
        Case{"pronto_lower_case", "0000 006d 0001 0000 0156 0f00\n", {{8993}}}),
    [](const testing::TestParamInfo<Case> &i) { return i.param.name; });

struct Bad {
  const char *name;
  const char *text;
  std::size_t line;
  const char *message;
};

void PrintTo(const Bad &c, std::ostream *os) { *os << c.name; }

class Errors : public testing::TestWithParam<Bad> {};

TEST_P(Errors, AreReportedInPlace) {
  std::vector<Capture> cs = parse_captures(GetParam().text);
  ASSERT_EQ(cs.size(), 1u);
  EXPECT_EQ(cs[0].error, GetParam().message);
  EXPECT_EQ(cs[0].line, GetParam().line);
  EXPECT_TRUE(cs[0].edges.empty());
}

INSTANTIATE_TEST_SUITE_P(
    Capture, Errors,
    testing::Values(
        Bad{"letters", "1 2 12a\n", 1, "malformed number '12a'"},
        Bad{"decimal_point", "1.5 2 3\n", 1, "malformed number '1.5'"},
        Bad{"lone_sign", "+1 - 2\n", 1, "malformed number '-'"},
        Bad{"double_sign", "+1 --2\n", 1, "malformed number '--2'"},
        Bad{"hex_in_list", "\n0x10 5 6\n", 2, "malformed number '0x10'"},
        Bad{"zero", "1 0 1\n", 1, "duration '0' out of range (1..16777215 us)"},
        Bad{"too_large", "1 16777216 1\n", 1, "duration '16777216' out of range (1..16777215 us)"},
        Bad{"huge", "1 2 99999999999999999999\n", 1, "malformed number '99999999999999999999'"},
        Bad{"word", "hello\n", 1, "malformed number 'hello'"},
        Bad{"long_mark", "1 2 14001\n", 1, "pulse of 14001 us is longer than the 14000 us the decoder accepts"},
        Bad{"long_merged_mark", "pulse 7000\npulse 7001\nspace 5\npulse 5\n", 1,
            "pulse of 14001 us is longer than the 14000 us the decoder accepts"},
        Bad{"mode2_bad_number", "pulse 1\nspace 2\npulse x\nspace 4\npulse 5\n", 3, "malformed number 'x'"},
        Bad{"mode2_missing_number", "pulse 1\nspace\n", 2, "expected 'space N', got 'space'"},
        Bad{"mode2_extra_token", "pulse 1 2\n", 1, "expected 'pulse N', got 'pulse 1 2'"},
        Bad{"mode2_bad_timeout", "pulse 1\ntimeout soon\n", 2, "malformed number 'soon'"},
        Bad{"pronto_bad_word", "0000 006D 0001 0000 0156 XYZ\n", 1, "malformed Pronto word 'XYZ'"},
        Bad{"pronto_short_header", "0000 006D\n", 1, "Pronto code too short: it needs 4 header words"},
        Bad{"pronto_count_mismatch", "0000 006D 0002 0000 0156 00AB\n", 1,
            "Pronto code has 6 words, its header announces 8"},
        Bad{"pronto_too_many_words", "0000 006D 0001 0000 0156 00AB 0001\n", 1,
            "Pronto code has 7 words, its header announces 6"},
        Bad{"pronto_zero_frequency", "0000 0000 0001 0000 0156 00AB\n", 1, "Pronto frequency word is 0"},
        Bad{"pronto_no_pairs", "0000 006D 0000 0000\n", 1, "Pronto code holds no burst pairs"},
        Bad{"pronto_zero_burst", "0000 006D 0001 0000 0000 00AB\n", 1, "Pronto burst word 5 is 0"}),
    [](const testing::TestParamInfo<Bad> &i) { return i.param.name; });

std::string raw_line(std::size_t edges) {
  std::string s;
  for (std::size_t i = 0; i < edges; ++i) s += (i ? " " : "") + std::to_string(500 + i % 7);
  return s + "\n";
}

TEST(CaptureLength, AtMost256Edges) {
  std::vector<Capture> cs = parse_captures(raw_line(255) + raw_line(257) + raw_line(256) + raw_line(600));
  ASSERT_EQ(cs.size(), 4u);
  EXPECT_EQ(cs[0].edges.size(), 255u);
  EXPECT_EQ(cs[1].error, "capture of 257 edges is too long (at most 256)");
  // 256 edges end with a space, which is dropped as the silence after the capture.
  EXPECT_EQ(cs[2].edges.size(), 255u);
  EXPECT_EQ(cs[3].error, "capture of 599 edges is too long (at most 256)");
  EXPECT_EQ(cs[3].line, 4u);
}

TEST(CaptureLength, LongMode2CaptureIsOneErrorThenParsingGoesOn) {
  std::string t;
  for (int i = 0; i < 200; ++i) t += "pulse 500\nspace 600\n";
  t += "pulse 500\nspace 20000\npulse 1\nspace 2\npulse 3\n";
  std::vector<Capture> cs = parse_captures(t);
  ASSERT_EQ(cs.size(), 2u);
  EXPECT_EQ(cs[0].error, "capture of 401 edges is too long (at most 256)");
  EXPECT_EQ(cs[1].edges, (Edges{1, 2, 3}));
  EXPECT_EQ(cs[1].gap_before_us, 20000u);
}

TEST(Capture, ErrorsDoNotSwallowLaterCaptures) {
  std::vector<Capture> cs = parse_captures("1 2 3\n1 x 3\n# only a comment\n4 5 6\n");
  ASSERT_EQ(cs.size(), 3u);
  EXPECT_EQ(cs[0].edges, (Edges{1, 2, 3}));
  EXPECT_EQ(cs[1].line, 2u);
  EXPECT_FALSE(cs[1].error.empty());
  EXPECT_EQ(cs[2].edges, (Edges{4, 5, 6}));
  EXPECT_EQ(cs[2].line, 4u);
}

TEST(Capture, FormatAndLineAndGapAreKept) {
  std::vector<Capture> cs =
      parse_captures("space 90000\npulse 1\nspace 2\npulse 3\n\n+1 -2 +3\n7 8 9\n0000 006D 0001 0000 0156 0F00\n");
  ASSERT_EQ(cs.size(), 4u);
  EXPECT_EQ(cs[0].format, Format::Mode2);
  EXPECT_EQ(cs[0].line, 2u);
  EXPECT_EQ(cs[0].gap_before_us, 90000u);
  EXPECT_EQ(codara_cli::elapsed_ms(cs[0]), 90);
  EXPECT_EQ(cs[1].format, Format::IrCtl);
  EXPECT_EQ(cs[1].line, 6u);
  EXPECT_EQ(cs[2].format, Format::Raw);
  EXPECT_EQ(cs[3].format, Format::Pronto);
  EXPECT_EQ(cs[3].line, 8u);
  Capture huge;
  huge.gap_before_us = 16777215;
  EXPECT_EQ(codara_cli::elapsed_ms(huge), 16777);
}

TEST(Capture, EmptyAndCommentOnlyInputsGiveNothing) {
  EXPECT_TRUE(parse_captures("").empty());
  EXPECT_TRUE(parse_captures("\n\n# nothing\n  \n").empty());
  EXPECT_TRUE(parse_captures("space 5000\n\ntimeout 1\n").empty());
}

// Whatever the text, every capture handed on is one the decoder can take.
TEST(Capture, GarbageNeverYieldsAnUnusableCapture) {
  const std::vector<std::string> bits = {"pulse ", "space ", "timeout ", "carrier ", "+", "-", "#", "\n",
                                         "\n\n", " ", ",", "0000 ", "006D ", "0100 ", "0002 ", "0001 ",
                                         "889", "14000", "14001", "99999", "0", "1", "x", "\r", "\t",
                                         std::string(1, '\0'), "\xff"};
  std::mt19937 rng(12345);
  for (int round = 0; round < 3000; ++round) {
    std::string t;
    int n = int(rng() % 200);
    for (int i = 0; i < n; ++i) t += bits[rng() % bits.size()];
    for (const Capture &c : parse_captures(t)) {
      if (!c.error.empty()) {
        EXPECT_TRUE(c.edges.empty());
        continue;
      }
      ASSERT_FALSE(c.edges.empty()) << t;
      EXPECT_LE(c.edges.size(), codara_cli::kMaxEdges);
      EXPECT_EQ(c.edges.size() % 2, 1u) << "a capture begins and ends with a mark";
      for (uint16_t e : c.edges) {
        EXPECT_GE(e, 1);
        EXPECT_LE(e, codara_cli::kMaxEdgeUs);
      }
    }
  }
}

}  // namespace
