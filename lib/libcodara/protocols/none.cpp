// Default handler: a generic hash for signals no protocol handler serves.
#include <cstdio>

#include "codara/codara.h"
#include "libcodara/text.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/protocols/none");

namespace {

constexpr uint16_t kHashMaxEdge = 2400;  // longer edges hash as gaps

int ir_general_hash(ir_t *ir, ir_prot *p) {
  // Three edges are a repeat frame of some protocol, never a button of its own.
  if (ir->count == 3) {
    p->protocol = RC_PROTO_INVALID;
    return -1;
  }
  p->hash = ir_hash(ir->buf, ir->count, kHashMaxEdge);
  p->protocol = RC_PROTO_UNKNOWN;
  p->scancode = 0;
  codara::format_text(p->desc, sizeof(p->desc), "%-13s -- 0x0000", "UNKNOWN");
  return 0;
}

IR_PROTOCOL_HANDLER none_handler{{}, 0, ir_general_hash, nullptr, nullptr, nullptr, 38000, 0};
struct protocol __proto_NONE = {"irprotocol", "NONE", &none_handler, {}};

}  // namespace

extern "C" void NONE__irprotocol(void) { _register_protocol_irprotocol(&__proto_NONE); }
