// Nokia: 412 / 276 us leader, 164 us marks.
#include "libcodara/analyzers/scoring.h"
#include "libcodara/timings/nokia.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/nokia_analyzer");

namespace {
using namespace codara;

using namespace codara::nokia;

// Only marks are scored after the leader: the spaces carry the data.
uint32_t nokia_penalty(uint16_t t, uint8_t pos) {
  if (pos == 0) return dist(t, kLeaderMark);
  if (pos == 1) return dist(t, kLeaderSpace);
  return pos % 2 == 0 ? dist(t, kMark) : 0u;
}

rc_proto finish_nokia([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGV("Nokia");
  return RC_PROTO_NOKIA;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "nokia", analyze_with<nokia_penalty>, finish_nokia, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_NOKIA = {"iranalyzer", "NOKIA", &analyzer, {}};
}  // namespace

extern "C" void NOKIA__iranalyzer(void) { register_analyzer(&__proto_NOKIA, scorers<nokia_penalty>, true); }
