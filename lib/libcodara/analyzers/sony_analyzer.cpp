// Sony SIRC: 2400 us leader, 600 us spaces, marks of 600 / 1200 us.
#include "libcodara/analyzers/scoring.h"
#include "libcodara/timings/sony.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/sony_analyzer");

namespace {
using namespace codara;

uint32_t sony_penalty(uint16_t t, uint8_t pos) {
  using namespace codara::sony;
  if (pos == 0) return dist(t, kLeaderMark);
  if (pos % 2 == 1) return dist(t, kSpace);
  return dist(t, t < kMarkSplit ? kZeroMark : kOneMark);
}

rc_proto finish_sony([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGD("sony");
  return RC_PROTO_SONY12;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "sony", analyze_with<sony_penalty>, finish_sony, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_SONY = {"iranalyzer", "SONY", &analyzer, {}};
}  // namespace

extern "C" void SONY__iranalyzer(void) { register_analyzer(&__proto_SONY, scorers<sony_penalty>); }
