// Nokia: 412 / 276 us leader, 164 us marks.
#include "libcodara/analyzers/scoring.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/nokia_analyzer");

namespace {
using namespace codara;

void analyze_nokia(uint16_t t, ir_t *ir, IR_PROTOCOL_ANALYZER *test) {
  const uint8_t pos = ir->count;
  if (pos == 0)
    add(test, dist(t, 412));
  else if (pos == 1)
    add(test, dist(t, 276));
  else if (pos % 2 == 0)
    add(test, dist(t, 164));
}

rc_proto finish_nokia([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGV("Nokia");
  return RC_PROTO_NOKIA;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "nokia", analyze_nokia, finish_nokia, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_NOKIA = {"iranalyzer", "NOKIA", &analyzer, {}};
}  // namespace

extern "C" void NOKIA__iranalyzer(void) { _register_protocol_iranalyzer(&__proto_NOKIA); }
