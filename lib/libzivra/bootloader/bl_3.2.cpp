// Bootloader 3.2, the stage-2 bootloader: the application lives behind it, at
// 0x6C00, and an image must be of the edition already there.
#include "libzivra/bootloader/bl3.h"
#include "liblog/log.h"
#include "zivra/bootloader.h"

LOG_MODULE("lib/libzivra/bootloader/bl_3.2");

namespace {

using namespace zivra::bl3;

uint8_t header[kHeaderBytes];

char *zv_get_sku_bl() { return zivra::bl3::zv_get_sku_bl(kLogModule, __func__, header, kStage2AppHeader); }

int zv_ver4_log(char *log) { return zivra::bl3::zv_ver4_log(kLogModule, log); }

// Through the public call, as a client would ask.
char *expected_edition() { return zv_get_sku(); }

const Rev kRev3p2 = {
    .module = kLogModule,
    .upload = "zv_ver_upload_fw",
    .header = header,
    .edition = Edition::Sku,
    .fixed_name = nullptr,
    .expected = expected_edition,
    .reread_for_table = true,
    .check_addr = kStage2AppHeader,
    .required_app_size = 0,
    .erase_log = EraseLog::NoEraseLine,
    .reserved = {0x2C00, 0x2000},
    .second_flash_read = true,
    .fixed_page = 0,
    .uncrypt = true,
    .clear_boot_flag = false,
};

int zv_ver_upload_fw(unsigned char *buf, size_t len, void *priv, zv_progress_t p_bar) {
  return upload(kRev3p2, buf, len, priv, p_bar);
}

}  // namespace

extern "C" zv_iface_t *zv_bl_ver3p2_init(void) { return new_table(kLogModule, zv_ver_upload_fw, zv_ver4_log, zv_get_sku_bl); }
