// The protocol analyzers: per-position penalties, verdicts and repeat memories.
#include <gtest/gtest.h>

#include "lib/libcodara/analyzers/scoring.h"
#include "tests/codara/support.h"

using namespace codara_test;

namespace {

struct Score {
  const char *analyzer;
  uint8_t pos;
  uint16_t edge;
  uint16_t penalty;
};

std::ostream &operator<<(std::ostream &os, const Score &s) {
  return os << s.analyzer << " pos " << int(s.pos) << " edge " << s.edge;
}

// The penalty one edge at `pos` costs `name` on a fresh capture.
uint16_t penalty_of(const char *name, uint8_t pos, uint16_t edge) {
  IR_PROTOCOL_ANALYZER *a = analyzer_named(name);
  EXPECT_NE(a, nullptr) << name;
  if (a == nullptr) return 0;
  reset_analyzer();
  ir_t t{};
  t.count = pos;
  t.buf[pos] = edge;
  analyze_edge(edge, &t);
  const uint16_t acc = a->acc;
  reset_analyzer();
  return acc;
}

class DefaultAnalyzerScore : public ::testing::TestWithParam<Score> {
 protected:
  void SetUp() override { ensure_registered(); }
};

TEST_P(DefaultAnalyzerScore, Penalty) {
  const auto s = GetParam();
  EXPECT_EQ(penalty_of(s.analyzer, s.pos, s.edge), s.penalty);
}

INSTANTIATE_TEST_SUITE_P(
    Nominals, DefaultAnalyzerScore,
    ::testing::Values(
        // NEC: leader nominals 9024 / 4512, repeat space 2256, bits 564 / 1692.
        Score{"NEC", 0, 9000, 24}, Score{"NEC", 0, 4500, 12}, Score{"NEC", 0, 6767, 2255},
        Score{"NEC", 0, 6768, 2256}, Score{"NEC", 1, 2250, 6}, Score{"NEC", 1, 3384, 1128},
        Score{"NEC", 2, 1127, 563}, Score{"NEC", 2, 1128, 564},
        // rc5: the first mark counts double; 2667 only around the toggle.
        Score{"rc5", 0, 900, 22}, Score{"rc5", 1, 900, 11}, Score{"rc5", 3, 2222, 445}, Score{"rc5", 6, 2222, 444},
        Score{"rc5", 2, 1332, 443}, Score{"rc5", 2, 1333, 445},
        // RC6: weighted header, 1332 only at positions 7 to 12.
        Score{"RC6", 0, 2670, 8}, Score{"RC6", 1, 890, 4}, Score{"RC6", 2, 450, 12}, Score{"RC6", 6, 1300, 412},
        Score{"RC6", 7, 1300, 32}, Score{"RC6", 12, 1300, 32}, Score{"RC6", 13, 1300, 412},
        // mce: fixed header shape.
        Score{"mce", 0, 2670, 6}, Score{"mce", 7, 900, 12}, Score{"mce", 8, 450, 6}, Score{"mce", 10, 1300, 32},
        Score{"mce", 11, 700, 188},
        // xmp: marks 210, the mid gap at 17, everything after 36 counts.
        Score{"xmp", 0, 200, 10}, Score{"xmp", 17, 13000, 800}, Score{"xmp", 1, 5000, 0},
        Score{"xmp", 36, 300, 390}, Score{"xmp", 37, 300, 300},
        // ortek
        Score{"ortek", 0, 1900, 20}, Score{"ortek", 1, 719, 239}, Score{"ortek", 1, 720, 240},
        // sony
        Score{"sony", 0, 2400, 0}, Score{"sony", 1, 650, 50}, Score{"sony", 2, 899, 299}, Score{"sony", 2, 900, 300},
        // Panasonic: short edges weigh half, truncated.
        Score{"Panasonic", 0, 3500, 100}, Score{"Panasonic", 1, 1700, 100}, Score{"Panasonic", 2, 500, 50},
        Score{"Panasonic", 3, 889, 222}, Score{"Panasonic", 3, 890, 445}, Score{"Panasonic", 3, 450, 2},
        // zivra: the long space closing the identifier is scored at 17.
        Score{"zivra", 0, 4900, 0}, Score{"zivra", 2, 900, 60}, Score{"zivra", 16, 900, 60},
        Score{"zivra", 17, 4480, 0}, Score{"zivra", 17, 5320, 840}, Score{"zivra", 18, 1680, 0}));

TEST(ZivraAnalyzer, OddPositionsUpTo15NeverCount) {
  ensure_registered();
  for (uint8_t pos = 1; pos <= 15; pos += 2) EXPECT_EQ(penalty_of("zivra", pos, 3000), 0) << int(pos);
}

TEST(XmpAnalyzer, LongCapturesPayTheirLateEdges) {
  ensure_registered();
  IR_PROTOCOL_ANALYZER *x = analyzer_named("xmp");
  ASSERT_NE(x, nullptr);
  reset_analyzer();
  ir_t t{};
  uint32_t late = 0;
  for (uint8_t i = 0; i < 40; ++i) {
    const uint16_t e = i % 2 ? 760 : 210;
    t.count = i;
    analyze_edge(e, &t);
    if (i >= 36) late += e;
  }
  EXPECT_GE(x->acc, late);
  reset_analyzer();
}

TEST(DefaultAnalyzers, VerdictsOfNominalFrames) {
  ensure_registered();
  forget_memories();
  EXPECT_EQ(run_capture(nec_frame(0xF708FB04)).proto, RC_PROTO_NEC);
  EXPECT_EQ(run_capture({9000, 2250, 560}).proto, RC_PROTO_NEC);
  EXPECT_EQ(run_capture(sony_frame(0x123)).proto, RC_PROTO_SONY12);
  EXPECT_EQ(run_capture(panasonic_frame(0x123456789ABCull)).proto, RC_PROTO_PANASONIC);
  EXPECT_EQ(run_capture(ortek_frame()).proto, RC_PROTO_ORTEK);
  EXPECT_EQ(run_capture(foreign_frame()).proto, RC_PROTO_UNKNOWN);
  forget_memories();
}

TEST(NecRepeatMemory, RepeatFrameAfterAWonFullFrame) {
  ensure_registered();
  forget_memories();
  EXPECT_EQ(run_capture(nec_frame(0x1234)).repeat, 0);
  const Verdict r = run_capture({9000, 2250, 560});
  EXPECT_EQ(r.proto, RC_PROTO_NEC);
  EXPECT_EQ(r.repeat, 1);
  forget_memories();
}

TEST(NecRepeatMemory, LostWhenAnotherAnalyzerWinsBetween) {
  ensure_registered();
  forget_memories();
  run_capture(nec_frame(0x1234));
  EXPECT_EQ(run_capture(sony_frame(0x55)).proto, RC_PROTO_SONY12);
  const Verdict r = run_capture({9000, 2250, 560});
  EXPECT_EQ(r.proto, RC_PROTO_NEC);
  EXPECT_EQ(r.repeat, 0);
  forget_memories();
}

TEST(NecRepeatMemory, VerboseLines) {
  ensure_registered();
  forget_memories();
  LevelGuard lg;
  set_loglevel(5);
  LogCapture cap;
  run_capture(nec_frame(0x1234));
  run_capture({9000, 2250, 560});
  const std::string v = unlined(cap.text(5));
  EXPECT_NE(v.find("[V] lib/libcodara/analyzers/nec_analyzer finish_nec(#): nec\n"), std::string::npos);
  EXPECT_NE(v.find("[V] lib/libcodara/analyzers/nec_analyzer finish_nec(#): nec [r]\n"), std::string::npos);
  forget_memories();
}

struct Window {
  uint16_t te;
  uint8_t repeat;
};

class OrtekWindow : public ::testing::TestWithParam<Window> {};

TEST_P(OrtekWindow, RepeatOnlyInside44To52) {
  ensure_registered();
  forget_memories();
  LevelGuard lg;
  set_loglevel(4);
  ASSERT_EQ(run_capture(ortek_frame(), 200).repeat, 0);
  LogCapture cap;
  const Verdict v = run_capture(ortek_frame(), GetParam().te);
  EXPECT_EQ(v.proto, RC_PROTO_ORTEK);
  EXPECT_EQ(v.repeat, GetParam().repeat);
  EXPECT_NE(unlined(cap.text(4)).find(GetParam().repeat ? "finish_ortek(#): ortek [R]\n" : "finish_ortek(#): ortek\n"),
            std::string::npos);
  forget_memories();
}

INSTANTIATE_TEST_SUITE_P(Edges, OrtekWindow,
                         ::testing::Values(Window{43, 0}, Window{44, 1}, Window{48, 1}, Window{52, 1}, Window{53, 0}));

// The analyzers outside the default sequence, each on a list of its own.
class ExtraAnalyzers : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = registered_analyzers;
    ll_init(&registered_analyzers);
  }
  void TearDown() override { registered_analyzers = saved_; }

 private:
  ll_t saved_;
};

TEST_F(ExtraAnalyzers, Penalties) {
  SHARP__iranalyzer();
  DENON__iranalyzer();
  NOKIA__iranalyzer();
  TDC__iranalyzer();
  const Score cases[] = {
      {"sharp", 0, 300, 36},  {"sharp", 1, 1800, 48}, {"sharp", 2, 527, 263}, {"sharp", 2, 528, 264},
      {"sharp", 2, 1320, 528}, {"denon", 0, 300, 36},  {"denon", 1, 1320, 528}, {"denon", 1, 1321, 527},
      {"denon", 4, 264, 0},    {"nokia", 0, 400, 12},  {"nokia", 1, 300, 24},  {"nokia", 2, 200, 36},
      {"nokia", 3, 5000, 0},   {"TDC", 0, 300, 15},    {"TDC", 1, 472, 157},   {"TDC", 1, 473, 157},
      {"TDC", 2, 640, 10},
  };
  for (const auto &s : cases) EXPECT_EQ(penalty_of(s.analyzer, s.pos, s.edge), s.penalty) << s;
}

std::vector<uint16_t> sharp_frame() {
  std::vector<uint16_t> e{264, 1848};
  for (int i = 2; i < 31; ++i) e.push_back(i % 2 ? (i % 4 == 1 ? 1848 : 792) : 264);
  return e;
}

struct WindowCase {
  bool denon;
  uint16_t te;
  uint8_t repeat;
};

class SharpDenonWindow : public ExtraAnalyzers, public ::testing::WithParamInterface<WindowCase> {};

TEST_P(SharpDenonWindow, RepeatOnlyInside36To50) {
  const auto c = GetParam();
  if (c.denon)
    DENON__iranalyzer();
  else
    SHARP__iranalyzer();
  forget_memories();
  const rc_proto want = c.denon ? RC_PROTO_DENON : RC_PROTO_SHARP;
  ASSERT_EQ(run_capture(sharp_frame(), 200).proto, want);
  LevelGuard lg;
  set_loglevel(4);
  LogCapture cap;
  const Verdict v = run_capture(sharp_frame(), c.te);
  EXPECT_EQ(v.proto, want);
  EXPECT_EQ(v.repeat, c.repeat);
  const std::string line = c.denon ? (c.repeat ? "Denon [R]\n" : "Denon\n") : (c.repeat ? "sharp [R]\n" : "sharp\n");
  EXPECT_NE(cap.text(4).find("): " + line), std::string::npos) << cap.text(4);
  forget_memories();
}

INSTANTIATE_TEST_SUITE_P(Edges, SharpDenonWindow,
                         ::testing::Values(WindowCase{false, 35, 0}, WindowCase{false, 36, 1}, WindowCase{false, 50, 1},
                                           WindowCase{false, 51, 0}, WindowCase{true, 35, 0}, WindowCase{true, 36, 1},
                                           WindowCase{true, 50, 1}, WindowCase{true, 51, 0}));

TEST_F(ExtraAnalyzers, SharpMemoryNeedsAWonCaptureJustBefore) {
  SHARP__iranalyzer();
  forget_memories();
  // No capture won before: inside the window but no memory.
  EXPECT_EQ(run_capture(sharp_frame(), 40).repeat, 0);
  reset_analyzer();  // one capture of someone else's in between
  EXPECT_EQ(run_capture(sharp_frame(), 40).repeat, 0);
  forget_memories();
}

TEST_F(ExtraAnalyzers, NokiaAndTdcVerdicts) {
  NOKIA__iranalyzer();
  EXPECT_EQ(run_capture({412, 276, 164, 500, 164, 276, 164}).proto, RC_PROTO_NOKIA);
  TDC__iranalyzer();
  EXPECT_EQ(run_capture({315, 315, 630, 315, 630, 630, 315}).proto, RC_PROTO_TDC);
}

}  // namespace

namespace {

// Short captures stop scoring an analyzer once it is past the closest one, which
// is exact only while one edge's penalty stays below kMaxPenalty.
void expect_penalties_below_bound() {
  ir_t t{};
  for (ll_t *n = registered_analyzers.next; n != &registered_analyzers; n = n->next) {
    auto *a = ll_entry(n, IR_PROTOCOL_ANALYZER, node);
    uint32_t worst = 0;
    for (int pos = 0; pos < codara::kBoundedEdges; ++pos) {
      t.count = static_cast<uint8_t>(pos);
      for (uint32_t edge = 0; edge <= codara::kMaxEdgeUs; ++edge) {
        a->acc = 0;
        a->analyze(static_cast<uint16_t>(edge), &t, a);
        worst = a->acc > worst ? a->acc : worst;
      }
    }
    a->acc = 0;
    EXPECT_LT(worst, codara::kMaxPenalty) << a->name;
  }
}

}  // namespace

TEST(AnalyzerPenalties, DefaultOnesStayBelowTheEarlyStopBound) {
  ensure_registered();
  expect_penalties_below_bound();
  reset_analyzer();
}

TEST_F(ExtraAnalyzers, PenaltiesStayBelowTheEarlyStopBound) {
  SHARP__iranalyzer();
  DENON__iranalyzer();
  NOKIA__iranalyzer();
  TDC__iranalyzer();
  expect_penalties_below_bound();
}
