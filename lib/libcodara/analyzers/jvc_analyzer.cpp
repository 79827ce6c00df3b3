// JVC: 8432 / 4216 us leader (absent from the frames of a held key), 527 us marks,
// spaces of 527 / 1581 us.
#include "libcodara/analyzers/scoring.h"
#include "libcodara/timings/jvc.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/jvc_analyzer");

namespace {
using namespace codara;

// Edge by edge the analyzer cannot tell a frame from a headerless repeat, so the
// first two edges may be either a leader or a bit. The leader weighs a quarter: a
// fifth off its 12.6 ms would be past the allowance of the first edges by itself.
uint32_t jvc_penalty(uint16_t t, uint8_t pos) {
  using namespace codara::jvc;
  if (pos == 0) return t < kLeaderSplit ? dist(t, kMark) : dist(t, kLeaderMark) / 4u;
  if (pos % 2 == 0) return dist(t, kMark);
  if (pos == 1 && t > kLeaderSpaceSplit) return dist(t, kLeaderSpace) / 4u;
  return dist(t, t < kSpaceSplit ? kZeroSpace : kOneSpace);
}

rc_proto finish_jvc([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGD("jvc");
  return RC_PROTO_JVC;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "jvc", analyze_with<jvc_penalty>, finish_jvc, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_JVC = {"iranalyzer", "JVC", &analyzer, {}};
}  // namespace

namespace codara {
void register_jvc_analyzer() { register_analyzer(&__proto_JVC, scorers<jvc_penalty>, true); }
}  // namespace codara
