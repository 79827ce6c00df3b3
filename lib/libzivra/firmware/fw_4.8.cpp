// Firmware 4.8: stopping a transmission, the wake settings and the wake signal.
#include <cstdint>
#include <cstring>

#include "liblog/log.h"
#include "libzivra/firmware/gen4_rev.h"
#include "zivra/gen4_rev.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_4.8");

namespace {

// The upload counts its bytes in 8 bits: 127 durations are the most it can say.
constexpr uint8_t kMaxWakeDurations = 127;

int _zv_transmit_kill() {
  uint8_t buf[64] = {};
  return _zv_send_msg("irtranskil", buf, sizeof buf) < 0 ? -12 : 0;
}

using zivra::gen4::rb_settings_t;

int _zv_rb_settings_get(uint32_t *wake_en, uint8_t *high_add, uint8_t *low_add) {
  uint8_t buf[64] = {};
  if (_zv_send_msg("rbget", buf, sizeof buf) < 0) return -12;
  rb_settings_t s;
  memcpy(&s, buf, sizeof s);
  if (wake_en != nullptr) *wake_en = s.enable;
  if (high_add != nullptr) *high_add = s.high_add;
  if (low_add != nullptr) *low_add = s.low_add;
  return 0;
}

int _zv_rb_settings_set(uint32_t wake_en, uint8_t high_add, uint8_t low_add) {
  uint8_t buf[64] = {};
  const rb_settings_t s = {wake_en, 0, 0, 0, high_add, low_add};
  memcpy(buf, &s, sizeof s);
  return _zv_send_msg("rbset", buf, sizeof buf) < 0 ? -12 : 0;
}

int _zv_rb_wake_sig(uint16_t *buf, uint8_t len) {
  if (len > kMaxWakeDurations) {
    LOGE("wake signal too long: %d durations > %d", len, kMaxWakeDurations);
    return -1;
  }
  if (buf == nullptr && len > 0) {
    LOGE("invalid pointer to buffer");
    return -1;
  }
  uint8_t set[64] = {};
  const uint16_t count = len;
  memcpy(set, &count, 2);
  if (_zv_send_msg("rbsetlen", set, sizeof set) < 0) return -12;
  uint8_t nbytes = static_cast<uint8_t>(2 * len);
  if (zivra::gen4::send_chunks("rbwakesig", reinterpret_cast<const uint8_t *>(buf), nbytes, 64, 52) < 0) {
    LOGE("error sending data, ceck device log");
    return -1;
  }
  return 0;
}

}  // namespace

extern "C" zv_iface_t *zv_fw_ver4p8_init(void) {
  zv_iface_t *t = zv_fw_ver4p7_init();
  if (t == nullptr) {
    LOGE("Could not allocate memory");
    return nullptr;
  }
  t->zv_rb_settings_set = _zv_rb_settings_set;
  t->zv_rb_settings_get = _zv_rb_settings_get;
  t->zv_transmit_kill = _zv_transmit_kill;
  t->zv_rb_wake_sig = _zv_rb_wake_sig;
  return t;
}
