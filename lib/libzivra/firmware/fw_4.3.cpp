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

using namespace zivra::gen4;

int zv_ver4p3_load_config(const char *user_file) {
  uint8_t *img = nullptr;
  size_t len = 0;
  int rc = load_prepare(LOG_SITE, user_file, &img, &len);
  if (rc < 0) return rc;
  constexpr size_t kBlock = 15;  // a 32-byte exchange carries 20 payload bytes
  uint8_t buf[32];
  for (size_t off = 0; off < len; off += kBlock) {
    size_t n = len - off < kBlock ? len - off : kBlock;
    print_progress_bar(static_cast<float>(off + 1), static_cast<float>(len));
    LOGD("addr: %d", static_cast<int>(off));
    LOGD("copy: %d", static_cast<int>(n));
    memset(buf, 0, sizeof buf);
    fill_cfg1_write(buf, static_cast<uint32_t>(off), img + off, static_cast<uint8_t>(n));
    if (_zv_send_msg("cfg1_write", buf, sizeof buf) < 0) {
      LOGE("invalid address you idiot");
      LOGE("failure loading config");
      free(img);
      return -1;
    }
  }
  print_progress_bar(static_cast<float>(len), static_cast<float>(len));
  free(img);
  return 0;
}

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
