// XMP decoder: 16 nibbles, each carried by the length of one mark and space, in two
// halves of eight separated by a long gap. Encoding is not supported.
#include <cstdint>
#include <cstdio>

#include "codara/codara.h"
#include "libcodara/text.h"
#include "libcodara/timings/xmp.h"
#include "libcodara/util.h"
#include "liblog/log.h"

LOG_MODULE("lib/libcodara/protocols/xmp");

namespace {

using namespace codara::xmp;

constexpr int kNibbles = 16;
constexpr uint16_t kHashMaxEdge = 2200;

int ir_xmp_decode(ir_t *ir, ir_prot *p) {
  const int n = ir->count;
  int nib[kNibbles] = {};
  int count = 0;
  for (int i = 1; i < n; i += 2) {
    if (ir->buf[i] > kHalfGapMin) continue;
    // Counted beyond 16 so an overlong capture is rejected, but never stored there.
    if (count < kNibbles) nib[count] = (ir->buf[i - 1] + ir->buf[i] - kNibbleBase) / kNibbleStep;
    ++count;
  }
  if (count != kNibbles) {
    LOGE("invalid bit count: %d, expected 16", count);
    return -1;
  }

  int sum1 = 15, sum2 = 15;
  for (int k = 0; k < 8; ++k) {
    sum1 += nib[k];
    sum2 += nib[8 + k];
  }
  sum1 &= 0xF;
  sum2 &= 0xF;
  if (sum1 != 0xF || sum2 != 0xF) LOGE("checksum errors sum1=0x%X sum2=0x%X", sum1, sum2);

  const int subaddr = (nib[0] * 16 + nib[2]) & 0xFF;
  const int oem = (nib[4] * 16 + nib[5]) & 0xFF;
  const int device = (nib[6] * 16 + nib[7]) & 0xFF;
  const int subaddr2 = (nib[8] * 16 + nib[11]) & 0xFF;
  const int toggle = nib[10];
  const int obc1 = (nib[12] * 16 + nib[13]) & 0xFF;
  const int obc2 = (nib[14] * 16 + nib[15]) & 0xFF;
  p->scancode = static_cast<uint32_t>(obc2) | (static_cast<uint32_t>(obc1) << 8) |
                (static_cast<uint32_t>(subaddr) << 16) | (static_cast<uint32_t>(device) << 24);
  if (subaddr != subaddr2) LOGW("subaddress nibbles mismatch 0x%02X != 0x%02X", subaddr, subaddr2);
  if (oem != 0x44) LOGW("Warning: OEM nibbles 0x%02X. Expected 0x44", oem);

  LOGV("XMP-1     ");
  LOGV("Device:    0x%02X   ", device);
  LOGV("SubDevice: 0x%02X   ", subaddr);
  LOGV("OBC:       0x%04X%04X", obc2, obc1);
  LOGV("OBC1:      0x%02X  ", obc1);
  LOGV("OBC2:      0x%02X ", obc2);
  LOGV("subaddr2:  0x%02X  ", subaddr2);
  LOGV("oem:       0x%02X ", oem);
  LOGV("sancode    0x%02X  ", p->scancode);
  LOGV("toggle:    0x%02X  ", toggle);
  LOGV("XMP-1     Device: 0x%02X   SubDevice: 0x%02X   OBC: 0xFFFFFFFFFFFFFFFFFFFFFFFF%04X%04X", device, subaddr,
       obc2, obc1);

  p->protocol = RC_PROTO_XMP;
  p->hash = ir_hash(ir->buf, static_cast<size_t>(n), kHashMaxEdge);
  codara::format_text(p->desc, sizeof p->desc, "%-13s -- Dev: 0x%X OBC: 0x%04X%04X T:%d", "XMP-1", device, obc2, obc1,
           toggle);
  return 0;
}

int xmp_encode(enum rc_proto, uint32_t, ir_packet *) { return -1; }
int xmp_transmit(enum rc_proto, uint32_t, int) { return -1; }

IR_PROTOCOL_HANDLER xmp_handler = {
    {}, uint64_t{1} << RC_PROTO_XMP, ir_xmp_decode, nullptr, xmp_encode, xmp_transmit, 38000, 20000,
};

struct protocol __proto_XMP = {"irprotocol", "XMP", &xmp_handler, {}};

}  // namespace

extern "C" void XMP__irprotocol(void) { _register_protocol_irprotocol(&__proto_XMP); }
