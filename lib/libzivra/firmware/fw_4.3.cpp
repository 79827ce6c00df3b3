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

namespace zivra::gen4 {

int load_blocks(LogSite site, const char *user_file, uint8_t exch) {
  LOG_AS(site);
  uint8_t *img = nullptr;
  size_t len = 0;
  int rc = load_prepare(site, user_file, &img, &len);
  if (rc < 0) return rc;
  // The block fills what is left of the exchange's payload (the packet less
  // the 12-byte word and status) after the address and count.
  const size_t block = exch - 12u - offsetof(cfg1_write_t, data);
  uint8_t buf[64];
  for (size_t off = 0; off < len; off += block) {
    size_t n = len - off < block ? len - off : block;
    print_progress_bar(static_cast<float>(off + 1), static_cast<float>(len));
    LOGD("addr: %d", static_cast<int>(off));
    LOGD("copy: %d", static_cast<int>(n));
    cfg1_write_t w = {static_cast<uint32_t>(off), static_cast<uint8_t>(n), {}};
    memcpy(w.data, img + off, n);
    memset(buf, 0, sizeof buf);
    memcpy(buf, &w, offsetof(cfg1_write_t, data) + n);
    if (_zv_send_msg("cfg1_write", buf, exch) < 0) {
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

}  // namespace zivra::gen4

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
