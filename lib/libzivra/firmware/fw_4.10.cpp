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
  memcpy(set, &len, 2);
  memcpy(set + 2, &ik, 2);
  set[4] = repeat;
  if (_zv_send_msg("irtranset", set, sizeof set) < 0) return -12;
  int16_t ready;
  memcpy(&ready, set, 2);
  if (ready == 0) {
    LOGI("Transmission in progress");
    return -2;
  }
  uint16_t nbytes = static_cast<uint16_t>(2 * len);
  if (zivra::gen4::send_chunks("irtransraw", reinterpret_cast<const uint8_t *>(buf), nbytes, 64, 52) < 0) {
    LOGE("error sending data, check device log");
    return -1;
  }
  return 0;
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
