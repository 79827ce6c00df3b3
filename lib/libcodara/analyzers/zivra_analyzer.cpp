// Device-own frames: 4900 us leader, 840 us ID marks, long space after the ID.
#include "libcodara/analyzers/scoring.h"
#include "libcodara/timings/zivra.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/zivra_analyzer");

namespace {
using namespace codara;

uint32_t zivra_penalty(uint16_t t, uint8_t pos) {
  using namespace codara::zivra;
  if (pos == 0) return dist(t, kLeaderMark);
  if (pos % 2 == 0 && pos >= 2 && pos <= 16) return dist(t, kHalfBit);
  if (pos == 17) return dist(t, kIdClosingSpace);
  return 0;
}

rc_proto finish_zivra([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGD("zivra");
  return RC_PROTO_ZIVRA;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "zivra", analyze_with<zivra_penalty>, finish_zivra, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_ZIVRA = {"iranalyzer", "ZIVRA", &analyzer, {}};
}  // namespace

extern "C" void ZIVRA__iranalyzer(void) { register_analyzer(&__proto_ZIVRA, scorers<zivra_penalty>); }
