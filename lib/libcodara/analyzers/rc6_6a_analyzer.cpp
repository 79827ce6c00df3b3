// RC6 mode 6A: the MCE analyzer's header shape, but any first data bit (the MCE
// analyzer expects the 1 of the MCE customer code).
#include "libcodara/analyzers/scoring.h"
#include "libcodara/timings/rc6.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/rc6_6a_analyzer");

namespace {
using namespace codara;

uint32_t rc6_6a_penalty(uint16_t t, uint8_t pos) {
  using namespace codara::rc6;
  if (pos == 0) return dist(t, kLeaderMark);
  if (pos == 1 || pos == 7 || pos == 9) return dist(t, kFullBit);
  if ((pos >= 2 && pos <= 6) || pos == 8) return dist(t, kHalfBit);
  // The trailer's mark, alone or merged with a first data bit of 1.
  if (pos == 10) return dist(t, t <= kLongSplit ? kFullBit : kToggleEdge);
  return dist(t, t < kShortSplit ? kHalfBit : kFullBit);
}

rc_proto finish_rc6_6a([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGD("rc6_6a");
  return RC_PROTO_RC6_6A_32;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "rc6_6a", analyze_with<rc6_6a_penalty>, finish_rc6_6a, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_RC6_6A = {"iranalyzer", "RC6_6A", &analyzer, {}};
}  // namespace

namespace codara {
void register_rc6_6a_analyzer() { register_analyzer(&__proto_RC6_6A, scorers<rc6_6a_penalty>, true); }
}  // namespace codara
