// Sharp: 264 us marks, spaces of 792 / 1848 us.
#include "libcodara/analyzers/scoring.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/sharp_analyzer");

namespace {
using namespace codara;

void analyze_sharp(uint16_t t, ir_t *ir, IR_PROTOCOL_ANALYZER *test) {
  if (ir->count == 1)
    add(test, dist(t, 1848));
  else
    add(test, dist(t, t < 528 ? 264 : t <= 1319 ? 792 : 1848));
}

rc_proto finish_sharp([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  nec_data_t *d = memory_of(test);
  if (repeat_in_window(test, ir, 36, 50)) {
    ir->repeat = 1;
    LOGD("sharp [R]");
  } else {
    d->prev_edges_count = ir->count;
    LOGD("sharp");
  }
  d->was_nec = 2;
  return RC_PROTO_SHARP;
}

nec_data_t memory{};
void reset_sharp(IR_PROTOCOL_ANALYZER *test) { age_memory(test); }
IR_PROTOCOL_ANALYZER analyzer{{}, "sharp", analyze_sharp, finish_sharp, reset_sharp, &memory, 0, 0, 0};
struct protocol __proto_SHARP = {"iranalyzer", "SHARP", &analyzer, {}};
}  // namespace

extern "C" void SHARP__iranalyzer(void) { _register_protocol_iranalyzer(&__proto_SHARP); }
