// Amino set-top remotes: a Manchester code of up to 31 bits with a 165 us half-bit.
// Decode only; no built-in analyzer names this protocol, a client's analyzer must.
#include <cstdint>
#include <cstdio>

#include "codara/codara.h"
#include "libcodara/text.h"
#include "libcodara/util.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/protocols/amino");

namespace {

constexpr int kHalfBit = 165;
// Manchester decoding splits half from full bits halfway between these two.
constexpr int kFullBitWindow = 450;
// A third edge longer than this holds the first bit's leading half.
constexpr uint16_t kMergedStart = 938;
constexpr uint16_t kHashMaxEdge = 2400;

int amino_decode(ir_t *ir, ir_prot *p) {
  const int n = ir->count;
  // A long third edge means the first bit's leading half merged into it: the walk
  // starts there with a 1 before it.
  const bool long_start = codara::edge_at(ir->buf, n, 2) > kMergedStart;
  uint32_t v = long_start ? 1 : 0;
  const int start = long_start ? 2 : 3;
  manchester_decode(ir->buf + start, n - start, 31, &v, &p->bits, kFullBitWindow, kHalfBit);

  p->protocol = RC_PROTO_AMINO;
  p->scancode = v;
  // The measured edges: this decoder writes no cleaned form to hash.
  p->hash = ir_hash(ir->buf, static_cast<size_t>(n), kHashMaxEdge);

  const unsigned t = (v >> 27) & 1, d = (v >> 28) & 0xF, c = v & 0xF, q = (v >> 4) & 0xF, f = (v >> 8) & 0xFF;
  LOGV("T: %d", t);
  LOGV("D: %d", d);
  LOGV("C: %d", c);
  LOGV("?: %d", q);
  LOGV("F: 0x%02X", f);
  LOGV("bits extracted: %d", p->bits);
  codara::format_text(p->desc, sizeof p->desc, "%-13s -- D: %u F: 0x%02X C: %u T:%u", "AMINO", d, f, c, t);
  return 0;
}

IR_PROTOCOL_HANDLER amino_handler = {
    {}, uint64_t{1} << RC_PROTO_AMINO, amino_decode, nullptr, nullptr, nullptr, 36000, 25000,
};

struct protocol __proto_AMINO = {"irprotocol", "AMINO", &amino_handler, {}};

}  // namespace

extern "C" void AMINO__irprotocol(void) { _register_protocol_irprotocol(&__proto_AMINO); }
