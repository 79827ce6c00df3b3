// Firmware 2.1: built-in profiles can be switched off (bit 5 of byte 3).
#include "libzivra/firmware/legacy.h"
#include "liblog/log.h"
#include "zivra/legacy.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_2.1");

namespace {

constexpr int kBuiltinProfilesOff = 5;

int zv_ver2p1_get_builtin_profile_support() { return zivra::legacy::get_flag(kBuiltinProfilesOff); }

int zv_ver2p1_set_builtin_profile_support(int val) {
  return zivra::legacy::set_flag(LOG_SITE, kBuiltinProfilesOff, val);
}

}  // namespace

extern "C" zv_iface_t *zv_fw_ver2p1_init(void) {
  zv_iface_t *t = zv_fw_ver2_init();
  if (t == nullptr) {
    LOGE("Could not allocate memory");
    return nullptr;
  }
  t->zv_get_builtin_profile_support = zv_ver2p1_get_builtin_profile_support;
  t->zv_set_builtin_profile_support = zv_ver2p1_set_builtin_profile_support;
  return t;
}
