// Ortek: 1920 us leader, then edges of 480 / 960 us.
#include "libcodara/analyzers/scoring.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/ortek_analyzer");

namespace {
using namespace codara;

void analyze_ortek(uint16_t t, ir_t *ir, IR_PROTOCOL_ANALYZER *test) {
  if (ir->count == 0)
    add(test, dist(t, 1920));
  else
    add(test, dist(t, t < 720 ? 480 : 960));
}

rc_proto finish_ortek([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  nec_data_t *d = memory_of(test);
  if (repeat_in_window(test, ir, 44, 52)) {
    ir->repeat = 1;
    LOGD("ortek [R]");
  } else {
    d->prev_edges_count = ir->count;
    LOGD("ortek");
  }
  d->was_nec = 2;
  return RC_PROTO_ORTEK;
}

nec_data_t memory{};
void reset_ortek(IR_PROTOCOL_ANALYZER *test) { age_memory(test); }
IR_PROTOCOL_ANALYZER analyzer{{}, "ortek", analyze_ortek, finish_ortek, reset_ortek, &memory, 0, 0, 0};
struct protocol __proto_ORTEK = {"iranalyzer", "ORTEK", &analyzer, {}};
}  // namespace

extern "C" void ORTEK__iranalyzer(void) { _register_protocol_iranalyzer(&__proto_ORTEK); }
