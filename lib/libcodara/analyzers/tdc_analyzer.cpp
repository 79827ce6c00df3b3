// TDC: 315 us leader mark, edges of 315 / 630 us.
#include "libcodara/analyzers/scoring.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/tdc_analyzer");

namespace {
using namespace codara;

void analyze_tdc(uint16_t t, ir_t *ir, IR_PROTOCOL_ANALYZER *test) {
  if (ir->count == 0)
    add(test, dist(t, 315));
  else
    add(test, dist(t, t <= 472 ? 315 : 630));
}

rc_proto finish_tdc([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGD("TDC");
  return RC_PROTO_TDC;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "TDC", analyze_tdc, finish_tdc, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_TDC = {"iranalyzer", "TDC", &analyzer, {}};
}  // namespace

extern "C" void TDC__iranalyzer(void) { _register_protocol_iranalyzer(&__proto_TDC); }
