// Firmware 4.10: raw IR transmit with the pause in milliseconds and a busy
// report while a transmission is still running.
#include <cstdint>
#include <cstring>

#include "liblog/log.h"
#include "libzivra/firmware/gen4_rev.h"
#include "zivra/gen4_rev.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_4.10");

namespace {

int _zv_transmit_raw(uint16_t *buf, uint16_t len, uint16_t ik, uint8_t repeat) {
  if (ik >= 1000) {
    // Callers written for earlier revisions pass microseconds.
    uint16_t ms = static_cast<uint16_t>(ik / 1000);
    LOGI("ik looks to be in us, converting to ms: %d -> %d", ik, ms);
    ik = ms;
  }
  uint8_t set[64] = {};
  zivra::gen4::fill_tran_set(set, len, ik, repeat);
  return zivra::gen4::upload_raw(LOG_SITE, set, sizeof set, buf, len, true);
}

}  // namespace

extern "C" zv_iface_t *zv_fw_ver4p10_init(void) {
  zv_iface_t *t = zv_fw_ver4p9_init();
  if (t == nullptr) {
    LOGE("Could not allocate memory");
    return nullptr;
  }
  t->zv_transmit_raw = _zv_transmit_raw;
  return t;
}
