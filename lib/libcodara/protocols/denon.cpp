// Denon: the Sharp frame closing with the bits 0, 0 (check frame 1, 1).
#include "libcodara/protocols/extended.h"
#include "libcodara/protocols/sharp_family.h"

LOG_MODULE("lib/libcodara/protocols/denon");

namespace {

constexpr codara::sharp::Family kDenon{"denon", RC_PROTO_DENON, 0, 3};

int denon_decode(ir_t *ir, ir_prot *p) { return codara::sharp::decode(kDenon, ir, p); }
int denon_encode(enum rc_proto, uint32_t scancode, ir_packet *ir) { return codara::sharp::encode(kDenon, scancode, ir); }
int denon_transmit(enum rc_proto, uint32_t scancode, int rep) {
  return codara::sharp::transmit(LOG_SITE, kDenon, scancode, rep);
}

IR_PROTOCOL_HANDLER handler = {
    {}, uint64_t{1} << RC_PROTO_DENON, denon_decode, nullptr, denon_encode, denon_transmit, 38000, 0,
};
struct protocol __proto_DENON = {"irprotocol", "DENON", &handler, {}};

}  // namespace

struct protocol *codara::denon_handler() { return &__proto_DENON; }
