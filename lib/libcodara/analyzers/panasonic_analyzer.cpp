// Panasonic: 3600 / 1600 us leader; short edges weigh half.
#include "libcodara/analyzers/scoring.h"
#include "libcodara/timings/panasonic.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/panasonic_analyzer");

namespace {
using namespace codara;

uint32_t panasonic_penalty(uint16_t t, uint8_t pos) {
  using namespace codara::panasonic;
  if (pos == 0) return dist(t, kLeaderMark);
  if (pos == 1) return dist(t, kLeaderSpace);
  if (pos % 2 == 1) return t >= kSpaceSplit ? dist(t, kOneSpace) : dist(t, kZeroSpace) / 2u;
  return dist(t, kClosingMark) / 2u;
}

rc_proto finish_panasonic([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGV("Panasonic");
  return RC_PROTO_PANASONIC;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "Panasonic", analyze_with<panasonic_penalty>, finish_panasonic, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_PANASONIC = {"iranalyzer", "PANASONIC", &analyzer, {}};
}  // namespace

extern "C" void PANASONIC__iranalyzer(void) { register_analyzer(&__proto_PANASONIC, scorers<panasonic_penalty>); }
