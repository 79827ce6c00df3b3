// Denon: 264 us marks, spaces of 792 / 1848 us.
#include "libcodara/analyzers/scoring.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/denon_analyzer");

namespace {
using namespace codara;

void analyze_denon(uint16_t t, ir_t *ir, IR_PROTOCOL_ANALYZER *test) {
  if (ir->count % 2 == 0)
    add(test, dist(t, 264));
  else
    add(test, dist(t, t <= 1320 ? 792 : 1848));
}

rc_proto finish_denon([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  nec_data_t *d = memory_of(test);
  if (repeat_in_window(test, ir, 36, 50)) {
    ir->repeat = 1;
    LOGD("Denon [R]");
  } else {
    d->prev_edges_count = ir->count;
    LOGD("Denon");
  }
  d->was_nec = 2;
  return RC_PROTO_DENON;
}

nec_data_t memory{};
void reset_denon(IR_PROTOCOL_ANALYZER *test) { age_memory(test); }
IR_PROTOCOL_ANALYZER analyzer{{}, "denon", analyze_denon, finish_denon, reset_denon, &memory, 0, 0, 0};
struct protocol __proto_DENON = {"iranalyzer", "DENON", &analyzer, {}};
}  // namespace

extern "C" void DENON__iranalyzer(void) { _register_protocol_iranalyzer(&__proto_DENON); }
