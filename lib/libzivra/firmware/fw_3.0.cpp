// Firmware 3.0: sequence modifiers can be switched off (bit 4 of byte 3), and
// the product variant is readable.
#include "libzivra/firmware/legacy.h"
#include "liblog/log.h"
#include "zivra/legacy.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_3.0");

namespace {

constexpr int kSequenceModifiersOff = 4;

int zv_ver3p0_get_sequence_modifiers() { return zivra::legacy::get_flag(kSequenceModifiersOff); }

int zv_ver3p0_set_sequence_modifiers(int val) {
  return zivra::legacy::set_flag(LOG_SITE, kSequenceModifiersOff, val);
}

}  // namespace

extern "C" zv_iface_t *zv_fw_ver3p0_init(void) {
  zv_iface_t *t = zv_fw_ver2p1_init();
  if (t == nullptr) {
    LOGE("Could not allocate memory");
    return nullptr;
  }
  t->zv_set_sequence_modifiers = zv_ver3p0_set_sequence_modifiers;
  t->zv_get_sequence_modifiers = zv_ver3p0_get_sequence_modifiers;
  t->zv_product_type = zivra::zv_ver2_product_type;
  return t;
}
