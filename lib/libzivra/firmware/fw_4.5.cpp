// Firmware 4.5: configuration transfer over 64-byte exchanges, the wider log,
// the last hash seen and the build strings.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "liblog/log.h"
#include "libzivra/firmware/gen4_rev.h"
#include "zivra/gen4_rev.h"
#include "zivra/pbar.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_4.5");

namespace {

using namespace zivra::gen4;

char zv_build_type[9];
char zv_build_branch[13];
char zv_build_dirty[13];

int zv_ver4_log(char *log) {
  if (log == nullptr) return -1;
  uint8_t buf[64] = {};
  if (_zv_send_msg("dmesg_pkv", buf, sizeof buf) < 0) return -1;
  size_t n = strnlen(reinterpret_cast<const char *>(buf), 52);
  memcpy(log, buf, n);
  log[n] = '\0';
  return static_cast<int>(n);
}

int zv_ver_save_config(const char *loc) { return save_config(LOG_SITE, loc, 64); }

int zv_ver_load_config(const char *user_file) { return load_blocks(LOG_SITE, user_file, 64); }

int zv_get_last_hash() {
  uint8_t buf[32] = {};
  if (_zv_send_msg("irhist", buf, sizeof buf) < 0) {
    LOGE("couldn't get previous ir info");
    return -1;
  }
  ir_info_t info;
  memcpy(&info, buf, sizeof info);
  return static_cast<int>(info.last_hash);
}

// Both strings are refreshed whichever one was asked for.
bool read_versionx() {
  uint8_t buf[64] = {};
  if (_zv_send_msg("versionx", buf, sizeof buf) < 0) return false;
  versionx_t v;
  memcpy(&v, buf, sizeof v);
  memcpy(zv_build_branch, v.branch, sizeof zv_build_branch);
  zv_build_branch[sizeof zv_build_branch - 1] = '\0';
  memcpy(zv_build_dirty, v.dirty, sizeof zv_build_dirty);
  zv_build_dirty[sizeof zv_build_dirty - 1] = '\0';
  return true;
}

char *_zv_fw_branch() { return read_versionx() ? zv_build_branch : nullptr; }

char *_zv_fw_dirty() { return read_versionx() ? zv_build_dirty : nullptr; }

char *_zv_fw_config() {
  uint8_t buf[32] = {};
  if (_zv_send_msg("getversion", buf, sizeof buf) < 0) return nullptr;
  // version_t: major, minor, patch (uint16 each), scm_hash (uint32), type.
  memcpy(zv_build_type, buf + 10, sizeof zv_build_type);
  zv_build_type[sizeof zv_build_type - 1] = '\0';
  return zv_build_type;
}

}  // namespace

extern "C" zv_iface_t *zv_fw_ver4p5_init(void) {
  zv_iface_t *t = zv_fw_ver4p4_init();
  if (t == nullptr) {
    LOGE("Could not allocate memory");
    return nullptr;
  }
  t->zv_log = zv_ver4_log;
  t->zv_load_config = zv_ver_load_config;
  t->zv_save_config = zv_ver_save_config;
  t->zv_last_hash = zv_get_last_hash;
  t->zv_fw_branch = _zv_fw_branch;
  t->zv_fw_config = _zv_fw_config;
  t->zv_fw_dirty = _zv_fw_dirty;
  return t;
}
