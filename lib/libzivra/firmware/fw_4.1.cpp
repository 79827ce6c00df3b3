// Firmware 4.1: debug pipes addressed by number, and normalising the per-button
// timing of the stored configuration.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "liblog/log.h"
#include "libzivra/firmware/gen4_rev.h"
#include "zivra/gen4_rev.h"
#include "zivra/pbar.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_4.1");

extern "C" {
ZV_API int nums[100];
ZV_API int hits[100];
}

namespace {

using namespace zivra::gen4;

// Converted records carry this placeholder timing; it says nothing about the
// remote and must not outvote measured values.
constexpr uint32_t kConvertedTe = 130;

// log_pipe request: cmd (uint8), pipe (uint32), _pipe (uint32).
int send_pipe(uint8_t cmd, uint32_t pipe, uint8_t *buf) {
  memset(buf, 0, 32);
  buf[0] = cmd;
  memcpy(buf + 1, &pipe, sizeof pipe);
  return _zv_send_msg("debug_pipe", buf, 32);
}

int zv_set_debug_pipe_v4(uint32_t pipe, uint8_t en) {
  if (pipe > 32) {
    LOGE("pipe: %d too high > 32", static_cast<int>(pipe));
    return -1;
  }
  uint8_t buf[32];
  return send_pipe(en ? 1 : 2, pipe, buf) < 0 ? -12 : 0;
}

int zv_get_debug_pipe_v4(uint32_t pipe) {
  uint8_t buf[32];
  if (send_pipe(0, pipe, buf) < 0) return -12;
  return buf[0];
}

int _zv_normalize_config() {
  uint8_t *img = nullptr;
  int rc = get_config(&img, 32, 0);
  if (rc < 0) {
    LOGE("couldn't get config");
    return -1;
  }
  size_t len = static_cast<size_t>(rc);
  for (int j = 0; j < 100; ++j) {
    nums[j] = -1;
    hits[j] = 0;
  }
  // Only records that lie wholly inside the image read are touched, whatever
  // the header claims.
  size_t count = whole_records(img, len);
  // Entries in use are counted apart from the -1 marker: a te of 0xFFFFFFFF
  // (what normalising an all-converted image writes) is a value like any other.
  int filled = 0;
  for (size_t k = 0; k < count; ++k) {
    uint32_t te = record_word(img, k, kRecordTeOffset);
    LOGD("i: %d", static_cast<int>(te));
    if (te == kConvertedTe) continue;
    int j = 0;
    while (j < filled && nums[j] != static_cast<int>(te)) ++j;
    if (j < filled) {
      ++hits[j];
    } else if (filled < 100) {
      nums[filled] = static_cast<int>(te);
      hits[filled++] = 1;
    }
  }
  int most = 0;
  for (int j = 0; j < filled; ++j)
    if (hits[j] > most) most = hits[j];
  // Ties go to the value seen first; with nothing counted entry 0 (empty, -1)
  // matches the count 0.
  int value = -1;
  for (int j = 0; j < 100; ++j)
    if (hits[j] == most) {
      value = nums[j];
      break;
    }
  for (size_t k = 0; k < count; ++k) set_record_word(img, k, kRecordTeOffset, static_cast<uint32_t>(value));

  bool written = true;
  for (size_t i = 0; i < len; ++i) {
    print_progress_bar(static_cast<float>(i + 1), static_cast<float>(len));
    if (zv_eeprom_poke(static_cast<uint16_t>(i), img[i]) < 0) {
      written = false;
      break;
    }
  }
  // A partial write leaves the stored CRC stale on purpose: the image is mixed
  // and must not look valid. A CRC that could not be updated is a failure too.
  bool sealed = written && zv_update_crc() == 0;
  LOGD("number most common: %d", value);
  free(img);
  return sealed ? 0 : -1;
}

}  // namespace

extern "C" zv_iface_t *zv_fw_ver4p1_init(void) {
  zv_iface_t *t = zv_fw_ver4p0_init();
  if (t == nullptr) {
    LOGE("Could not allocate memory");
    return nullptr;
  }
  t->zv_set_debug_pipe = zv_set_debug_pipe_v4;
  t->zv_get_debug_pipe = zv_get_debug_pipe_v4;
  t->zv_normalize_config = _zv_normalize_config;
  return t;
}
