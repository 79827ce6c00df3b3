// Bootloader generation 1 (bulk USB): programs an image in 128-byte pages
// without acknowledgement and starts it by a request the device does not answer.
// The upgrade mark is never cleared here, so the last attempt always reads 1.
#include <cstdint>
#include <cstring>

#include "libzivra/bootloader/legacy_bl.h"
#include "libzivra/firmware/legacy.h"
#include "liblog/log.h"
#include "zivra/legacy.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/bootloader/bl_1.0");

namespace {

namespace bl = zivra::legacy_bl;

constexpr uint8_t kIn = 0xC2;
constexpr uint8_t kOut = 0x42;
constexpr size_t kInfoSize = 7;  // dev_info_bl_v1: report_id, page_size, flash_size

struct __attribute__((packed)) packet_bl_v1 {
  uint32_t dummy;
  uint8_t buf[128];
};
static_assert(sizeof(packet_bl_v1) == 132);

int zv_bl_ver1_reboot() { return zivra::legacy::simple(kIn, 6, 0); }

int zv_bl_ver1_leave_bootloader() {
  LOGE("invalid command, please upload a new image");
  return -ZV_EWRONGDEV;
}

int zv_bl_ver1_last_upgrade_attempt() { return 1; }

int zv_ver1_upload_fw(unsigned char *buf, size_t len, void *priv, zv_progress_t p_bar) {
  if (buf == nullptr || bl::prepare(LOG_SITE, kInfoSize, len) < 0) {
    LOGE("could not prep device");
    zv_leave_bootloader();
    return -ZV_EUPGRADE_FAILED;
  }
  size_t n = len / bl::kPage;
  for (size_t i = 0; i < n; ++i) {
    // The dummy word means nothing to the device; it goes out zeroed, never as
    // whatever the stack held.
    packet_bl_v1 p{};
    memcpy(p.buf, buf + i * bl::kPage, bl::kPage);
    if (zv_send_msg(kOut, 9, 2, 0, reinterpret_cast<unsigned char *>(&p), sizeof p, 0) < 0) {
      LOGI("error, stopping");
      LOGE("sending packet failed");
      return -ZV_EUPGRADE_FAILED;
    }
    bl::page_done(i, n, priv, p_bar);
  }
  bl::all_done(n, priv, p_bar);
  uint8_t b = 0;
  // The device starts the application without answering: a failure is the success.
  if (zv_send_msg(kIn, 9, 11, 0, &b, 1, 5000) < 0) return 0;
  LOGE("could not leave bootloader");
  LOGE("could not finish post boot ops");
  return -ZV_EUPGRADE_FAILED;
}

}  // namespace

extern "C" zv_iface_t *zv_bl_ver1_init(void) {
  zv_iface_t *t = zivra::legacy::new_table(LOG_SITE);
  if (t == nullptr) return nullptr;
  t->zv_leave_bootloader = zv_bl_ver1_leave_bootloader;
  t->zv_reboot = zv_bl_ver1_reboot;
  t->zv_upload_fw = zv_ver1_upload_fw;
  t->zv_last_upgrade_attempt = zv_bl_ver1_last_upgrade_attempt;
  t->zv_eeprom_peek = zivra::legacy::eeprom_peek;
  t->zv_eeprom_poke = zivra::legacy::eeprom_poke;
  return t;
}
