// Sharp: 264 us marks, spaces of 792 / 1848 us.
#include "libcodara/analyzers/scoring.h"
#include "libcodara/timings/sharp.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/sharp_analyzer");

namespace {
using namespace codara;

uint32_t sharp_penalty(uint16_t t, uint8_t pos) {
  using namespace codara::sharp;
  if (pos == 1) return dist(t, kOneSpace);
  return dist(t, t < kMarkSplit ? kMark : t < kSpaceSplit ? kZeroSpace : kOneSpace);
}

rc_proto finish_sharp([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  nec_data_t *d = memory_of(test);
  if (repeat_in_window(test, ir, sharp::kRepeatWindowMin, sharp::kRepeatWindowMax)) {
    ir->repeat = 1;
    LOGD("sharp [R]");
  } else {
    d->prev_edges_count = ir->count;
    LOGD("sharp");
  }
  d->was_nec = 2;
  return RC_PROTO_SHARP;
}

nec_data_t memory{};
void reset_sharp(IR_PROTOCOL_ANALYZER *test) { age_memory(test); }
IR_PROTOCOL_ANALYZER analyzer{{}, "sharp", analyze_with<sharp_penalty>, finish_sharp, reset_sharp, &memory, 0, 0, 0};
struct protocol __proto_SHARP = {"iranalyzer", "SHARP", &analyzer, {}};
}  // namespace

extern "C" void SHARP__iranalyzer(void) { register_analyzer(&__proto_SHARP, scorers<sharp_penalty>, true); }
