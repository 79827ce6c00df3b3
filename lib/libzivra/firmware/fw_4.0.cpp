// Generation-4 base revision 4.0: named string commands for device state,
// recording and deleting buttons, settings bytes, ROM tables, debug pipes, the log
// and the edition name, and the builder of the revision-4.0 table.
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "libzivra/app_header.h"
#include "libzivra/firmware/gen4_rev.h"
#include "liblog/log.h"
#include "zivra/app_info.h"
#include "zivra/config.h"
#include "zivra/gen4_rev.h"
#include "zivra/pbar.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_4.0");

namespace {

constexpr uint32_t kCmdSize = 32;
constexpr uint32_t kSettingsAddr = 16;
constexpr uint32_t kSettingsSize = sizeof(settings_t);
constexpr uint32_t kRomTables = 6;
constexpr uint32_t kMaxPipe = 32;

// The running image's header after zv_get_sku_gen4; the SKU points into it.
uint8_t header[256];

void put32(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

uint32_t get32(const uint8_t *p) {
  return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

// A command with no payload whose reply carries nothing we use.
int send_plain(const char *cmd) {
  uint8_t buf[kCmdSize] = {};
  return _zv_send_msg(cmd, buf, sizeof buf);
}

void log_record(const record_t &r) {
  LOGD("r_id: %d", r.report_id);
  LOGD("mod: %d", r.modifier);
  LOGD("key: %d", r.key);
}

int zv_ver4_set_normal() {
  send_plain("clearstate");
  return 0;
}

int zv_ver4_set_boot_flag() {
  send_plain("bflag");
  return 0;
}

int zv_ver4_set_record_api(int mode, int modifier, int key, int wait) {
  record_t r;
  r.report_id = zivra::gen4::record_report_id(key);
  r.modifier = static_cast<uint8_t>(modifier);
  r.key = static_cast<uint8_t>(key);
  log_record(r);
  if (mode != 0) {
    LOGE("unknown mode: %d", mode);
    return -1;
  }
  if (zivra::gen4::send_record("record", r.report_id, r.modifier, r.key) < 0) {
    LOGE("command error");
    return -1;
  }
  return zivra::gen4::finish_record(wait);
}

int _zv_record_api_new(int report_id, int modifier, int key, int wait) {
  record_t r;
  r.report_id = static_cast<uint8_t>(report_id);
  r.modifier = static_cast<uint8_t>(modifier);
  r.key = static_cast<uint8_t>(key);
  log_record(r);
  if (zivra::gen4::send_record("record", r.report_id, r.modifier, r.key) < 0) {
    LOGE("command error");
    return -1;
  }
  return zivra::gen4::finish_record(wait);
}

uint32_t zv_ver4_scm_hash() {
  uint8_t buf[kCmdSize] = {};
  if (_zv_send_msg("getversion", buf, sizeof buf) < 0) return 1;
  version_t v;
  memcpy(&v, buf, sizeof v);
  v.type[sizeof v.type - 1] = '\0';
  // The version line carries no line end of its own: the build line completes it.
  _log(5, "[V] %s %s(%d): Version: %d.%d.%d 0x%X ", kLogModule, __func__, __LINE__,
       v.major_version, v.minor_version, v.patch_version, static_cast<unsigned>(v.scm_hash));
  _log(5, "[V] %s %s(%d): BUILD: %s\n", kLogModule, __func__, __LINE__, v.type);
  return v.scm_hash;
}

char *zv_get_sku_gen4() {
  for (uint32_t addr = 0; addr < sizeof header; addr += 4) {
    uint8_t buf[kCmdSize] = {};
    put32(buf, addr);
    uint32_t word = 0xFFFFFFFF;
    if (_zv_send_msg("h_peek", buf, sizeof buf) < 0) {
      LOGE("invalid address you idiot");
    } else {
      word = get32(buf + offsetof(peek_t, data));
      LOGV("header value: %d : %d", addr, static_cast<int>(word));
    }
    put32(header + addr, word);
  }
  if (reinterpret_cast<app_info_v1_t *>(header)->signature != ZV_APP_SIGNATURE) {
    puts("not a valid image");
    return nullptr;
  }
  return zivra::edition_name(header);
}

int zv_ver4_log(char *log) {
  if (log == nullptr) return -1;
  uint8_t buf[kCmdSize] = {};
  _zv_send_msg("dmesg_pkv", buf, sizeof buf);
  // The reply payload is 20 bytes followed by zeros, so the text ends in the buffer.
  size_t n = strnlen(reinterpret_cast<char *>(buf), kCmdSize - 12);
  memcpy(log, buf, n);
  log[n] = '\0';
  return static_cast<int>(n);
}

int zv_ver4_eeprom_peek(uint32_t addr) {
  uint8_t buf[kCmdSize] = {};
  put32(buf, addr);
  if (_zv_send_msg("cfg1_peek", buf, sizeof buf) < 0) {
    LOGE("invalid address you idiot");
    return -1;
  }
  return buf[0];
}

int cfg1_poke(uint32_t addr, uint32_t data) {
  uint8_t buf[kCmdSize] = {};
  put32(buf + offsetof(poke_t, addr), addr);
  put32(buf + offsetof(poke_t, data), data);
  return _zv_send_msg("cfg1_poke", buf, sizeof buf);
}

int zv_ver4_eeprom_poke(uint32_t addr, uint32_t data) {
  if (cfg1_poke(addr, data) < 0) {
    LOGE("can't write to address");
    return -1;
  }
  return 0;
}

// The 12-byte settings block; the caller frees *config.
int get_settings(uint8_t **config) {
  LOGV("config length: %d", kSettingsSize);
  uint8_t *block = static_cast<uint8_t *>(malloc(kSettingsSize + 1));
  if (block == nullptr) {
    LOGE("could not allocate memory");
    return -ZV_ENOMEM;
  }
  memset(block, 0xFF, kSettingsSize + 1);
  LOGV("addr: %d", kSettingsAddr);
  LOGV("copy: %d", kSettingsSize);
  uint8_t buf[kCmdSize] = {};
  put32(buf + offsetof(cfg1_read_t, addr), kSettingsAddr);
  put32(buf + offsetof(cfg1_read_t, len), kSettingsSize);
  if (_zv_send_msg("cfg1_read", buf, sizeof buf) < 0) {
    LOGE("invalid address: %d", kSettingsAddr);
    free(block);
    return -1;
  }
  memcpy(block, buf, kSettingsSize);
  *config = block;
  return static_cast<int>(kSettingsSize);
}

int zv_get_rom_table_v4(uint32_t table) {
  uint8_t *block = nullptr;
  if (get_settings(&block) < 0) {
    LOGE("couldn't get config");
    return -1;
  }
  uint32_t rom_table = get32(block + offsetof(settings_t, rom_table));
  free(block);
  if (table >= kRomTables) {
    LOGE("invalid or unsupported table: %d", table);
    return -ZV_EINVAL;
  }
  return (rom_table >> table) & 1;
}

int zv_rom_table_enable(uint32_t table, uint8_t en) {
  uint8_t *block = nullptr;
  if (get_settings(&block) < 0) {
    LOGE("couldn't get config");
    return -1;
  }
  if (table >= kRomTables) {
    LOGE("invalid or unsupported table: %d", table);
    free(block);
    return -ZV_EINVAL;
  }
  uint32_t rom_table = get32(block + offsetof(settings_t, rom_table));
  rom_table = (rom_table & ~(1u << table)) | (static_cast<uint32_t>(en & 1) << table);
  put32(block + offsetof(settings_t, rom_table), rom_table);
  for (uint32_t i = 0; i < kSettingsSize; ++i) {
    if (cfg1_poke(kSettingsAddr + i, block[i]) < 0) {
      LOGE("can't write to address");
      free(block);
      return -1;
    }
  }
  free(block);
  // The settings are written, but with a stale CRC the dongle does not trust them.
  return zv_update_crc() < 0 ? -1 : 0;
}

int send_debug_pipe(uint8_t cmd, uint32_t pipe, uint8_t *buf) {
  buf[offsetof(log_pipe, cmd)] = cmd;
  put32(buf + offsetof(log_pipe, pipe), pipe);
  return _zv_send_msg("debug_pipe", buf, kCmdSize);
}

int zv_set_debug_pipe_v4(uint32_t pipe, uint8_t en) {
  if (pipe > kMaxPipe) {
    LOGE("pipe: %d too high > 32", pipe);
    return -1;
  }
  uint8_t buf[kCmdSize] = {};
  if (send_debug_pipe(en != 0 ? 1 : 2, pipe, buf) < 0) return -ZV_EWRONGDEV;
  return 0;
}

int zv_get_debug_pipe_v4(uint32_t pipe) {
  // Revision 4.0 queries without naming the pipe.
  (void)pipe;
  uint8_t buf[kCmdSize] = {};
  if (send_debug_pipe(0, 0, buf) < 0) return -ZV_EWRONGDEV;
  return buf[0];
}

}  // namespace

extern "C" {

int zv_ver4_get_state(void) {
  LOGV("getting state");
  uint8_t buf[kCmdSize] = {};
  if (_zv_send_msg("ir_state", buf, sizeof buf) < 0) return -ZV_EWRONGDEV;
  return buf[0];
}

int zv_ver4_format(void) {
  // Erases every recorded button, so a failed exchange must not pass as done.
  if (send_plain("format") < 0) return -1;
  return 0;
}

int zv_ver4p0_set_dfu(void) {
  LOGD("trying to reset the part");
  // The device drops off the bus on "reset": its reply never comes.
  int level = get_loglevel();
  set_loglevel(0);
  send_plain("bflag_stay");
  send_plain("reset");
  set_loglevel(level);
  return 0;
}

int zv_ver4_set_record(const char *user_input, int wait) {
  return zivra::gen4::record_named(LOG_SITE, "record", user_input, wait);
}

int zv_ver4_set_delete(int wait) {
  send_plain("delete");
  // The caller's wait only decides whether to wait; the limit is the default one.
  return wait != 0 ? zv_set_interrupt(0) : 0;
}

int zv_ver4_set_interrupt(int timeout) { return zivra::gen4::wait_for_press(LOG_SITE, timeout); }

int zv_update_crc(void) {
  if (send_plain("updatecrc") < 0) {
    LOGE("couldn't execute updatecrc command");
    return -1;
  }
  return 0;
}

zv_iface_t *zv_fw_ver4p0_init(void) {
  zv_iface_t *t = static_cast<zv_iface_t *>(calloc(1, sizeof(zv_iface_t)));
  if (t == nullptr) {
    LOGE("Could not allocate memory");
    return nullptr;
  }
  t->zv_set_delete = zv_ver4_set_delete;
  t->zv_set_record = zv_ver4_set_record;
  t->zv_set_record_api = zv_ver4_set_record_api;
  t->zv_set_record_api_new = _zv_record_api_new;
  t->zv_set_normal = zv_ver4_set_normal;
  t->zv_set_interrupt = zv_ver4_set_interrupt;
  t->zv_get_state = zv_ver4_get_state;
  t->zv_clear_state = zv_ver4_set_normal;
  t->zv_display_config = zivra::gen4::zv_ver4_display_config;
  t->zv_save_config = zivra::gen4::zv_ver4_save_config;
  t->zv_load_config = zv_ver4_load_config;
  t->zv_format_config = zv_ver4_format;
  t->zv_device_set_dfu = zv_ver4p0_set_dfu;
  t->zv_set_boot_flag = zv_ver4_set_boot_flag;
  t->zv_eeprom_peek = zv_ver4_eeprom_peek;
  t->zv_eeprom_poke = zv_ver4_eeprom_poke;
  t->zv_log = zv_ver4_log;
  t->zv_get_sku = zv_get_sku_gen4;
  t->zv_enable_rom_table = zv_rom_table_enable;
  t->zv_get_rom_table = zv_get_rom_table_v4;
  t->zv_set_debug_pipe = zv_set_debug_pipe_v4;
  t->zv_get_debug_pipe = zv_get_debug_pipe_v4;
  t->zv_fw_scm_hash = zv_ver4_scm_hash;
  return t;
}

// The byte-wise loader of revisions 4.0 to 4.2: one "cfg1_poke" per image byte.
int zv_ver4_load_config(const char *user_file) {
  uint8_t *img = nullptr;
  size_t len = 0;
  int rc = zivra::gen4::load_prepare(LOG_SITE, user_file, &img, &len);
  if (rc < 0) return rc;
  uint8_t xbuf[32];
  for (size_t i = 0; i < len; ++i) {
    print_progress_bar(static_cast<float>(i + 1), static_cast<float>(len));
    // poke_t: addr (uint32), data (uint32, the byte value).
    memset(xbuf, 0, sizeof xbuf);
    put32(xbuf, static_cast<uint32_t>(i));
    put32(xbuf + 4, img[i]);
    if (_zv_send_msg("cfg1_poke", xbuf, sizeof xbuf) < 0) {
      LOGE("can't write to address");
      free(img);
      return -1;
    }
  }
  free(img);
  return 0;
}

}  // extern "C"
