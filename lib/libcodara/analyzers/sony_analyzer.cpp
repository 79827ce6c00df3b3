// Sony SIRC: 2400 us leader, 600 us spaces, marks of 600 / 1200 us.
#include "libcodara/analyzers/scoring.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/sony_analyzer");

namespace {
using namespace codara;

void analyze_sony(uint16_t t, ir_t *ir, IR_PROTOCOL_ANALYZER *test) {
  const uint8_t pos = ir->count;
  if (pos == 0)
    add(test, dist(t, 2400));
  else if (pos % 2 == 1)
    add(test, dist(t, 600));
  else
    add(test, dist(t, t < 900 ? 600 : 1200));
}

rc_proto finish_sony([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGD("sony");
  return RC_PROTO_SONY12;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "sony", analyze_sony, finish_sony, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_SONY = {"iranalyzer", "SONY", &analyzer, {}};
}  // namespace

extern "C" void SONY__iranalyzer(void) { _register_protocol_iranalyzer(&__proto_SONY); }
