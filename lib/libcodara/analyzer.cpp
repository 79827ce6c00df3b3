// Analyzer framework: per-edge scoring, elimination, choice of the closest analyzer.
#include "libcodara/analyzer.h"

#include <algorithm>
#include <cstddef>
#include <cstdio>
#include <cstring>

#include "codara/codara.h"
#include "libcodara/analyzers/scoring.h"
#include "libcodara/ll.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzer");

ll_t registered_analyzers = LL_HEAD_INIT(registered_analyzers);

namespace {

IR_PROTOCOL_ANALYZER *analyzer_of(ll_t *node) {
  return reinterpret_cast<IR_PROTOCOL_ANALYZER *>(reinterpret_cast<char *>(node) -
                                                  offsetof(IR_PROTOCOL_ANALYZER, node));
}

#define FOR_EACH_ANALYZER(a)                                                                      \
  for (ll_t *n_ = registered_analyzers.next; n_ != &registered_analyzers; n_ = n_->next) \
    if (IR_PROTOCOL_ANALYZER *a = analyzer_of(n_); true)

// Smallest penalty among the enabled analyzers; on a tie the earlier one stays.
IR_PROTOCOL_ANALYZER *get_closest_proto() {
  IR_PROTOCOL_ANALYZER *best = nullptr;
  FOR_EACH_ANALYZER(a) {
    if (!a->enabled) continue;
    LOGV("list entry: %s", a->name);
    if (best == nullptr) {
      LOGV("%s %d better than %s %d", a->name, a->acc, "none", 0);
      best = a;
    } else if (a->acc < best->acc) {
      LOGV("%s %d better than %s %d", a->name, a->acc, best->name, best->acc);
      best = a;
    }
  }
  if (best != nullptr) LOGV("choosing: %s", best->name);
  return best;
}

// Scores one edge with every enabled analyzer; those past the allowance drop out.
void score_edge(uint16_t ticks, ir_t *ir) {
  [[maybe_unused]] constexpr const char *kLogFunc = "analyze_edge";  // its lines are analyze_edge's
  const int limit = codara::penalty_limit(ir->count);
  FOR_EACH_ANALYZER(a) {
    if (!a->enabled) continue;
    a->analyze(ticks, ir, a);
    if (a->acc > limit) {
      LOGD("removing decoder: %s %d > %d", a->name, a->acc, limit);
      a->enabled = 0;
    }
  }
}

// The built-in analyzer records and their whole-capture scorers, in the order
// they were first registered.
constexpr int kMaxBuiltin = 24;
struct Builtin {
  const IR_PROTOCOL_ANALYZER *record;
  decltype(IR_PROTOCOL_ANALYZER::analyze) analyze;  // what the scorer computes at once
  codara::Scorers score;
  codara::EdgeRange first_edges;
  bool extended;
};
Builtin builtins[kMaxBuiltin];
int builtin_count = 0;

// The entry of a built-in record whose per-edge function is still its own.
const Builtin *builtin_of(const IR_PROTOCOL_ANALYZER *a) {
  for (int k = 0; k < builtin_count; ++k)
    if (builtins[k].record == a) return builtins[k].analyze == a->analyze ? &builtins[k] : nullptr;
  return nullptr;
}

// The first edges split where some entry's range begins or ends: within one
// segment the same entries hold every edge.
constexpr int kMaxSegments = 2 * kMaxBuiltin + 1;
static_assert(kMaxBuiltin < 32 && kMaxSegments <= 256);

// The registered list as last seen, each entry with its scorer. Rebuilt whenever
// the list differs (a client may register analyzers of its own, or unlink ours).
struct Plan {
  IR_PROTOCOL_ANALYZER *record[kMaxBuiltin + 1];  // null after the last entry
  decltype(IR_PROTOCOL_ANALYZER::analyze) analyze[kMaxBuiltin];
  codara::Scorers score[kMaxBuiltin];
  codara::EdgeRange first_edges[kMaxBuiltin];
  uint8_t segment_of[codara::kMaxEdgeUs + 1];
  uint32_t holders[kMaxSegments];  // bit k: entry k's range holds the segment
  int count = 0;
  int last_best = 0;    // entry chosen last time, scored first
};
Plan plan;

// The state reset_analyzer leaves a record in: no penalty, no result, enabled.
constexpr uint32_t kPristine = 1u << 24;
uint32_t state_of(const IR_PROTOCOL_ANALYZER *a) {
  static_assert(offsetof(IR_PROTOCOL_ANALYZER, result) == offsetof(IR_PROTOCOL_ANALYZER, acc) + 2 &&
                offsetof(IR_PROTOCOL_ANALYZER, enabled) == offsetof(IR_PROTOCOL_ANALYZER, acc) + 3);
  return static_cast<uint32_t>(a->acc) | static_cast<uint32_t>(a->result) << 16 |
         static_cast<uint32_t>(a->enabled) << 24;
}

// The entries worth scoring on a capture whose first edge is `first_edge`:
// enabled, and not out on that edge already (an analyzer starting from nothing
// drops out at once on a first edge outside its range). Bit k stands for entry k.
uint32_t worth_scoring(uint16_t first_edge) {
  uint32_t mask = 0;
  for (int k = 0; k < plan.count; ++k) {
    const IR_PROTOCOL_ANALYZER *a = plan.record[k];
    if (a->enabled != 0 && (a->acc != 0 || plan.first_edges[k].holds(first_edge))) mask |= 1u << k;
  }
  return mask;
}

// Whether the plan is still the registered list; if so, `worth` as worth_scoring
// gives it. After a decode every record is as reset left it, and then the first
// edge alone decides, looked up by its segment.
bool plan_matches_list(uint16_t first_edge, uint32_t *worth) {
  uint32_t touched = 0;  // some record not as reset leaves it
  int k = 0;
  for (ll_t *n = registered_analyzers.next; n != &registered_analyzers; n = n->next, ++k) {
    const IR_PROTOCOL_ANALYZER *a = analyzer_of(n);
    if (plan.record[k] != a || plan.analyze[k] != a->analyze) return false;  // past the plan: null
    touched |= state_of(a) ^ kPristine;
  }
  if (k != plan.count) return false;
  *worth = touched == 0 && first_edge <= codara::kMaxEdgeUs ? plan.holders[plan.segment_of[first_edge]]
                                                            : worth_scoring(first_edge);
  return true;
}

// Splits the first edges where a range begins and one past where it ends (a range
// never wraps: it lies within 0 .. kMaxEdgeUs, or holds only 0xFFFF), and notes
// which entries hold each segment.
void fill_segments() {
  uint32_t cut[kMaxSegments];  // where a segment begins
  int cuts = 0;
  cut[cuts++] = 0;
  for (int k = 0; k < plan.count; ++k) {
    const codara::EdgeRange r = plan.first_edges[k];
    for (const uint32_t at : {uint32_t{r.lo}, uint32_t{r.lo} + r.span + 1u})
      if (at <= codara::kMaxEdgeUs) cut[cuts++] = at;
  }
  std::sort(cut, cut + cuts);
  cuts = static_cast<int>(std::unique(cut, cut + cuts) - cut);
  for (int seg = 0; seg < cuts; ++seg) {
    const uint32_t end = seg + 1 < cuts ? cut[seg + 1] : codara::kMaxEdgeUs + 1u;
    memset(plan.segment_of + cut[seg], seg, end - cut[seg]);
    uint32_t mask = 0;
    for (int k = 0; k < plan.count; ++k)
      if (plan.first_edges[k].holds(static_cast<uint16_t>(cut[seg]))) mask |= 1u << k;
    plan.holders[seg] = mask;
  }
}

void rebuild_plan() {
  // The arrays are filled as far as count. A plan stops at the first entry that is
  // not a built-in (or past kMaxBuiltin): it then never matches the list, and the
  // segment table is not needed.
  plan.count = 0;
  plan.record[0] = nullptr;
  plan.last_best = 0;
  FOR_EACH_ANALYZER(a) {
    const Builtin *b = builtin_of(a);
    if (b == nullptr || plan.count == kMaxBuiltin) return;
    plan.record[plan.count] = a;
    plan.analyze[plan.count] = a->analyze;
    plan.first_edges[plan.count] = b->first_edges;
    plan.score[plan.count++] = b->score;
    plan.record[plan.count] = nullptr;
  }
  fill_segments();
}

// Whether the plan, rebuilt when the list has changed, is the list: every entry a
// built-in. `worth` as plan_matches_list gives it.
bool plan_covers_list(uint16_t first_edge, uint32_t *worth) {
  if (plan_matches_list(first_edge, worth)) return true;
  rebuild_plan();
  return plan_matches_list(first_edge, worth);
}

}  // namespace

namespace codara {

void register_analyzer(struct protocol *p, const Scorers &score, bool extended) {
  auto *a = static_cast<const IR_PROTOCOL_ANALYZER *>(p->iface);
  bool known = false;
  for (int k = 0; k < builtin_count; ++k) known = known || builtins[k].record == a;
  if (!known && builtin_count < kMaxBuiltin)
    builtins[builtin_count++] = {a, a->analyze, score, score.first_edges(), extended};
  _register_protocol_iranalyzer(p);
}

bool extended_analyzer(const IR_PROTOCOL_ANALYZER *a) {
  for (int k = 0; k < builtin_count; ++k)
    if (builtins[k].record == a) return builtins[k].extended;
  return false;
}

IR_PROTOCOL_ANALYZER *closest_analyzer() { return get_closest_proto(); }

void leave_extended_analyzers_only() {
  FOR_EACH_ANALYZER(a) {
    if (!extended_analyzer(a)) a->enabled = 0;
  }
}

rc_proto analyze_capture(ir_t *ir, uint16_t len) {
  score_capture_edges(ir, len);
  return analyze_finish(ir);
}

void score_capture_edges(ir_t *ir, uint16_t len) {
  if (LOG_ON(5)) {
    // The verbose trace shows the closest analyzer after every edge.
    for (uint16_t i = 0; i < len; ++i) {
      ir->count = static_cast<uint8_t>(i);
      analyze_edge(ir->buf[i], ir);
    }
  } else {
    uint32_t worth = 0;  // not needed here: every enabled analyzer scores to the end
    if (plan_covers_list(ir->buf[0], &worth) && !LOG_ON(4)) {
      // No line to keep in order: each analyzer scores the whole capture in turn.
      for (int k = 0; k < plan.count; ++k)
        if (plan.record[k]->enabled) plan.score[k].all(ir->buf, len, plan.record[k], 0xFFFF);
    } else {
      for (uint16_t i = 0; i < len; ++i) {
        ir->count = static_cast<uint8_t>(i);
        score_edge(ir->buf[i], ir);
      }
    }
  }
  ir->count = static_cast<uint8_t>(len);
}

bool analyze_and_reset(ir_t *ir, uint16_t len, rc_proto *verdict) {
  if (LOG_ON(4)) return false;
  const uint16_t first_edge = ir->buf[0];
  uint32_t worth = 0;
  if (!plan_covers_list(first_edge, &worth)) return false;
  // No line to keep in order: each analyzer worth it scores the whole capture in
  // turn, the one closest last time first. On a short capture the closest one so
  // far bounds the rest, which stop once past it; the choice stays the one of the
  // list order (smallest penalty, the earlier on a tie).
  // Below a handful of edges an analyzer stops at its leader anyway: no bound to gain.
  const bool bounded = len > 6 && len <= codara::kBoundedEdges;
  IR_PROTOCOL_ANALYZER *best = nullptr;
  int best_at = 0;
  auto score = [&](int k) {
    IR_PROTOCOL_ANALYZER *a = plan.record[k];
    const bool stands = bounded && best != nullptr ? plan.score[k].bounded(ir->buf, len, a, best->acc)
                                                   : plan.score[k].all(ir->buf, len, a, 0xFFFF);
    if (stands && (best == nullptr || a->acc < best->acc || (a->acc == best->acc && k < best_at))) {
      best = a;
      best_at = k;
    }
  };
  const int first = plan.last_best;
  if ((worth >> first) & 1u) score(first);
  for (uint32_t rest = worth & ~(1u << first); rest != 0; rest &= rest - 1) score(__builtin_ctz(rest));
  if (best != nullptr) plan.last_best = best_at;
  ir->count = static_cast<uint8_t>(len);
  *verdict = best != nullptr && best->finish != nullptr ? best->finish(ir, best) : RC_PROTO_UNKNOWN;
  // What reset_analyzer does, in the same order.
  for (int k = 0; k < plan.count; ++k) {
    IR_PROTOCOL_ANALYZER *a = plan.record[k];
    a->acc = 0;
    a->result = 0;
    a->enabled = 1;
    if (a->reset != nullptr) a->reset(a);
  }
  return true;
}

}  // namespace codara

extern "C" {

uint8_t analyze_edge(uint16_t ticks, struct ir_t *ir) {
  score_edge(ticks, ir);
  IR_PROTOCOL_ANALYZER *best = get_closest_proto();
  return best != nullptr ? best->result : 0;
}

enum rc_proto analyze_finish(struct ir_t *ir) {
  IR_PROTOCOL_ANALYZER *best = get_closest_proto();
  if (best != nullptr && best->finish != nullptr) return best->finish(ir, best);
  return RC_PROTO_UNKNOWN;
}

void reset_analyzer(void) {
  FOR_EACH_ANALYZER(a) {
    a->acc = 0;
    a->result = 0;
    a->enabled = 1;
    if (a->reset != nullptr) a->reset(a);
  }
}

enum rc_proto analyze_protocol(uint16_t *buf, uint16_t len) {
  ir_t t{};
  // The working record holds at most IR_MAX_EDGES edges.
  const uint16_t n = len > IR_MAX_EDGES ? IR_MAX_EDGES : len;
  for (uint16_t i = 0; i < n; ++i) {
    t.buf[i] = buf[i];
    t.count = static_cast<uint8_t>(i);
    analyze_edge(buf[i], &t);
  }
  t.count = static_cast<uint8_t>(len);
  const rc_proto verdict = analyze_finish(&t);
  reset_analyzer();
  return verdict;
}

void print_all_analyzers(void) {
  puts("Enabled Protocols");
  puts("-----------------");
  FOR_EACH_ANALYZER(a) puts(a->name);
}

void _register_protocol_iranalyzer(struct protocol *p) {
  if (p == nullptr) return;
  auto *a = static_cast<IR_PROTOCOL_ANALYZER *>(const_cast<void *>(p->iface));
  if (codara::ll_contains(&registered_analyzers, &a->node)) {
    LOGD("already registered: %s", p->name);
    return;
  }
  LOGD("registering: %s", p->name);
  ll_add_tail(&a->node, &registered_analyzers);
  a->enabled = 1;
}

}  // extern "C"
