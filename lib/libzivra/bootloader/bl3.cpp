// The generation-3 bootloader's shared work: reading the application header word
// by word, the edition check, erasing, validating and streaming an image. Every
// line is logged under the module of the revision that called.
#include "libzivra/bootloader/bl3.h"

#include <sys/time.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "libzivra/app_header.h"
#include "liblog/log.h"
#include "zivra/app_info.h"
#include "zivra/pbar.h"

namespace zivra::bl3 {
namespace {

constexpr uint32_t kCmdSize = 32;
constexpr uint32_t kPageBuf = 128;
// One data report carries at most this many bytes of a page.
constexpr uint32_t kMaxPage = 64;
// No dongle has a tenth of this; more is a faulty flash description.
constexpr uint32_t kMaxFlashKb = 1024;
constexpr uint8_t kBootFlagOkay = 0x55;

// The module, function and line of each log line: the revision's module, the
// function named here (or the caller's), the line of this file.
#define AS_REV(r, func) LOG_AS((LogSite{(r).module, func, 0}))
#define AS_MODULE(m) LOG_AS((LogSite{m, nullptr, 0}))

void put32(uint8_t *p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

uint32_t get32(const uint8_t *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// One "peek": the word at `addr`, or 0xFFFFFFFF when the dongle refuses it.
uint32_t peek(const char *module, uint32_t addr) {
  AS_MODULE(module);
  uint8_t buf[kCmdSize] = {};
  put32(buf, addr);
  if (_zv_send_msg("peek", buf, sizeof buf) < 0) {
    LOGE("invalid address you idiot");
    return 0xFFFFFFFF;
  }
  return get32(buf);
}

// The manufacturing-test mark of the application at 0x4000: 0 tested.
uint8_t dev_checked(const char *module) {
  uint8_t local[kHeaderBytes];
  memset(local, 0xFF, sizeof local);
  for (uint32_t off = 0; off < kHeaderBytes; off += 4) put32(local + off, peek(module, kAppHeader + off));
  return local[offsetof(app_info_v2_t, tested)];
}

struct FlashDesc {
  uint32_t bootloader_size_kb;
  uint32_t flash_size_kb;
  uint32_t page_size_b;
};

int flash_info(const char *module, FlashDesc *d) {
  AS_MODULE(module);
  uint8_t buf[kCmdSize] = {};
  if (_zv_send_msg("flash_info", buf, sizeof buf) < 0) return -1;
  d->bootloader_size_kb = get32(buf);
  d->flash_size_kb = get32(buf + 4);
  d->page_size_b = get32(buf + 8);
  LOGV("Flash Info:");
  LOGV(" Flash Size %d kB", static_cast<int>(d->flash_size_kb));
  LOGV(" Bootloader Size %d kB", static_cast<int>(d->bootloader_size_kb));
  LOGV(" Page Size %d Bytes", static_cast<int>(d->page_size_b));
  return 0;
}

// A description no page could be programmed with, or whose erase would run away,
// is refused before anything is erased.
int check_flash(const Rev &r, const FlashDesc &d) {
  AS_MODULE(r.module);
  if (d.page_size_b == 0) {
    LOGE("invalid page size: %u", d.page_size_b);
    return -1;
  }
  if (r.fixed_page == 0 && d.page_size_b > kMaxPage) {
    LOGE("page size %u does not fit one data packet of %u bytes", d.page_size_b, kMaxPage);
    return -1;
  }
  if (d.flash_size_kb > kMaxFlashKb) {
    LOGE("invalid flash size: %u kB", d.flash_size_kb);
    return -1;
  }
  return 0;
}

// Pages of the application area: the flash less the bootloader and the reserved
// areas, each quotient taken on its own; an area larger than the flash is empty.
int64_t app_pages(const Rev &r, const FlashDesc &d) {
  int64_t p = d.page_size_b;
  int64_t pages = static_cast<int64_t>(d.flash_size_kb) * 1024 / p;
  for (uint32_t res : r.reserved) pages -= res / p;
  pages -= static_cast<int64_t>(d.bootloader_size_kb) * 1024 / p;
  return pages < 0 ? 0 : pages;
}

// The image's alignment, signature and header version: checked before the flash
// is erased, so a bad file never costs the dongle its application.
int valid_image(const Rev &r, const unsigned char *buf, size_t len, uint32_t page) {
  AS_REV(r, r.upload);
  if (len % page != 0) {
    if (r.fixed_page != 0)
      LOGD("Pages must be aligned to 64 byte boundaries");
    else
      LOGD("Pages must be aligned to %d byte boundaries", static_cast<int>(page));
    LOGE("Invalid binary image");
    LOGE("Image: %zu", len);
    return -1;
  }
  if (get32(buf + offsetof(app_info_v1_t, signature)) != ZV_APP_SIGNATURE) {
    LOGE("not a valid image");
    return -1;
  }
  uint32_t version = get32(buf + offsetof(app_info_v1_t, header_version));
  if (version != 1 && version != 2) {
    LOGE("unsupported image");
    return -1;
  }
  if (version == 2 && len < sizeof(app_info_v2_t)) {
    LOGE("image of %zu bytes is too short for its header", len);
    return -1;
  }
  return 0;
}

// Reads the flash description and erases the application area, once the image
// is known to fit it. *page is the page the image is cut into.
int erase_flash(const Rev &r, const unsigned char *buf, size_t len, uint32_t *page) {
  AS_MODULE(r.module);
  if (r.erase_log != EraseLog::Quiet) LOGI("erasing flash");
  FlashDesc d{};
  if (flash_info(r.module, &d) < 0) {
    LOGE("could not get flash information");
    LOGE("could not erase device");
    return -1;
  }
  if (check_flash(r, d) < 0) return -1;
  *page = r.fixed_page != 0 ? r.fixed_page : d.page_size_b;
  if (valid_image(r, buf, len, *page) < 0) return -1;
  int64_t pages = app_pages(r, d);
  bool quiet = r.erase_log == EraseLog::Quiet;
  if (r.erase_log == EraseLog::Full)
    _log(3, "[I] %s %s(%d): Erase...", kLogModule, __func__, __LINE__);
  else if (quiet)
    _log(4, "[D] %s %s(%d): Erase...", kLogModule, __func__, __LINE__);
  for (int64_t i = 0; i < pages; i += 4) {
    if (!quiet) LOGI("Erasing Page: %d", static_cast<int>(i));
    uint8_t buf[kCmdSize] = {};
    put32(buf, static_cast<uint32_t>(i));
    if (_zv_send_msg("erasesec", buf, sizeof buf) < 0) {
      LOGE("erase sector failed");
      LOGE("could not erase device");
      return -1;
    }
  }
  if (quiet)
    _log(4, "[D] %s %s(%d): Success", kLogModule, __func__, __LINE__);
  else
    _log(3, "[I] %s %s(%d): Success", kLogModule, __func__, __LINE__);
  return 0;
}

// The edition check: an image for another edition is refused before anything is
// erased. A dongle without a readable header, or whose header names no edition,
// takes any image.
int valid_dev_image(const Rev &r, const unsigned char *buf) {
  AS_MODULE(r.module);
  if (r.edition == Edition::None) return 0;
  zv_get_header(r.module, r.header, r.check_addr);
  if (get32(r.header) != ZV_APP_SIGNATURE) {
    LOGE("not a valid image on device");
    return 0;
  }
  const char *want = r.fixed_name;
  if (r.edition == Edition::Sku) {
    want = r.expected();
    if (want == nullptr) {
      LOGW("no edition name on device, edition not checked");
      return 0;
    }
  }
  char name[ZV_APP_NAME_SIZE + 1];
  memcpy(name, buf + offsetof(app_info_v1_t, app_name), ZV_APP_NAME_SIZE);
  name[ZV_APP_NAME_SIZE] = '\0';
  if (strcmp(name, want) == 0) return 0;
  LOGE("invalid image, incorrect sku");
  LOGE("File                 Device");
  LOGE("----                 ------");
  if (r.reread_for_table) want = r.expected();
  LOGE("%-20s %s", name, want != nullptr ? want : "");
  return -1;
}

void print_common(const char *module, const char *func, const app_info_v1_t &h, uint32_t build_timestamp) {
  LOG_AS((LogSite{module, func, 0}));
  char date[255];
  epoch_to_date(build_timestamp, date, sizeof date);
  LOGI("Project: %.30s", h.app_name);
  LOGI("Project Build: %.10s", h.app_type);
  LOGI("Compiled: %s on %.10s %.10s", date, h.build_machine, h.build_arch);
  LOGI("Header Version: %d", static_cast<int>(h.header_version));
  LOGI("Application CRC: 0x%X", h.app_crc);
  LOGI("Application Size: 0x%X", h.app_size);
  LOGI("Application Version: %d.%d.%d ::0x%x:: (%.10s)", h.app_major_version, h.app_minor_version,
       h.app_patch_version, h.app_scm_hash, h.build_branch);
}

void print_info_v1(const char *module, const app_info_v1_t &h) {
  print_common(module, __func__, h, h.build_timestamp);
}

void print_info_v2(const char *module, const app_info_v2_t &h) {
  AS_MODULE(module);
  app_info_v1_t common;
  memcpy(&common, &h, offsetof(app_info_v1_t, build_timestamp));
  print_common(module, __func__, common, h.build_timestamp);
  LOGI("Application Flag: %s", h.boot_flag == kBootFlagOkay ? "Okay" : "Hold");
  LOGI("Application Encrypted: %s", h.encrypted != 0 ? "True" : "False");
  LOGI("Tested in Manufacturing: %s", h.tested == 0 ? "True" : "False");
}

uint32_t now_s() {
  struct timeval tv;
  gettimeofday(&tv, nullptr);
  return static_cast<uint32_t>(tv.tv_sec);
}

// Writes the fields the upload owns into the caller's image and announces it.
void stamp_image(const Rev &r, unsigned char *buf, uint8_t tested) {
  AS_REV(r, r.upload);
  if (get32(buf + offsetof(app_info_v1_t, header_version)) == 1) {
    app_info_v1_t h;
    memcpy(&h, buf, sizeof h);
    h.update_timestamp = now_s();
    memcpy(buf, &h, sizeof h);
    print_info_v1(r.module, h);
    return;
  }
  app_info_v2_t h;
  memcpy(&h, buf, sizeof h);
  h.update_timestamp = now_s();
  h.tested = tested;
  if (r.uncrypt && h.encrypted == 0) {
    LOGI("disabling encryption");
    uint8_t cmd[kCmdSize] = {};
    _zv_send_msg("uncrypt", cmd, sizeof cmd);
  }
  if (r.clear_boot_flag) h.boot_flag = 0;
  memcpy(buf, &h, sizeof h);
  print_info_v2(r.module, h);
}

void progress(int pos, int end, void *priv, zv_progress_t p_bar) {
  if (p_bar != nullptr) p_bar(static_cast<int>(static_cast<float>(pos) / static_cast<float>(end) * 100.0f), priv);
  fputs("\r\r", stdout);
  fflush(stdout);
  print_progress_bar(static_cast<float>(pos), static_cast<float>(end));
}

// Streams the pages; the count of pages the dongle accepted.
int send_pages(const Rev &r, const unsigned char *buf, size_t len, uint32_t page, void *priv,
               zv_progress_t p_bar) {
  AS_REV(r, r.upload);
  int total = static_cast<int>(len / page);
  int count = 0;
  LOGV("Sending image");
  for (size_t off = 0; off < len; off += page) {
    uint8_t data[kPageBuf] = {};
    memcpy(data, buf + off, page);
    int rc = _zv_send_data(data, page);
    if (rc < 0) {
      LOGE("%s error", "bootloader_page_write");
      break;
    }
    if (rc != 0) break;
    progress(count, total, priv, p_bar);
    ++count;
    _log(5, "[V] %s %s(%d): \rPages sent: %d/%d       ", kLogModule, kLogFunc, __LINE__, count, total);
    fflush(stdout);
  }
  // The last call reports the share of the image sent: 100 for all of it.
  if (p_bar != nullptr) p_bar(static_cast<int>(static_cast<int64_t>(count) * 100 / total), priv);
  fputs("\r\r", stdout);
  fflush(stdout);
  print_progress_bar(static_cast<float>(count), static_cast<float>(total));
  fputs("\n", stdout);
  return count;
}

}  // namespace

void zv_get_header(const char *module, uint8_t *out, uint32_t base) {
  for (uint32_t off = 0; off < kHeaderBytes; off += 4) put32(out + off, peek(module, base + off));
}

char *zv_get_sku_bl(const char *module, const char *func, uint8_t *header, uint32_t base) {
  LOG_AS((LogSite{module, func, 0}));
  zv_get_header(module, header, base);
  if (get32(header) != ZV_APP_SIGNATURE) {
    LOGE("not a valid image");
    return nullptr;
  }
  return edition_name(header);
}

int zv_ver4_log(const char *module, char *log) {
  AS_MODULE(module);
  if (log == nullptr) {
    LOGE("invalid pointer to buffer");
    return -1;
  }
  uint8_t buf[kCmdSize] = {};
  _zv_send_msg("get_log", buf, sizeof buf);
  // The reply need not be terminated: the text ends inside the reply.
  size_t n = strnlen(reinterpret_cast<char *>(buf), kCmdSize - 1);
  memcpy(log, buf, n);
  log[n] = '\0';
  return static_cast<int>(n);
}

zv_iface_t *new_table(const char *module, zv_upload_t upload, int (*log)(char *), char *(*sku)()) {
  AS_MODULE(module);
  zv_iface_t *t = static_cast<zv_iface_t *>(calloc(1, sizeof(zv_iface_t)));
  if (t == nullptr) {
    LOGE("Could not allocate memory");
    return nullptr;
  }
  t->zv_leave_bootloader = bootloader_enter_app;
  t->zv_fw_scm_hash = bl_scm_hash;
  t->zv_upload_fw = upload;
  t->zv_log = log;
  t->zv_get_sku = sku;
  return t;
}

int upload(const Rev &r, unsigned char *buf, size_t len, void *priv, zv_progress_t p_bar) {
  AS_REV(r, r.upload);
  // Nothing of the image is read before it is known to hold a header.
  if (buf == nullptr || len < sizeof(app_info_v1_t)) {
    LOGE("image of %zu bytes is too short for a firmware header", buf == nullptr ? 0 : len);
    return -1;
  }
  if (valid_dev_image(r, buf) < 0) return -1;
  if (r.required_app_size != 0 && get32(buf + offsetof(app_info_v1_t, app_size)) != r.required_app_size) {
    LOGE("looks like you have the wrong image budday");
    LOGE("header size != 0x2B00");
    return -1;
  }
  uint8_t tested = dev_checked(r.module);
  LOGI("device check flag: %d", tested);

  uint32_t page = 0;
  if (erase_flash(r, buf, len, &page) < 0) return -1;

  if (r.second_flash_read) {
    FlashDesc d{};
    if (flash_info(r.module, &d) < 0) {
      LOGE("could not get flash information");
      return -1;
    }
    // The pages are cut by this description: it must still fit the image.
    if (check_flash(r, d) < 0) return -1;
    page = r.fixed_page != 0 ? r.fixed_page : d.page_size_b;
    if (valid_image(r, buf, len, page) < 0) return -1;
  }
  stamp_image(r, buf, tested);

  uint32_t num_pages = static_cast<uint32_t>(len / page);
  uint8_t cmd[kCmdSize] = {};
  put32(cmd, 0);
  put32(cmd + 4, num_pages);
  if (_zv_send_msg("program", cmd, sizeof cmd) != 0) {
    LOGE("could not enable programming mode");
    return -1;
  }
  int count = send_pages(r, buf, len, page, priv, p_bar);
  if (count != static_cast<int>(num_pages)) {
    LOGE("Could not upload entire image");
    return -1;
  }
  if (bootloader_enter_app() < 0) {
    LOGE("failed to enter app");
    return -1;
  }
  return 0;
}

}  // namespace zivra::bl3
