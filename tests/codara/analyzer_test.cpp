// Analyzer framework: elimination, closest choice, reset, listing, registration.
#include <gtest/gtest.h>

#include "tests/codara/support.h"

using namespace codara_test;

namespace {

// A scripted analyzer: adds penalty[count] on each edge; finish names `verdict`.
struct Scripted {
  IR_PROTOCOL_ANALYZER a;
  struct protocol rec;
  uint16_t penalty[16];
  rc_proto verdict;
  int resets;
};

void scripted_analyze(uint16_t, ir_t *ir, IR_PROTOCOL_ANALYZER *test) {
  auto *s = static_cast<Scripted *>(test->priv);
  test->acc = static_cast<uint16_t>(test->acc + s->penalty[ir->count % 16]);
}
rc_proto scripted_finish(ir_t *, IR_PROTOCOL_ANALYZER *test) { return static_cast<Scripted *>(test->priv)->verdict; }
void scripted_reset(IR_PROTOCOL_ANALYZER *test) { ++static_cast<Scripted *>(test->priv)->resets; }

void make(Scripted &s, const char *name, rc_proto verdict) {
  s = Scripted{};
  s.a.name = name;
  s.a.analyze = scripted_analyze;
  s.a.finish = scripted_finish;
  s.a.reset = scripted_reset;
  s.a.priv = &s;
  s.rec = {"iranalyzer", name, &s.a, {}};
  s.verdict = verdict;
}

// Runs each test on an empty analyzer list and puts the real one back after.
class AnalyzerFramework : public ::testing::Test {
 protected:
  void SetUp() override {
    saved_ = registered_analyzers;
    ll_init(&registered_analyzers);
  }
  void TearDown() override { registered_analyzers = saved_; }

  // Feeds one edge at `pos`.
  uint8_t edge(uint8_t pos) {
    t_.count = pos;
    return analyze_edge(100, &t_);
  }
  ir_t t_{};
  Scripted x_, y_;

 private:
  ll_t saved_;
};

TEST_F(AnalyzerFramework, EmptyListGivesNoResultAndUnknown) {
  EXPECT_EQ(edge(0), 0);
  EXPECT_EQ(analyze_finish(&t_), RC_PROTO_UNKNOWN);
  std::vector<uint16_t> e{9000, 4500, 560};
  EXPECT_EQ(analyze_protocol(e.data(), 3), RC_PROTO_UNKNOWN);
}

struct LimitCase {
  uint8_t pos;
  uint16_t acc;
  bool kept;
};

class EliminationLimit : public AnalyzerFramework, public ::testing::WithParamInterface<LimitCase> {};

TEST_P(EliminationLimit, StrictlyAboveTheLimitEliminates) {
  const auto c = GetParam();
  make(x_, "x", RC_PROTO_JVC);
  x_.penalty[c.pos] = c.acc;
  _register_protocol_iranalyzer(&x_.rec);
  LevelGuard lg;
  set_loglevel(4);
  LogCapture cap;
  edge(c.pos);
  EXPECT_EQ(x_.a.enabled, c.kept ? 1 : 0);
  const int limit = c.pos <= 5 ? 2500 : c.pos * 800;
  const std::string removed = "[D] lib/libcodara/analyzer analyze_edge(#): removing decoder: x " +
                              std::to_string(c.acc) + " > " + std::to_string(limit) + "\n";
  EXPECT_EQ(unlined(cap.text(4)), c.kept ? "" : removed);
  // An eliminated analyzer scores nothing more and is not chosen.
  edge(static_cast<uint8_t>(c.pos + 1));
  EXPECT_EQ(x_.a.acc, c.acc);
  EXPECT_EQ(analyze_finish(&t_), c.kept ? RC_PROTO_JVC : RC_PROTO_UNKNOWN);
}

INSTANTIATE_TEST_SUITE_P(Limits, EliminationLimit,
                         ::testing::Values(LimitCase{0, 2500, true}, LimitCase{0, 2501, false},
                                           LimitCase{5, 2500, true}, LimitCase{5, 2501, false},
                                           LimitCase{6, 4800, true}, LimitCase{6, 4801, false},
                                           LimitCase{10, 8000, true}, LimitCase{10, 8001, false}));

TEST_F(AnalyzerFramework, EqualPenaltiesKeepTheEarlierAnalyzer) {
  make(x_, "x", RC_PROTO_JVC);
  make(y_, "y", RC_PROTO_CEC);
  x_.penalty[0] = y_.penalty[0] = 7;
  _register_protocol_iranalyzer(&x_.rec);
  _register_protocol_iranalyzer(&y_.rec);
  edge(0);
  EXPECT_EQ(analyze_finish(&t_), RC_PROTO_JVC);
  y_.penalty[1] = 0;
  x_.penalty[1] = 1;  // now y is strictly better
  edge(1);
  EXPECT_EQ(analyze_finish(&t_), RC_PROTO_CEC);
}

TEST_F(AnalyzerFramework, ChoiceIsLoggedAtVerbose) {
  make(x_, "x", RC_PROTO_JVC);
  make(y_, "y", RC_PROTO_CEC);
  x_.penalty[0] = 10;
  y_.penalty[0] = 5;
  _register_protocol_iranalyzer(&x_.rec);
  _register_protocol_iranalyzer(&y_.rec);
  LevelGuard lg;
  set_loglevel(5);
  LogCapture cap;
  edge(0);
  const std::string p = "[V] lib/libcodara/analyzer get_closest_proto(#): ";
  EXPECT_EQ(unlined(cap.text(5)), p + "list entry: x\n" + p + "x 10 better than none 0\n" + p + "list entry: y\n" + p +
                                      "y 5 better than x 10\n" + p + "choosing: y\n");
}

TEST_F(AnalyzerFramework, AllEliminatedIsUnknownAndResetBringsThemBack) {
  make(x_, "x", RC_PROTO_JVC);
  make(y_, "y", RC_PROTO_CEC);
  x_.penalty[0] = 3000;
  y_.penalty[0] = 2600;
  _register_protocol_iranalyzer(&x_.rec);
  _register_protocol_iranalyzer(&y_.rec);
  EXPECT_EQ(edge(0), 0);
  EXPECT_EQ(analyze_finish(&t_), RC_PROTO_UNKNOWN);
  reset_analyzer();
  for (auto *s : {&x_, &y_}) {
    EXPECT_EQ(s->a.enabled, 1);
    EXPECT_EQ(s->a.acc, 0);
    EXPECT_EQ(s->a.result, 0);
    EXPECT_EQ(s->resets, 1);  // exactly one reset call per capture
  }
  x_.penalty[0] = 1;
  y_.penalty[0] = 2;
  edge(0);
  EXPECT_EQ(analyze_finish(&t_), RC_PROTO_JVC);
}

TEST_F(AnalyzerFramework, EdgeStepReturnsTheClosestAnalyzersResult) {
  make(x_, "x", RC_PROTO_JVC);
  make(y_, "y", RC_PROTO_CEC);
  x_.penalty[0] = 9;
  y_.penalty[0] = 4;
  x_.a.result = 11;
  y_.a.result = 22;
  _register_protocol_iranalyzer(&x_.rec);
  _register_protocol_iranalyzer(&y_.rec);
  EXPECT_EQ(edge(0), 22);
}

TEST_F(AnalyzerFramework, AnalyzeProtocolFeedsPositionsAndResets) {
  make(x_, "x", RC_PROTO_JVC);
  make(y_, "y", RC_PROTO_CEC);
  x_.penalty[1] = 100;  // x loses on the second edge
  _register_protocol_iranalyzer(&x_.rec);
  _register_protocol_iranalyzer(&y_.rec);
  std::vector<uint16_t> e{1, 2, 3};
  EXPECT_EQ(analyze_protocol(e.data(), 3), RC_PROTO_CEC);
  EXPECT_EQ(x_.a.acc, 0);
  EXPECT_EQ(x_.resets, 1);
}

TEST_F(AnalyzerFramework, ListingIncludesEliminatedAnalyzers) {
  make(x_, "x", RC_PROTO_JVC);
  make(y_, "y", RC_PROTO_CEC);
  x_.penalty[0] = 9999;
  _register_protocol_iranalyzer(&x_.rec);
  _register_protocol_iranalyzer(&y_.rec);
  edge(0);
  ASSERT_EQ(x_.a.enabled, 0);
  testing::internal::CaptureStdout();
  print_all_analyzers();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Enabled Protocols\n-----------------\nx\ny\n");
  reset_analyzer();
}

TEST_F(AnalyzerFramework, RegisteringTwiceIsIgnored) {
  make(x_, "x", RC_PROTO_JVC);
  make(y_, "y", RC_PROTO_CEC);
  LevelGuard lg;
  set_loglevel(4);
  LogCapture cap;
  _register_protocol_iranalyzer(&x_.rec);
  _register_protocol_iranalyzer(&y_.rec);
  _register_protocol_iranalyzer(&x_.rec);
  const std::string p = "[D] lib/libcodara/analyzer _register_protocol_iranalyzer(#): ";
  EXPECT_EQ(unlined(cap.text(4)), p + "registering: x\n" + p + "registering: y\n" + p + "already registered: x\n");
  testing::internal::CaptureStdout();
  print_all_analyzers();
  EXPECT_EQ(testing::internal::GetCapturedStdout(), "Enabled Protocols\n-----------------\nx\ny\n");
}

}  // namespace
