// Bootloader 3.0: starting the application (shared by every generation-3
// revision), its build hash, and the upload of 64-byte pages with no edition
// check and a quiet erase.
#include <cstring>

#include "libzivra/bootloader/bl3.h"
#include "liblog/log.h"
#include "zivra/bootloader.h"

LOG_MODULE("lib/libzivra/bootloader/bl_3.0");

namespace zivra::bl3 {

int bootloader_enter_app() {
  uint8_t buf[32] = {};
  LOGV("checking application image CRC");
  if (_zv_send_msg("checkapp", buf, sizeof buf) < 0) {
    LOGE("Image CRC mismatched");
    return -1;
  }
  LOGV("sending enterapp command");
  // The dongle restarts on "enterapp": its answer may never come.
  int level = get_loglevel();
  set_loglevel(0);
  memset(buf, 0, sizeof buf);
  _zv_send_msg("enterapp", buf, sizeof buf);
  set_loglevel(level);
  return 0;
}

uint32_t bl_scm_hash() {
  uint8_t buf[32] = {};
  if (_zv_send_msg("getversion", buf, sizeof buf) < 0) return 1;
  version_t v;
  memcpy(&v, buf, sizeof v);
  v.type[sizeof v.type - 1] = '\0';
  // The version line has no line end of its own: the build line completes it.
  _log(5, "[V] %s %s(%d): Version: %d.%d.%d 0x%X ", kLogModule, __func__, __LINE__, v.major_version,
       v.minor_version, v.patch_version, static_cast<unsigned>(v.scm_hash));
  LOGV("BUILD: %s", v.type);
  return v.scm_hash;
}

}  // namespace zivra::bl3

namespace {

using namespace zivra::bl3;

const Rev kRev3p0 = {
    .module = kLogModule,
    .upload = "zv_upload_fw",
    .header = nullptr,
    .edition = Edition::None,
    .fixed_name = nullptr,
    .expected = nullptr,
    .reread_for_table = false,
    .check_addr = kAppHeader,
    .required_app_size = 0,
    .erase_log = EraseLog::Quiet,
    .reserved = {0, 0},
    .second_flash_read = false,
    .fixed_page = 64,
    .uncrypt = false,
    .clear_boot_flag = false,
};

}  // namespace

extern "C" {

int zv_upload_fw(unsigned char *buf, size_t len, void *priv, zv_progress_t p_bar) {
  return upload(kRev3p0, buf, len, priv, p_bar);
}

int zv_ver3_leave_bootloader(void) {
  uint8_t buf[32] = {};
  return _zv_send_msg("enterapp", buf, sizeof buf);
}

zv_iface_t *zv_bl_ver3_init(void) { return new_table(kLogModule, zv_upload_fw, nullptr, nullptr); }

}  // extern "C"
