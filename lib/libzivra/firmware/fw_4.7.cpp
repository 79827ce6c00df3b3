// Firmware 4.7: raw IR transmit over 64-byte exchanges with a pause and a
// repeat count.
#include <cstdint>
#include <cstring>

#include "liblog/log.h"
#include "libzivra/firmware/gen4_rev.h"
#include "zivra/gen4_rev.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_4.7");

namespace {

int _zv_transmit_raw(uint16_t *buf, uint16_t len, uint16_t ik, uint8_t repeat) {
  uint8_t set[64] = {};
  // ir_tran_set_t: len (int16), ik (uint16), repeat (uint8).
  memcpy(set, &len, 2);
  memcpy(set + 2, &ik, 2);
  set[4] = repeat;
  if (_zv_send_msg("irtranset", set, sizeof set) < 0) return -12;
  uint16_t nbytes = static_cast<uint16_t>(2 * len);
  if (zivra::gen4::send_chunks("irtransraw", reinterpret_cast<const uint8_t *>(buf), nbytes, 64, 52) < 0) {
    LOGE("error sending data, check device log");
    return -1;
  }
  return 0;
}

}  // namespace

extern "C" zv_iface_t *zv_fw_ver4p7_init(void) {
  zv_iface_t *t = zv_fw_ver4p6_init();
  if (t == nullptr) {
    LOGE("Could not allocate memory");
    return nullptr;
  }
  t->zv_transmit_raw = _zv_transmit_raw;
  return t;
}
