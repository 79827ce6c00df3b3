// What the generation-3 bootloader revisions share: the header reads, starting
// the application, and one upload parameterised by what each revision changed.
// Each revision's module holds its table builder, its own names for these
// operations and its description below.
#pragma once
#include <cstddef>
#include <cstdint>

#include "zivra/zivra.h"

namespace zivra::bl3 {

constexpr size_t kHeaderBytes = 256;
constexpr uint32_t kAppHeader = 0x4000;        // application (or stage-2) header
constexpr uint32_t kStage2AppHeader = 0x6C00;  // application behind the stage-2 bootloader

// How a revision checks that an image is meant for the dongle's edition.
enum class Edition {
  None,   // no check
  Fixed,  // against a fixed name
  Sku,    // against the name of the application on the dongle
};

// How the erase step reports itself.
enum class EraseLog {
  Full,          // "erasing flash", "Erase...", one line per group, "Success"
  NoEraseLine,   // the same without "Erase..."
  Quiet,         // "Erase..." and "Success" at level D only
};

struct Rev {
  const char *module;   // log path of the revision's module
  const char *upload;   // the upload's name in log lines
  uint8_t *header;      // the module's header buffer; null when it keeps none
  Edition edition;
  const char *fixed_name;          // Edition::Fixed
  char *(*expected)();             // Edition::Sku
  bool reread_for_table;           // asks `expected` again for the mismatch table
  uint32_t check_addr;             // dongle header whose signature gates the check
  uint32_t required_app_size;      // 0: any
  EraseLog erase_log;
  uint32_t reserved[2];            // bytes beside the bootloader never erased, each
                                   // divided by the page size on its own
  bool second_flash_read;
  uint32_t fixed_page;             // 0: the device's page size
  bool uncrypt;                    // plain version-2 images are announced
  bool clear_boot_flag;
};

// Reads the 64 header words at `base` into `out`; failed words read 0xFFFFFFFF.
void zv_get_header(const char *module, uint8_t *out, uint32_t base);
// The edition name of the application whose header is at `base`, read into
// `header`; null when there is none. Version-1 names are also printed. Logs
// under `func`, the revision's name for the operation.
char *zv_get_sku_bl(const char *module, const char *func, uint8_t *header, uint32_t base);
// "get_log" text into `log`; its length.
int zv_ver4_log(const char *module, char *log);
int upload(const Rev &r, unsigned char *buf, size_t len, void *priv, zv_progress_t p_bar);

// The slots every revision fills alike.
int bootloader_enter_app();
uint32_t bl_scm_hash();
using zv_upload_t = int (*)(unsigned char *buf, size_t len, void *priv, zv_progress_t p_bar);
// A table of a revision: starting the application, the build hash, its upload,
// log and edition name (either may be null); null when it can not be allocated.
zv_iface_t *new_table(const char *module, zv_upload_t upload, int (*log)(char *), char *(*sku)());

}  // namespace zivra::bl3
