// RC6 mode 0: 2666 us leader, half-bit 444 us, double-width toggle.
#include "libcodara/analyzers/scoring.h"
#include "libcodara/timings/rc6.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/rc6_analyzer");

namespace {
using namespace codara;

uint32_t rc6_penalty(uint16_t t, uint8_t pos) {
  using namespace codara::rc6;
  if (pos == 0) return 2u * dist(t, kExactLeaderMark);
  if (pos == 1) return 2u * dist(t, kLeaderSpace);
  if (pos == 2) return 2u * dist(t, kHalfBit);
  // The double-width toggle bit lies here and can merge into 1332 us edges.
  if (pos >= 7 && pos <= 12) return dist(t, t < kShortSplit ? kHalfBit : t < kLongSplit ? kFullBit : kToggleEdge);
  return dist(t, t < kShortSplit ? kHalfBit : kFullBit);
}

rc_proto finish_rc6([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGD("RC6");
  return RC_PROTO_RC6_0;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "RC6", analyze_with<rc6_penalty>, finish_rc6, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_RC6 = {"iranalyzer", "RC6", &analyzer, {}};
}  // namespace

extern "C" void RC6__iranalyzer(void) { register_analyzer(&__proto_RC6, scorers<rc6_penalty>); }
