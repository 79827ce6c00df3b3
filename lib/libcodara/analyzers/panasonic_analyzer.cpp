// Panasonic: 3600 / 1600 us leader; short edges weigh half.
#include "libcodara/analyzers/scoring.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/panasonic_analyzer");

namespace {
using namespace codara;

void analyze_panasonic(uint16_t t, ir_t *ir, IR_PROTOCOL_ANALYZER *test) {
  const uint8_t pos = ir->count;
  if (pos == 0)
    add(test, dist(t, 3600));
  else if (pos == 1)
    add(test, dist(t, 1600));
  else if (pos % 2 == 1)
    add(test, t > 889 ? dist(t, 1335) : dist(t, 445) / 2u);
  else
    add(test, dist(t, 400) / 2u);
}

rc_proto finish_panasonic([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGV("Panasonic");
  return RC_PROTO_PANASONIC;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "Panasonic", analyze_panasonic, finish_panasonic, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_PANASONIC = {"iranalyzer", "PANASONIC", &analyzer, {}};
}  // namespace

extern "C" void PANASONIC__iranalyzer(void) { _register_protocol_iranalyzer(&__proto_PANASONIC); }
