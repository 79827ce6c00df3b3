// The 15-bit frame Sharp and Denon remotes share: 264 us marks, spaces of 792 / 1848
// us, 5 address bits, 8 command bits and 2 bits that tell a frame from its check
// frame (command inverted), least significant first, and a closing mark.
#pragma once
#include <cstdint>

#include "codara/codara.h"
#include "liblog/log.h"

namespace codara::sharp {

struct Family {
  const char *label;  // as the description shows it
  rc_proto protocol;
  uint8_t frame_bits;  // the two closing bits of the first frame of a key press
  uint8_t check_bits;  // those of its check frame
};

// Scancode address << 8 | command; the check frame decodes to the same scancode.
int decode(const Family &f, ir_t *ir, ir_prot *p);
int encode(const Family &f, uint32_t scancode, ir_packet *ir);
// Sends the frame, then its check frame with the repeat count.
int transmit(LogSite site, const Family &f, uint32_t scancode, int rep);

}  // namespace codara::sharp
