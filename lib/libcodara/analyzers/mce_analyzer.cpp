// RC6 MCE: fixed header shape up to position 10, then half-bits of 444 us.
#include "libcodara/analyzers/scoring.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/mce_analyzer");

namespace {
using namespace codara;

void analyze_mce(uint16_t t, ir_t *ir, IR_PROTOCOL_ANALYZER *test) {
  const uint8_t pos = ir->count;
  if (pos == 0)
    add(test, dist(t, 2664));
  else if (pos == 1 || pos == 7 || pos == 9)
    add(test, dist(t, 888));
  else if ((pos >= 2 && pos <= 6) || pos == 8)
    add(test, dist(t, 444));
  else if (pos == 10)
    add(test, dist(t, 1332));
  else
    add(test, dist(t, t <= 665 ? 444 : 888));
}

rc_proto finish_mce([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGD("mce");
  return RC_PROTO_RC6_MCE;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "mce", analyze_mce, finish_mce, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_MCE = {"iranalyzer", "MCE", &analyzer, {}};
}  // namespace

extern "C" void MCE__iranalyzer(void) { _register_protocol_iranalyzer(&__proto_MCE); }
