// Firmware 3.9: the edition query.
#include "libzivra/firmware/legacy.h"
#include "liblog/log.h"
#include "zivra/legacy.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_3.9");

namespace {

constexpr uint8_t kEditionRequest = 13;

// The names handed out stay the library's.
char sku_standard[] = "zivra";
char sku_xe[] = "zivra-xe";

char *zv_get_sku_3p9() {
  uint8_t b = 0;
  if (zivra::legacy::request(zivra::legacy::kEndpointIn, kEditionRequest, 0, 0, &b, 1) < 0) {
    LOGE("message error");
    return nullptr;
  }
  if (b != 0) {
    LOGD("found zivra sku");
    return sku_standard;
  }
  LOGD("found ostrel edition sku");
  return sku_xe;
}

}  // namespace

extern "C" zv_iface_t *zv_fw_ver3p9_init(void) {
  zv_iface_t *t = zv_fw_ver3p0_init();
  if (t == nullptr) {
    LOGE("Could not allocate memory");
    return nullptr;
  }
  t->zv_get_sku = zv_get_sku_3p9;
  return t;
}
