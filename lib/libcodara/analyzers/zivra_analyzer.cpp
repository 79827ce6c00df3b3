// Device-own frames: 4900 us leader, 840 us ID marks, long space after the ID.
#include "libcodara/analyzers/scoring.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/zivra_analyzer");

namespace {
using namespace codara;

void analyze_zivra(uint16_t t, ir_t *ir, IR_PROTOCOL_ANALYZER *test) {
  const uint8_t pos = ir->count;
  if (pos == 0)
    add(test, dist(t, 4900));
  else if (pos % 2 == 0 && pos >= 2 && pos <= 16)
    add(test, dist(t, 840));
  else if (pos == 17)
    // The space closing the identifier: the last ID space merged with the 2800 us
    // pause (4480 when the first Manchester half-bit is a mark).
    add(test, dist(t, 4480));
}

rc_proto finish_zivra([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGD("zivra");
  return RC_PROTO_ZIVRA;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "zivra", analyze_zivra, finish_zivra, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_ZIVRA = {"iranalyzer", "ZIVRA", &analyzer, {}};
}  // namespace

extern "C" void ZIVRA__iranalyzer(void) { _register_protocol_iranalyzer(&__proto_ZIVRA); }
