// Denon: 264 us marks, spaces of 792 / 1848 us.
#include "libcodara/analyzers/scoring.h"
#include "libcodara/timings/sharp.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/denon_analyzer");

namespace {
using namespace codara;

// Unlike the Sharp analyzer, a space of exactly the split scores as a 0.
uint32_t denon_penalty(uint16_t t, uint8_t pos) {
  using namespace codara::sharp;
  if (pos % 2 == 0) return dist(t, kMark);
  return dist(t, t <= kSpaceSplit ? kZeroSpace : kOneSpace);
}

rc_proto finish_denon([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  nec_data_t *d = memory_of(test);
  if (repeat_in_window(test, ir, sharp::kRepeatWindowMin, sharp::kRepeatWindowMax)) {
    ir->repeat = 1;
    LOGD("Denon [R]");
  } else {
    d->prev_edges_count = ir->count;
    LOGD("Denon");
  }
  d->was_nec = 2;
  return RC_PROTO_DENON;
}

nec_data_t memory{};
void reset_denon(IR_PROTOCOL_ANALYZER *test) { age_memory(test); }
IR_PROTOCOL_ANALYZER analyzer{{}, "denon", analyze_with<denon_penalty>, finish_denon, reset_denon, &memory, 0, 0, 0};
struct protocol __proto_DENON = {"iranalyzer", "DENON", &analyzer, {}};
}  // namespace

extern "C" void DENON__iranalyzer(void) { register_analyzer(&__proto_DENON, scorers<denon_penalty>, true); }
