// Ortek: 1920 us leader, then edges of 480 / 960 us.
#include "libcodara/analyzers/scoring.h"
#include "libcodara/timings/ortek.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/ortek_analyzer");

namespace {
using namespace codara;

using namespace codara::ortek;

uint32_t ortek_penalty(uint16_t t, uint8_t pos) {
  if (pos == 0) return dist(t, kLeaderMark);
  return dist(t, t < kSplit ? kShortEdge : kLongEdge);
}

rc_proto finish_ortek([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  nec_data_t *d = memory_of(test);
  if (repeat_in_window(test, ir, kRepeatWindowMin, kRepeatWindowMax)) {
    ir->repeat = 1;
    LOGD("ortek [R]");
  } else {
    d->prev_edges_count = ir->count;
    LOGD("ortek");
  }
  d->was_nec = 2;
  return RC_PROTO_ORTEK;
}

nec_data_t memory{};
void reset_ortek(IR_PROTOCOL_ANALYZER *test) { age_memory(test); }
IR_PROTOCOL_ANALYZER analyzer{{}, "ortek", analyze_with<ortek_penalty>, finish_ortek, reset_ortek, &memory, 0, 0, 0};
struct protocol __proto_ORTEK = {"iranalyzer", "ORTEK", &analyzer, {}};
}  // namespace

extern "C" void ORTEK__iranalyzer(void) { register_analyzer(&__proto_ORTEK, scorers<ortek_penalty>); }
