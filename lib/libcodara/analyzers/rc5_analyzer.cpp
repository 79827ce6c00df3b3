// RC5: bi-phase, half-bit 889 us; the first mark is weighted double.
#include "libcodara/analyzers/scoring.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/rc5_analyzer");

namespace {
using namespace codara;

void analyze_rc5(uint16_t t, ir_t *ir, IR_PROTOCOL_ANALYZER *test) {
  const uint8_t pos = ir->count;
  if (pos == 0) {
    add(test, 2u * dist(t, 889));
  } else if (pos == 1) {
    add(test, dist(t, 889));
  } else if (pos <= 5) {
    // Around the toggle bit a space may span one and a half bit periods.
    add(test, dist(t, t <= 1332 ? 889 : t <= 2221 ? 1778 : 2667));
  } else {
    add(test, dist(t, t <= 1332 ? 889 : 1778));
  }
}

rc_proto finish_rc5([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGD("rc5");
  return RC_PROTO_RC5;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "rc5", analyze_rc5, finish_rc5, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_RC5 = {"iranalyzer", "RC5", &analyzer, {}};
}  // namespace

extern "C" void RC5__iranalyzer(void) { _register_protocol_iranalyzer(&__proto_RC5); }
