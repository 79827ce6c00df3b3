// Firmware 4.4: recording a button as a long press or as a macro step, and
// numeric recording with a mode.
#include <cstdint>
#include <cstring>

#include "liblog/log.h"
#include "libzivra/firmware/gen4_rev.h"
#include "zivra/gen4_rev.h"
#include "zivra/translate.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_4.4");

namespace {

using namespace zivra::gen4;

int zv_ver4_set_record_api(int mode, int modifier, int key, int wait) {
  uint8_t rid = record_report_id(key);
  uint8_t mod = static_cast<uint8_t>(modifier), k = static_cast<uint8_t>(key);
  LOGD("r_id: %d", rid);
  LOGD("mod: %d", mod);
  LOGD("key: %d", k);
  const char *cmd = record_command(mode);
  if (cmd != nullptr && send_record(cmd, rid, mod, k) < 0) {
    LOGE("command error");
    return -1;
  }
  return wait ? zv_set_interrupt(wait) : 0;
}

}  // namespace

extern "C" {

int zv_ver4_set_record_lp(const char *user_input, int wait) {
  return record_named(LOG_SITE, "record_lp", user_input, wait);
}

int zv_ver4_set_record_macro(const char *user_input, int wait) {
  return record_named(LOG_SITE, "record_m", user_input, wait);
}

zv_iface_t *zv_fw_ver4p4_init(void) {
  zv_iface_t *t = zv_fw_ver4p3_init();
  if (t == nullptr) {
    LOGE("Could not allocate memory");
    return nullptr;
  }
  t->zv_set_record_lp = zv_ver4_set_record_lp;
  t->zv_set_record_api = zv_ver4_set_record_api;
  t->zv_set_record_macro = zv_ver4_set_record_macro;
  return t;
}

}  // extern "C"
