// Samsung-32: a NECx-shaped frame, 4512 / 4512 us leader, 564 us marks, spaces of
// 564 / 1692 us.
#include "libcodara/analyzers/scoring.h"
#include "libcodara/timings/samsung.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/samsung_analyzer");

namespace {
using namespace codara;

// Every frame of this shape also suits the NEC analyzer, which is registered
// earlier and wins ties. Scoring at half weight lets this analyzer claim the
// short-leader frames; its decoder hands back those that are not Samsung frames
// (address byte not repeated, command not inverted), and they go to NEC as before.
// A full-length leader is NEC's alone.
uint32_t samsung_penalty(uint16_t t, uint8_t pos) {
  using namespace codara::samsung;
  if (pos == 0) return t < nec::kLeaderSplit ? dist(t, kLeaderMark) / 2u : dist(t, kLeaderMark);
  if (pos == 1) return dist(t, kLeaderSpace) / 2u;
  if (pos % 2 == 0) return dist(t, kMark) / 2u;
  return dist(t, t < nec::kBitSplit ? kZeroSpace : kOneSpace) / 2u;
}

rc_proto finish_samsung([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGD("samsung32");
  return static_cast<rc_proto>(CODARA_PROTO_SAMSUNG32);
}

IR_PROTOCOL_ANALYZER analyzer{{}, "samsung32", analyze_with<samsung_penalty>, finish_samsung, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_SAMSUNG32 = {"iranalyzer", "SAMSUNG32", &analyzer, {}};
}  // namespace

namespace codara {
void register_samsung_analyzer() { register_analyzer(&__proto_SAMSUNG32, scorers<samsung_penalty>, true); }
}  // namespace codara
