// TDC: 315 us leader mark, edges of 315 / 630 us.
#include "libcodara/analyzers/scoring.h"
#include "libcodara/timings/tdc.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/tdc_analyzer");

namespace {
using namespace codara;

using namespace codara::tdc;

uint32_t tdc_penalty(uint16_t t, uint8_t pos) {
  if (pos == 0) return dist(t, kShortEdge);
  return dist(t, t <= kSplit ? kShortEdge : kLongEdge);
}

rc_proto finish_tdc([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGD("TDC");
  return RC_PROTO_TDC;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "TDC", analyze_with<tdc_penalty>, finish_tdc, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_TDC = {"iranalyzer", "TDC", &analyzer, {}};
}  // namespace

extern "C" void TDC__iranalyzer(void) { register_analyzer(&__proto_TDC, scorers<tdc_penalty>, true); }
