// A sequence of captures through ir_decode_packet, as a dongle streams them, so
// repeat memory, toggle bits and the time since the previous capture all see
// what the fuzzer makes of them. Each capture: a count byte, the elapsed time,
// then that many edges. Built a second time as decode_extended, with the extended
// protocols registered: the tools decode with them unless told not to.
#include <cstdlib>

#include "codara/codara.h"
#include "codara/logging.h"
#include "fuzz_input.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  fuzz::init();
#ifdef FUZZ_EXTENDED_PROTOCOLS
  static const bool registered = (codara_register_extended(), true);
  (void)registered;
#endif
  fuzz::Input in(data, size);
  while (!in.empty()) {
    ir_packet pkt{};
    size_t n = in.byte();
    pkt.elapsed = in.u16();
    for (size_t i = 0; i < n; ++i) pkt.buf[i] = in.u16();
    pkt.len = static_cast<uint16_t>(n);
    ir_prot p{};
    int rc = ir_decode_packet(&pkt, &p);
    if (rc >= 0 && (p.len > IR_MAX_EDGES || p.pronto_len > IR_MAX_EDGES)) abort();
    if (rc == RC_PROTO_INVALID && p.hash != 0) abort();
  }
  return 0;
}
