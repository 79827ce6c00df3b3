// RC6 mode 0: 2666 us leader, half-bit 444 us, double-width toggle.
#include "libcodara/analyzers/scoring.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/rc6_analyzer");

namespace {
using namespace codara;

void analyze_rc6(uint16_t t, ir_t *ir, IR_PROTOCOL_ANALYZER *test) {
  const uint8_t pos = ir->count;
  if (pos == 0) {
    add(test, 2u * dist(t, 2666));
  } else if (pos == 1) {
    add(test, 2u * dist(t, 888));
  } else if (pos == 2) {
    add(test, 2u * dist(t, 444));
  } else if (pos >= 7 && pos <= 12) {
    // The double-width toggle bit lies here and can merge into 1332 us edges.
    add(test, dist(t, t <= 665 ? 444 : t <= 1109 ? 888 : 1332));
  } else {
    add(test, dist(t, t <= 665 ? 444 : 888));
  }
}

rc_proto finish_rc6([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGD("RC6");
  return RC_PROTO_RC6_0;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "RC6", analyze_rc6, finish_rc6, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_RC6 = {"iranalyzer", "RC6", &analyzer, {}};
}  // namespace

extern "C" void RC6__iranalyzer(void) { _register_protocol_iranalyzer(&__proto_RC6); }
