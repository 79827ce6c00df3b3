// RC6 MCE: fixed header shape up to position 10, then half-bits of 444 us.
#include "libcodara/analyzers/scoring.h"
#include "libcodara/timings/rc6.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/mce_analyzer");

namespace {
using namespace codara;

uint32_t mce_penalty(uint16_t t, uint8_t pos) {
  using namespace codara::rc6;
  if (pos == 0) return dist(t, kLeaderMark);
  if (pos == 1 || pos == 7 || pos == 9) return dist(t, kFullBit);
  if ((pos >= 2 && pos <= 6) || pos == 8) return dist(t, kHalfBit);
  if (pos == 10) return dist(t, kToggleEdge);
  return dist(t, t < kShortSplit ? kHalfBit : kFullBit);
}

rc_proto finish_mce([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGD("mce");
  return RC_PROTO_RC6_MCE;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "mce", analyze_with<mce_penalty>, finish_mce, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_MCE = {"iranalyzer", "MCE", &analyzer, {}};
}  // namespace

extern "C" void MCE__iranalyzer(void) { register_analyzer(&__proto_MCE, scorers<mce_penalty>); }
