// Bootloader generation 2 (bulk USB): programs an image in 128-byte pages, each
// with a CRC-8 the device checks and acknowledges (up to 101 attempts), keeps
// the upgrade-in-progress mark until every page went through, and reads the
// product variant. Also the steps it shares with generation 1.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "libzivra/bootloader/legacy_bl.h"
#include "libzivra/firmware/legacy.h"
#include "liblog/log.h"
#include "zivra/crc.h"
#include "zivra/legacy.h"
#include "zivra/pbar.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/bootloader/bl_2.0");

namespace {

constexpr uint8_t kIn = 0xC2;   // vendor, endpoint recipient, device to host
constexpr uint8_t kOut = 0x42;  // host to device
constexpr unsigned kInfoTimeoutMs = 10000;
constexpr uint32_t kReservedFlash = 2048;  // the bootloader's own part of the flash
constexpr uint32_t kMarkByte = 2;          // bit 7: an upgrade is in progress
constexpr uint8_t kMark = 0x80;
constexpr uint32_t kVariantByte = 3;
constexpr uint32_t kLeaveByte = 4;
constexpr uint8_t kLeaveMark = 0x50;
constexpr int kMaxRetries = 100;

struct __attribute__((packed)) dev_info_bl_v1 {
  uint8_t report_id;
  uint16_t page_size;
  uint32_t flash_size;
};
struct __attribute__((packed)) dev_info {
  uint16_t page_size;
  uint32_t flash_size;
};
struct __attribute__((packed)) packet {
  uint8_t buf[128];
  uint16_t page_index;
  uint8_t crc;
};
struct __attribute__((packed)) packet_res {
  uint32_t page_index;
  uint8_t crc_err;
};
static_assert(sizeof(dev_info_bl_v1) == 7 && sizeof(dev_info) == 6 && sizeof(packet) == 131 &&
              sizeof(packet_res) == 5);

// Retries of the page being sent; 0 at the start of an upload and after each page.
int retry_cnt = 0;

struct Info {
  int got;
  uint16_t page_size;
  uint32_t flash_size;
};

Info read_info(size_t info_len) {
  uint8_t b[10] = {};
  Info i{zivra::legacy::request(kIn, 1, 0, 0, b, sizeof b, kInfoTimeoutMs), 0, 0};
  if (info_len == sizeof(dev_info_bl_v1)) {
    dev_info_bl_v1 d;
    memcpy(&d, b, sizeof d);
    i.page_size = d.page_size;
    i.flash_size = d.flash_size;
  } else {
    dev_info d;
    memcpy(&d, b, sizeof d);
    i.page_size = d.page_size;
    i.flash_size = d.flash_size;
  }
  return i;
}

}  // namespace

namespace zivra::legacy_bl {

int prepare(LogSite site, size_t info_len, size_t len) {
  LOG_AS(site);
  Info i = read_info(info_len);
  LOGD("size of data returned: %d", i.got);
  LOGD("page size: %d", i.page_size);
  LOGD("device size: %d", static_cast<int>(i.flash_size));
  if (i.got != static_cast<int>(info_len)) {
    LOGE("did not receive expected number of bytes");
    i = read_info(info_len);
    LOGD("size of data returned: %d", i.got);
    LOGD("page size: %d", i.page_size);
    LOGD("device size: %d", static_cast<int>(i.flash_size));
    LOGD("received: %d expected: %d", i.got, static_cast<int>(info_len));
    return -1;
  }
  if (i.page_size != kPage) {
    LOGE("page size not correct");
    return -1;
  }
  // A flash smaller than the bootloader's own part has no room at all.
  if (i.flash_size < kReservedFlash || i.flash_size - kReservedFlash < len) {
    LOGE("Not enough size on device");
    return -1;
  }
  if (len % kPage != 0) {
    LOGE("image provided is incorrect size");
    return -1;
  }
  int settings = zv_eeprom_peek(static_cast<int>(kMarkByte));
  if (settings < 0) {
    LOGE("could not read zivra memory");
    return -1;
  }
  LOGI("settings: %02X", settings);
  if (zv_eeprom_poke(kMarkByte, static_cast<uint16_t>(settings | kMark)) < 0) return -1;
  return 0;
}

void page_done(size_t i, size_t n, void *priv, zv_progress_t p_bar) {
  if (p_bar != nullptr) p_bar(static_cast<int>(static_cast<float>(i) / static_cast<float>(n) * 100), priv);
  printf("\r\r");
  fflush(stdout);
  print_progress_bar(static_cast<float>(i), static_cast<float>(n));
}

void all_done(size_t n, void *priv, zv_progress_t p_bar) {
  if (p_bar != nullptr) p_bar(100, priv);
  printf("\r\r");
  fflush(stdout);
  print_progress_bar(static_cast<float>(n), static_cast<float>(n));
  printf("\n");
}

}  // namespace zivra::legacy_bl

namespace zivra {

int zv_ver2_product_type() {
  int v = zv_eeprom_peek(static_cast<int>(kVariantByte));
  if (v < 0) {
    LOGE("Error reading byte");
    return -ZV_LIBUSBERR;
  }
  switch ((v >> 1) & 0x3) {
    case 2:
      LOGD("variant: orbis");
      return 3;
    case 3:
      LOGD("variant: zivra");
      return 2;
    default:
      LOGE("unknown or unsupported variant: %d", v);
      return -1;
  }
}

}  // namespace zivra

namespace {

namespace bl = zivra::legacy_bl;

int zv_bl_ver2_reboot() { return zivra::legacy::simple(kIn, 6, 0); }

int zv_ver2_leave_bootloader() {
  if (zv_eeprom_poke(kLeaveByte, kLeaveMark) < 0) {
    LOGD("could not write memory");
    return -ZV_EUPGRADE_FAILED;
  }
  uint8_t b = 0;
  zivra::legacy::request(kIn, 11, 0, 0, &b, 1);  // the device restarts: its answer says nothing
  return 0;
}

int zv_ver2_last_upgrade_attempt() {
  int v = zv_eeprom_peek(static_cast<int>(kMarkByte));
  if (v < 0) return -1;
  return (v & kMark) != 0 ? 1 : 0;
}

// Sends one page until the device acknowledges it. The device's status tells a
// CRC error; each retry is logged as the nested send it stands for: the
// attempts first, then, innermost first, each level's retry count.
int send_page(packet &p) {
  int levels = 0;     // sends whose step-4 report is still due
  bool innermost_ok;  // the last send was accepted (and reports as well)
  for (;;) {
    int r = zivra::legacy::request(kOut, 9, 0, 0, reinterpret_cast<uint8_t *>(&p), sizeof p, 0);
    uint8_t raw[sizeof(packet_res)] = {};
    bool status_read = zivra::legacy::request(kIn, 10, 0, 0, raw, sizeof raw) == static_cast<int>(sizeof raw);
    packet_res st;
    memcpy(&st, raw, sizeof st);
    if (status_read && st.crc_err != 0) {
      LOGD("Output Dump:");
      for (uint8_t b : raw) LOGD("%02X ", b);
      LOGD("");
    }
    if (status_read && st.crc_err == 0 && r == static_cast<int>(sizeof p)) {
      innermost_ok = true;
      break;
    }
    bool short_send = r != static_cast<int>(sizeof p);
    if (short_send)
      LOGI("%d != %d", static_cast<int>(sizeof p), r);
    else
      LOGI("CRC mismatch");
    if (retry_cnt >= kMaxRetries) {
      LOGE("Page %d Error: ", p.page_index);
      if (short_send)
        LOGE("%d != %d", static_cast<int>(sizeof p), r);
      else
        LOGE("CRC mismatch");
      innermost_ok = false;
      break;
    }
    ++retry_cnt;
    ++levels;
  }
  int result = -1;
  for (int level = innermost_ok ? levels + 1 : levels; level > 0; --level) {
    LOGI("retried this many times: %d", retry_cnt);
    if (retry_cnt == kMaxRetries) {
      LOGE("Page failed");
      result = -1;
    } else {
      retry_cnt = 0;
      result = 0;
    }
  }
  return result;
}

int zv_ver2_upload_fw(unsigned char *buf, size_t len, void *priv, zv_progress_t p_bar) {
  if (buf == nullptr || bl::prepare(LOG_SITE, sizeof(dev_info), len) < 0) {
    LOGE("could not prep device");
    return -ZV_EUPGRADE_FAILED;
  }
  retry_cnt = 0;
  size_t n = len / bl::kPage;
  for (size_t i = 0; i < n; ++i) {
    packet p;
    memcpy(p.buf, buf + i * bl::kPage, bl::kPage);
    p.page_index = static_cast<uint16_t>(i);
    p.crc = crc8_slower(reinterpret_cast<const uint8_t *>(&p), offsetof(packet, crc));
    if (send_page(p) < 0) {
      LOGE("sending packet failed");
      return -ZV_EUPGRADE_FAILED;
    }
    bl::page_done(i, n, priv, p_bar);
  }
  bl::all_done(n, priv, p_bar);
  // Every page went through: the mark goes before the application may start.
  int settings = zv_eeprom_peek(static_cast<int>(kMarkByte));
  bool done = false;
  if (settings >= 0) {
    if (zv_eeprom_poke(kMarkByte, static_cast<uint16_t>(settings & ~kMark)) < 0) {
      LOGE("crc error, wont leave bootloader");
    } else if (zv_ver2_leave_bootloader() >= 0) {
      done = true;
    } else {
      LOGE("could not leave bootloader");
    }
  }
  if (!done) {
    LOGE("could not finish post boot ops");
    return -ZV_EUPGRADE_FAILED;
  }
  return 0;
}

}  // namespace

extern "C" {

// The bootloader answers the application's build-hash request.
uint32_t zv_ver2_bl_scm_hash(void) { return zivra::legacy::scm_hash(); }

zv_iface_t *zv_bl_ver2_init(void) {
  zv_iface_t *t = zivra::legacy::new_table(LOG_SITE);
  if (t == nullptr) return nullptr;
  t->zv_leave_bootloader = zv_ver2_leave_bootloader;
  t->zv_reboot = zv_bl_ver2_reboot;
  t->zv_upload_fw = zv_ver2_upload_fw;
  t->zv_last_upgrade_attempt = zv_ver2_last_upgrade_attempt;
  t->zv_product_type = zivra::zv_ver2_product_type;
  t->zv_eeprom_peek = zivra::legacy::eeprom_peek;
  t->zv_eeprom_poke = zivra::legacy::eeprom_poke;
  return t;
}

}  // extern "C"
