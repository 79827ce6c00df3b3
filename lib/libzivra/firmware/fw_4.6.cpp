// Firmware 4.6: recording a toggle button, and switching the auxiliary USB
// interface.
#include <cstdint>
#include <cstring>

#include "liblog/log.h"
#include "zivra/gen4_rev.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_4.6");

namespace {

int _zv_set_record_toggle(int wait) {
  uint8_t buf[32] = {};
  int rc = _zv_send_msg("record_t", buf, sizeof buf);
  if (rc < 0) return rc;
  return wait ? zv_set_interrupt(wait) : 0;
}

int _zv_usb_iface_en(usb_iface_type type, uint8_t en) {
  if (type != USB_IFACE_AUX) return 0;
  uint8_t buf[32] = {};
  const uint32_t selector = 1;  // the auxiliary interface
  memcpy(buf, &selector, sizeof selector);
  buf[4] = en;
  int rc = _zv_send_msg("usb_if", buf, sizeof buf);
  if (rc < 0) {
    LOGE("error enaling interface");
    return rc;
  }
  return 0;
}

}  // namespace

extern "C" zv_iface_t *zv_fw_ver4p6_init(void) {
  zv_iface_t *t = zv_fw_ver4p5_init();
  if (t == nullptr) {
    LOGE("Could not allocate memory");
    return nullptr;
  }
  t->zv_set_record_toggle = _zv_set_record_toggle;
  t->zv_usb_iface_en = _zv_usb_iface_en;
  return t;
}
