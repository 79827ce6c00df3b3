// XMP: 210 us marks; the 13.8 ms gap between the halves at position 17.
#include "libcodara/analyzers/scoring.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/xmp_analyzer");

namespace {
using namespace codara;

void analyze_xmp(uint16_t t, ir_t *ir, IR_PROTOCOL_ANALYZER *test) {
  const uint8_t pos = ir->count;
  if (pos < 36) {
    if (pos % 2 == 0)
      add(test, dist(t, 210));
    else if (pos == 17)
      add(test, dist(t, 13800));
  } else {
    // A frame has no edges this late: everything beyond counts against it.
    add(test, t);
    if (pos % 2 == 0) add(test, dist(t, 210));
  }
}

rc_proto finish_xmp([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGV("xmp");
  return RC_PROTO_XMP;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "xmp", analyze_xmp, finish_xmp, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_XMP = {"iranalyzer", "XMP", &analyzer, {}};
}  // namespace

extern "C" void XMP__iranalyzer(void) { _register_protocol_iranalyzer(&__proto_XMP); }
