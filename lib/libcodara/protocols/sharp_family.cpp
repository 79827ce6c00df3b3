// The frame Sharp and Denon remotes share.
#include "libcodara/protocols/sharp_family.h"

#include "libcodara/protocols/frames.h"
#include "libcodara/text.h"
#include "libcodara/timings/sharp.h"
#include "libcodara/util.h"

LOG_MODULE("lib/libcodara/protocols/sharp_family");

namespace codara::sharp {

namespace {

constexpr frames::PulseShape kShape{kMark, kZeroSpace, kOneSpace};
constexpr int kExtraShift = kAddressBits + kCommandBits;

uint64_t frame_value(uint32_t address, uint32_t command, uint32_t extra) {
  return (address & 0x1F) | (command & 0xFF) << kAddressBits | (extra & 3) << kExtraShift;
}

void build(uint64_t value, ir_packet *ir) {
  frames::Builder b{ir->buf, &ir->len};
  b.pulse_bits(value, kFrameBits, kShape);
  b.add(true, kMark);
  b.done();
  ir->elapsed = kGapMs;
}

}  // namespace

int decode(const Family &f, ir_t *ir, ir_prot *p) {
  const int n = ir->count;
  uint64_t v = 0;
  if (n != kFrameEdges || !frames::read_pulse_bits(ir->buf, 0, kFrameBits, kShape, v, p->buf) ||
      !frames::near(ir->buf[n - 1], kMark)) {
    LOGD("not a %s frame: %d edges", f.label, n);
    return -1;
  }
  p->buf[n - 1] = kMark;
  const uint8_t address = v & 0x1F;
  uint8_t command = static_cast<uint8_t>(v >> kAddressBits);
  const uint8_t extra = static_cast<uint8_t>(v >> kExtraShift) & 3;
  const bool check = extra == f.check_bits;
  if (extra != f.frame_bits && !check) {
    LOGD("not a %s frame: closing bits %u", f.label, extra);
    return -1;
  }
  if (check) command = static_cast<uint8_t>(~command);
  frames::finish(p, n, kHashMaxEdge, kGapMs);
  p->fullcode = v;
  p->bits = kFrameBits;
  p->scancode = static_cast<uint32_t>(address) << 8 | command;
  p->protocol = f.protocol;
  format_text(p->desc, sizeof p->desc, "%-13s -- ADDR: 0x%02X CMD: 0x%02X CHECK: %d", f.label, address, command,
              check ? 1 : 0);
  return 0;
}

int encode(const Family &f, uint32_t scancode, ir_packet *ir) {
  build(frame_value(scancode >> 8, scancode, f.frame_bits), ir);
  return 0;
}

int transmit(LogSite site, const Family &f, uint32_t scancode, int rep) {
  LOG_AS(site);
  ir_packet frame{};
  build(frame_value(scancode >> 8, scancode, f.frame_bits), &frame);
  if (!send_until_accepted(frame.buf, frame.len, kGapMs, 1)) {
    LOGE("timeout");
    return -1;
  }
  build(frame_value(scancode >> 8, ~scancode, f.check_bits), &frame);
  return send_key(site, frame.buf, frame.len, kGapMs, device_repeat(rep));
}

}  // namespace codara::sharp
