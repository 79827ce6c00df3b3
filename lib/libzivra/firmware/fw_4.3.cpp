// Firmware 4.3: configuration loading in 15-byte blocks ("cfg1_write").
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "liblog/log.h"
#include "libzivra/firmware/gen4_rev.h"
#include "zivra/gen4_rev.h"
#include "zivra/pbar.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_4.3");

namespace {

int zv_ver4p3_load_config(const char *user_file) { return zivra::gen4::load_blocks(LOG_SITE, user_file, 32); }

}  // namespace

extern "C" zv_iface_t *zv_fw_ver4p3_init(void) {
  zv_iface_t *t = zv_fw_ver4p2_init();
  if (t == nullptr) {
    LOGE("Could not allocate memory");
    return nullptr;
  }
  t->zv_load_config = zv_ver4p3_load_config;
  return t;
}
