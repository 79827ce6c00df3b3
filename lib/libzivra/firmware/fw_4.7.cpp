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
  zivra::gen4::fill_tran_set(set, len, ik, repeat);
  return zivra::gen4::upload_raw(LOG_SITE, set, sizeof set, buf, len, false);
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
