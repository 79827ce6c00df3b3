// NEC family: 9 ms (or 4.5 ms) leader, pulse-distance bits of 564 / 1692 us.
#include "libcodara/analyzers/scoring.h"
#include "libcodara/timings/nec.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/nec_analyzer");

namespace {
using namespace codara;

uint32_t nec_penalty(uint16_t t, uint8_t pos) {
  using namespace codara::nec;
  uint16_t nominal;
  if (pos == 0)
    nominal = t < kLeaderSplit ? kShortLeaderMark : kLeaderMark;
  else if (pos == 1)
    nominal = t < kLeaderSpaceSplit ? kRepeatSpace : kLeaderSpace;  // short: the space of a repeat frame
  else
    nominal = t < kBitSplit ? kShortEdge : kLongEdge;
  return dist(t, nominal);
}

rc_proto finish_nec(ir_t *ir, IR_PROTOCOL_ANALYZER *test) {
  nec_data_t *d = memory_of(test);
  // Shorter than the full frame won just before: the repeat frame of that press.
  if (d->was_nec != 0 && d->prev_edges_count > ir->count) {
    ir->repeat = 1;
    LOGV("nec [r]");
  } else {
    d->prev_edges_count = ir->count;
    LOGV("nec");
  }
  d->was_nec = 2;
  return RC_PROTO_NEC;
}

void reset_nec(IR_PROTOCOL_ANALYZER *test) { age_memory(test); }

nec_data_t nec_data{};
IR_PROTOCOL_ANALYZER nec_analyzer{{}, "NEC", analyze_with<nec_penalty>, finish_nec, reset_nec, &nec_data, 0, 0, 0};
struct protocol __proto_NEC = {"iranalyzer", "NEC", &nec_analyzer, {}};
}  // namespace

extern "C" void NEC__iranalyzer(void) { register_analyzer(&__proto_NEC, scorers<nec_penalty>); }
