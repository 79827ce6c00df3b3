// Bootloader 3.1: installs the stage-2 bootloader. Images must be that exact
// edition and size; the erase leaves the 8 KiB configuration area alone.
#include "libzivra/bootloader/bl3.h"
#include "liblog/log.h"
#include "zivra/bootloader.h"

LOG_MODULE("lib/libzivra/bootloader/bl_3.1");

namespace {

using namespace zivra::bl3;

uint8_t header[kHeaderBytes];

char *zv_get_sku_bl() { return zivra::bl3::zv_get_sku_bl(kLogModule, __func__, header, kAppHeader); }

int zv_ver4_log(char *log) { return zivra::bl3::zv_ver4_log(kLogModule, log); }

const Rev kRev3p1 = {
    .module = kLogModule,
    .upload = "zv_ver_upload_fw",
    .header = header,
    .edition = Edition::Fixed,
    .fixed_name = "Stage2 1.0 [null]",
    .expected = nullptr,
    .reread_for_table = false,
    .check_addr = kAppHeader,
    .required_app_size = 0x2B00,
    .erase_log = EraseLog::Full,
    .reserved = {0x2000, 0},
    .second_flash_read = true,
    .fixed_page = 0,
    .uncrypt = true,
    .clear_boot_flag = false,
};

int zv_ver_upload_fw(unsigned char *buf, size_t len, void *priv, zv_progress_t p_bar) {
  return upload(kRev3p1, buf, len, priv, p_bar);
}

}  // namespace

extern "C" zv_iface_t *zv_bl_ver3p1_init(void) { return new_table(kLogModule, zv_ver_upload_fw, zv_ver4_log, zv_get_sku_bl); }
