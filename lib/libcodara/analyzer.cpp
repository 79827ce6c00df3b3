// Analyzer framework: per-edge scoring, elimination, choice of the closest analyzer.
#include <cstddef>
#include <cstdio>

#include "codara/codara.h"
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

}  // namespace

extern "C" {

uint8_t analyze_edge(uint16_t ticks, struct ir_t *ir) {
  // Early edges carry leaders whose jitter is large; later the allowance grows
  // with the number of edges scored.
  const int limit = ir->count <= 5 ? 2500 : ir->count * 800;
  FOR_EACH_ANALYZER(a) {
    if (!a->enabled) continue;
    a->analyze(ticks, ir, a);
    if (a->acc > limit) {
      LOGD("removing decoder: %s %d > %d", a->name, a->acc, limit);
      a->enabled = 0;
    }
  }
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
