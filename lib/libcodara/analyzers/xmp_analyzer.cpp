// XMP: 210 us marks; the 13.8 ms gap between the halves at position 17.
#include "libcodara/analyzers/scoring.h"
#include "libcodara/timings/xmp.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/analyzers/xmp_analyzer");

namespace {
using namespace codara;

uint32_t xmp_penalty(uint16_t t, uint8_t pos) {
  using namespace codara::xmp;
  if (pos < kFrameEdges) {
    if (pos % 2 == 0) return dist(t, kMark);
    return pos == 17 ? dist(t, kHalfGap) : 0;
  }
  // A frame has no edges this late: everything beyond counts against it.
  return t + (pos % 2 == 0 ? dist(t, kMark) : 0u);
}

rc_proto finish_xmp([[maybe_unused]] ir_t *ir, [[maybe_unused]] IR_PROTOCOL_ANALYZER *test) {
  LOGV("xmp");
  return RC_PROTO_XMP;
}

IR_PROTOCOL_ANALYZER analyzer{{}, "xmp", analyze_with<xmp_penalty>, finish_xmp, nullptr, nullptr, 0, 0, 0};
struct protocol __proto_XMP = {"iranalyzer", "XMP", &analyzer, {}};
}  // namespace

extern "C" void XMP__iranalyzer(void) { register_analyzer(&__proto_XMP, scorers<xmp_penalty>); }
