// RC5: bi-phase, half-bit 889 us; the first mark is weighted double.
#include "libcodara/analyzers/scoring.h"
#include "libcodara/timings/rc5.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/rc5_analyzer");

namespace {
using namespace codara;

uint32_t rc5_penalty(uint16_t t, uint8_t pos) {
  using namespace codara::rc5;
  if (pos == 0) return 2u * dist(t, kHalfBit);
  if (pos == 1) return dist(t, kHalfBit);
  // Around the toggle bit a space may span one and a half bit periods.
  if (pos <= 5) return dist(t, t < kSplit ? kHalfBit : t < kLongSplit ? kFullBit : kBitAndHalf);
  return dist(t, t < kSplit ? kHalfBit : kFullBit);
}

rc_proto finish_rc5([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGD("rc5");
  return RC_PROTO_RC5;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "rc5", analyze_with<rc5_penalty>, finish_rc5, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_RC5 = {"iranalyzer", "RC5", &analyzer, {}};
}  // namespace

extern "C" void RC5__iranalyzer(void) { register_analyzer(&__proto_RC5, scorers<rc5_penalty>); }
