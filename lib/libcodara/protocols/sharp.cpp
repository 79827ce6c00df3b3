// Sharp: the shared 15-bit frame closing with the bits 1, 0 (check frame 0, 1).
#include "libcodara/protocols/extended.h"
#include "libcodara/protocols/sharp_family.h"

LOG_MODULE("lib/libcodara/protocols/sharp");

namespace {

constexpr codara::sharp::Family kSharp{"sharp", RC_PROTO_SHARP, 1, 2};

int sharp_decode(ir_t *ir, ir_prot *p) { return codara::sharp::decode(kSharp, ir, p); }
int sharp_encode(enum rc_proto, uint32_t scancode, ir_packet *ir) { return codara::sharp::encode(kSharp, scancode, ir); }
int sharp_transmit(enum rc_proto, uint32_t scancode, int rep) {
  return codara::sharp::transmit(LOG_SITE, kSharp, scancode, rep);
}

IR_PROTOCOL_HANDLER handler = {
    {}, uint64_t{1} << RC_PROTO_SHARP, sharp_decode, nullptr, sharp_encode, sharp_transmit, 38000, 0,
};
struct protocol __proto_SHARP = {"irprotocol", "SHARP", &handler, {}};

}  // namespace

struct protocol *codara::sharp_handler() { return &__proto_SHARP; }
