// Generation 1 (firmware 0.x and 1.x): the generation-2 requests without a
// state request: a record or delete reports its result on interrupt endpoint
// 0x83. No delete by index, no re-targeting of consumer usages.
#include <cstdio>
#include <cstdlib>

#include "libzivra/firmware/legacy.h"
#include "liblog/log.h"
#include "zivra/legacy.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_1.0");

namespace {

namespace l = zivra::legacy;
using l::Field;

constexpr unsigned char kResultEndpoint = 0x83;
constexpr int kTimedOut = -7;  // libusb's time-out

int zv_ver1_set_normal() { return l::simple(l::kDeviceIn, 0, 0); }
int zv_ver1_format_config() { return l::simple(l::kDeviceIn, 3, 0, l::kFormatTimeoutMs); }
int zv_fw_ver1_reboot() { return l::simple(l::kEndpointIn, 6, 0); }
int zv_ver1_clear_state() { return l::byte_of(l::kDeviceIn, 6, 1); }
int zv_ver1_set_record(const char *user_input, int wait) { return l::set_record(LOG_SITE, user_input, wait); }
int zv_ver1_delete_buttons(const char *user_input) { return l::delete_buttons(LOG_SITE, user_input); }
int zv_ver1_get_sensitivity() { return l::get_field(Field::Sensitivity); }
int zv_ver1_get_interkey_delay() { return l::get_field(Field::InterkeyDelay); }
int zv_ver1_get_noise_cancel() { return l::get_field(Field::NoiseCancel); }
int zv_ver1_get_sleep_detect() { return l::get_field(Field::SleepDetect); }
int zv_ver1_set_sensitivity(int val) { return l::set_field(LOG_SITE, Field::Sensitivity, val); }
int zv_ver1_set_interkey_delay(int val) { return l::set_field(LOG_SITE, Field::InterkeyDelay, val); }
int zv_ver1_set_noise_cancel(int val) { return l::set_field(LOG_SITE, Field::NoiseCancel, val); }
int zv_ver1_set_sleep_detect(int val) { return l::set_sleep_detect(LOG_SITE, val); }
int zv_ver1_keys_remaining() { return l::keys_remaining(LOG_SITE); }
int zv_ver1_keys_recorded() { return l::keys_recorded(LOG_SITE); }
int zv_ver1_display_config() { return l::display_config(LOG_SITE); }
int zv_ver1_load_config(const char *user_file) { return l::load_config(LOG_SITE, user_file); }

}  // namespace

extern "C" {

int zv_ver1_get_state(void) { return 0; }

int zv_ver1_set_interrupt(int timeout) {
  (void)timeout;  // the dongle answers when the button comes, however long that takes
  LOGD("Setting up Interrupt");
  unsigned char result = 0;
  int transferred = 0;
  int r = zv_set_interrupt_ep(kResultEndpoint, &result, 1, &transferred, 0);
  LOGD("Transferred %d bytes, Result: %X", transferred, result);
  if (r == kTimedOut) {
    zv_set_normal();
    return kTimedOut;
  }
  if (r < 0) return kTimedOut;
  switch (result) {
    case 1:
      LOGE("error: no space on device");
      return -4;
    case 2:
      LOGE("error: button exists");
      return -5;
    case 3:
      LOGE("error: key not found");
      return -6;
    default:
      return result;
  }
}

int zv_ver1_set_record_api(int mode, int modifier, int key, int wait) {
  (void)mode;
  return l::set_record_api(LOG_SITE, modifier, key, wait, false);
}

int zv_ver1_device_set_dfu(void) { return l::restart_into_bootloader(); }

int zv_ver1_save_config(const char *loc) { return l::save_config(LOG_SITE, loc, "File (NULL) is invalid", 300); }

zv_iface_t *zv_fw_ver1_init(void) {
  zv_iface_t *t = l::new_table(LOG_SITE);
  if (t == nullptr) return nullptr;
  t->zv_reboot = zv_fw_ver1_reboot;
  t->zv_set_delete = l::set_delete;
  t->zv_set_record = zv_ver1_set_record;
  t->zv_set_record_api = zv_ver1_set_record_api;
  t->zv_set_normal = zv_ver1_set_normal;
  t->zv_set_interrupt = zv_ver1_set_interrupt;
  t->zv_delete_buttons = zv_ver1_delete_buttons;
  t->zv_set_noise_cancel = zv_ver1_set_noise_cancel;
  t->zv_get_noise_cancel = zv_ver1_get_noise_cancel;
  t->zv_set_sensitivity = zv_ver1_set_sensitivity;
  t->zv_get_sensitivity = zv_ver1_get_sensitivity;
  t->zv_set_interkey_delay = zv_ver1_set_interkey_delay;
  t->zv_get_interkey_delay = zv_ver1_get_interkey_delay;
  t->zv_get_sleep_detect = zv_ver1_get_sleep_detect;
  t->zv_set_sleep_detect = zv_ver1_set_sleep_detect;
  t->zv_get_state = zv_ver1_get_state;
  t->zv_clear_state = zv_ver1_clear_state;
  t->zv_display_config = zv_ver1_display_config;
  t->zv_format_config = zv_ver1_format_config;
  t->zv_save_config = zv_ver1_save_config;
  t->zv_load_config = zv_ver1_load_config;
  t->zv_keys_recorded = zv_ver1_keys_recorded;
  t->zv_keys_remaining = zv_ver1_keys_remaining;
  t->zv_device_set_dfu = zv_ver1_device_set_dfu;
  t->zv_eeprom_peek = l::eeprom_peek;
  t->zv_eeprom_poke = l::eeprom_poke;
  t->zv_fw_scm_hash = l::scm_hash;
  return t;
}

}  // extern "C"
