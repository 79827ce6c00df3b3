// Firmware 2.0: the vendor-request dongle. No command channel: every operation
// is a control request, and the configuration memory (used size, settings in
// bytes 2 and 3, 6-byte records from byte 5) is read and written a byte at a
// time. Generation 1 shares these operations (zivra::legacy) under its own names.
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "libzivra/firmware/gen4_rev.h"
#include "libzivra/firmware/legacy.h"
#include "liblog/log.h"
#include "zivra/file_opts.h"
#include "zivra/legacy.h"
#include "zivra/pbar.h"
#include "zivra/translate.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_2.0");

namespace zivra::legacy {
namespace {

constexpr int kMaxUsed = 1020;   // used bytes the memory holds at most
constexpr int kCorrupt = 1024;   // a used size from here on is garbage
constexpr int kHeader = 5;       // size and settings bytes before the records
constexpr int kRecord = 6;       // hash (4), modifier, key
constexpr uint32_t kSettings = 2, kFlags = 3;
constexpr size_t kMaxKeyName = 255;
constexpr uint16_t kDfuMagic = 90;
constexpr useconds_t kDfuPause = 1000000;
// Consumer usages that have a browser-report key of their own.
struct Retarget {
  int usage;
  int modifier;
};
constexpr Retarget kRetargets[] = {{547, 32}, {548, 128}, {440, 16}};
constexpr int kConsumerKey = 102, kBrowserKey = 104;

struct FieldBits {
  uint32_t address;
  int shift;
  int mask;  // after the shift
};

FieldBits bits_of(Field f) {
  switch (f) {
    case Field::Sensitivity: return {kSettings, 4, 0x3};
    case Field::InterkeyDelay: return {kSettings, 0, 0xF};
    case Field::NoiseCancel: return {kFlags, 6, 0x1};
    case Field::SleepDetect: break;
  }
  return {kFlags, 7, 0x1};
}

void bar(size_t done, size_t total) { print_progress_bar(static_cast<float>(done), static_cast<float>(total)); }

// Reads the first `n` bytes of the memory into a malloc'd buffer: 0, -16 on a
// failed read, -5 when the buffer can not be had.
int read_memory(uint8_t **out, int n, bool progress) {
  uint8_t *buf = static_cast<uint8_t *>(malloc(n > 0 ? static_cast<size_t>(n) : 1));
  if (buf == nullptr) return -ZV_ENOMEM;
  for (int i = 0; i < n; ++i) {
    int b = zv_eeprom_peek(i);
    if (b < 0) {
      free(buf);
      return -ZV_LIBUSBERR;
    }
    buf[i] = static_cast<uint8_t>(b);
    if (progress) bar(static_cast<size_t>(i) + 1, static_cast<size_t>(n));
  }
  *out = buf;
  return 0;
}

// The used size for listing and saving: E "could not determine size" on failure.
int used_size(LogSite site) {
  LOG_AS(site);
  int n = get_size(site.module);
  if (n < 0) LOGE("could not determine size");
  return n;
}

}  // namespace

int request(uint8_t type, uint8_t req, uint16_t value, uint16_t index, uint8_t *reply, uint16_t len,
            unsigned timeout) {
  return zv_send_msg(type, req, value, index, reply, len, timeout);
}

int simple(uint8_t type, uint8_t req, uint16_t value, unsigned timeout) {
  uint8_t b = 0;
  return request(type, req, value, 0, &b, 1, timeout) < 0 ? -ZV_LIBUSBERR : 0;
}

int byte_of(uint8_t type, uint8_t req, uint16_t value) {
  uint8_t b = 0;
  return request(type, req, value, 0, &b, 1) < 0 ? -ZV_LIBUSBERR : b;
}

int eeprom_peek(uint32_t address) { return byte_of(kEndpointIn, 2, static_cast<uint16_t>(address)); }

int eeprom_poke(uint32_t address, uint32_t data) {
  uint8_t b = 0;
  int r = request(kEndpointIn, 3, static_cast<uint16_t>(address), static_cast<uint16_t>(data), &b, 1);
  return r < 0 ? -ZV_LIBUSBERR : 0;
}

uint32_t scm_hash() {
  uint8_t b[8] = {};
  if (request(kEndpointIn, 12, 0, 0, b, sizeof b) < 0) return static_cast<uint32_t>(-ZV_LIBUSBERR);
  return static_cast<uint32_t>(b[0]) | static_cast<uint32_t>(b[1]) << 8 | static_cast<uint32_t>(b[2]) << 16 |
         static_cast<uint32_t>(b[3]) << 24;
}

int set_delete(int wait) {
  if (simple(kDeviceIn, 2, 1) < 0) return -ZV_LIBUSBERR;
  // The caller's wait only decides whether to wait; the limit is the default one.
  return wait != 0 ? zv_set_interrupt(0) : 0;
}

int get_field(Field f) {
  FieldBits b = bits_of(f);
  int v = zv_eeprom_peek(static_cast<int>(b.address));
  if (v < 0) return -ZV_LIBUSBERR;
  return (v >> b.shift) & b.mask;
}

// Replaces the field's bits in its byte, then has the dongle reload its settings.
int write_field(LogSite site, FieldBits b, int val) {
  LOG_AS(site);
  int v = zv_eeprom_peek(static_cast<int>(b.address));
  if (v < 0) return -ZV_LIBUSBERR;
  v = (v & ~(b.mask << b.shift)) | ((val & b.mask) << b.shift);
  int r = zv_eeprom_poke(static_cast<uint16_t>(b.address), static_cast<uint16_t>(v));
  if (r < 0) {
    LOGE("failed to update settings");
    return r;
  }
  return simple(kEndpointIn, 7, 0);
}

int set_field(LogSite site, Field f, int val) {
  LOG_AS(site);
  switch (f) {
    case Field::Sensitivity:
    case Field::NoiseCancel:
      // Noise cancelling takes the sensitivity's range and keeps bit 0.
      if (val < 0 || val > 3) {
        LOGE("invalid sensitivity specified, range[0-3], def 3");
        return -ZV_EINVAL;
      }
      break;
    case Field::InterkeyDelay:
      if (val < 0 || val > 7) {
        LOGE("invalid interkey delay, range[0-7], def 6");
        return -ZV_EINVAL;
      }
      break;
    case Field::SleepDetect:
      return set_sleep_detect(site, val);
  }
  return write_field(site, bits_of(f), val);
}

int set_sleep_detect(LogSite site, int val) {
  LOG_AS(site);
  if (val != 0 && val != 1) {
    LOGE("invalid argument");
    return -ZV_EINVAL;
  }
  int v = zv_eeprom_peek(static_cast<int>(kFlags));
  if (v < 0) return -ZV_LIBUSBERR;
  v = (v & 0x7F) | val << 7;
  if (zv_eeprom_poke(static_cast<uint16_t>(kFlags), static_cast<uint16_t>(v)) < 0) return -ZV_LIBUSBERR;
  return byte_of(kDeviceIn, 7, static_cast<uint16_t>(val));
}

int get_flag(int bit) {
  int v = zv_eeprom_peek(static_cast<int>(kFlags));
  if (v < 0) return -ZV_LIBUSBERR;
  return (v >> bit & 1) == 0 ? 1 : 0;
}

int set_flag(LogSite site, int bit, int val) {
  LOG_AS(site);
  if (val != 0 && val != 1) {
    LOGE("invalid value, should be 1 or 0");
    return -ZV_EINVAL;
  }
  // The bit switches the feature off: 1 (supported) clears it.
  return write_field(site, {kFlags, bit, 1}, val == 0 ? 1 : 0);
}

int get_size(const char *module) {
  LOG_AS((LogSite{module, nullptr, 0}));
  int hi = zv_eeprom_peek(0);
  if (hi < 0) {
    LOGE("Error reading high byte of size");
    return hi;
  }
  LOGD("sizeH: %d", hi);
  int lo = zv_eeprom_peek(1);
  if (lo < 0) {
    LOGE("Error reading low byte of size");
    return lo;
  }
  LOGD("sizeL: %d", lo);
  int size = hi << 8 | lo;
  LOGD("size: %d", size);
  if (size >= kCorrupt) {
    LOGE("something seems wrong, please format");
    return -1;
  }
  return size;
}

int keys_remaining(LogSite site) {
  LOG_AS(site);
  int size = get_size(site.module);
  if (size < 0) return size;
  int left = (kMaxUsed - size) / kRecord;
  LOGD("Space left on device: %d", left);
  return left;
}

int keys_recorded(LogSite site) {
  int size = get_size(site.module);
  if (size < 0) return size;
  return (size - kHeader) / kRecord;
}

bool translate_key(LogSite site, const char *user_input, int *usage, int *modifier, bool *word) {
  LOG_AS(site);
  int report[2] = {};
  int found;
  bool single = user_input != nullptr && (user_input[0] == '\0' || user_input[1] == '\0');
  if (user_input == nullptr || strnlen(user_input, kMaxKeyName + 1) > kMaxKeyName) {
    // Nothing that long names a key, and the word buffer would not hold it.
    found = 0;
  } else if (!single) {
    char word[kMaxKeyName + 1];
    strcpy(word, user_input);
    found = translate_word_v1(word, report);
  } else {
    found = translate_v1(static_cast<unsigned char>(user_input[0]), report);
  }
  if (found <= 0) {
    LOGE("Key does not exist");
    return false;
  }
  if (single) LOGD("keyReport[0]=%d keyReport[1]=%d ", report[0], report[1]);
  *usage = report[0];
  *modifier = report[1];
  if (word != nullptr) *word = !single;
  return true;
}

int set_record(LogSite site, const char *user_input, int wait) {
  LOG_AS(site);
  int usage = 0, modifier = 0;
  bool word = false;
  if (!translate_key(site, user_input, &usage, &modifier, &word)) return -ZV_EINVAL;
  int r = request(kDeviceIn, 1, static_cast<uint16_t>(usage), static_cast<uint16_t>(modifier), nullptr, 0);
  if (word) LOGD("keyReport[0]=%d, keyReport[1]=%d", usage, modifier);
  if (r < 0) return r;
  return gen4::finish_record(wait);
}

int set_record_api(LogSite site, int modifier, int key, int wait, bool retarget) {
  LOG_AS(site);
  if (retarget && key == kConsumerKey && modifier >= 256) {
    const Retarget *hit = nullptr;
    for (const Retarget &t : kRetargets)
      if (t.usage == modifier) hit = &t;
    if (hit != nullptr) {
      key = kBrowserKey;
      modifier = hit->modifier;
    } else {
      LOGE("no match for: 0x%X", modifier);
    }
  }
  uint8_t b = 0;
  if (request(kDeviceIn, 1, static_cast<uint16_t>(key), static_cast<uint16_t>(modifier), &b, 1) < 0)
    return -ZV_LIBUSBERR;
  return gen4::finish_record(wait);
}

int delete_buttons(LogSite site, const char *user_input) {
  LOG_AS(site);
  LOGD("deleting button: %s", user_input != nullptr ? user_input : "(null)");
  int usage = 0, modifier = 0;
  if (!translate_key(site, user_input, &usage, &modifier, nullptr)) return -ZV_EINVAL;
  uint8_t b[2] = {};
  if (request(kDeviceIn, 4, static_cast<uint16_t>(usage), static_cast<uint16_t>(modifier), b, sizeof b) < 0)
    return -ZV_LIBUSBERR;
  return b[0];
}

int display_config(LogSite site) {
  LOG_AS(site);
  int size = used_size(site);
  if (size < 0) return size;
  uint8_t *buf = nullptr;
  int r = read_memory(&buf, size, false);
  if (r == -ZV_ENOMEM) LOGE("malloc failed");
  if (r < 0) return r;
  translate_mem_v1(buf, static_cast<size_t>(size));
  free(buf);
  return 0;
}

int save_config(LogSite site, const char *loc, const char *null_msg, size_t max_name) {
  LOG_AS(site);
  if (loc == nullptr) {
    LOGE("%s", null_msg);
    return -6;  // EBADF
  }
  if (strlen(loc) > max_name) {
    LOGE("file name too long");
    return -6;
  }
  char name[301];
  strcpy(name, loc);
  LOGD("saving file %s", name);
  int size = used_size(site);
  if (size < 0) return size;
  uint8_t *buf = nullptr;
  int r = read_memory(&buf, size, true);
  if (r == -ZV_ENOMEM) LOGE("could not allocate memory");
  if (r < 0) return r;
  ssize_t w = buf_to_file(name, buf, static_cast<size_t>(size), "wb");
  free(buf);
  return w < 0 ? -6 : 0;
}

int load_config(LogSite site, const char *user_file) {
  LOG_AS(site);
  unsigned char *buf = nullptr;
  ssize_t n = file_to_buf(user_file, &buf, "rb");
  if (n < 0) {
    LOGE("could not open file");
    return -6;
  }
  // Only a legacy image goes into the memory as it stands: another generation's
  // file, or a cut or oversized one, would leave a used size that lies.
  size_t len = static_cast<size_t>(n);
  if (len < static_cast<size_t>(kHeader) || len > static_cast<size_t>(kMaxUsed) ||
      static_cast<size_t>(buf[0] << 8 | buf[1]) != len) {
    LOGE("invalid configuration file");
    free(buf);
    return -1;
  }
  for (size_t i = 0; i < len; ++i) {
    bar(i + 1, len);
    if (zv_eeprom_poke(static_cast<uint16_t>(i), buf[i]) < 0) {
      free(buf);
      return -ZV_LIBUSBERR;
    }
  }
  free(buf);
  return 0;
}

int restart_into_bootloader() {
  uint8_t b = 0;
  // The dongle restarts without answering: a failed transfer is the success.
  int r = request(kEndpointIn, 5, kDfuMagic, 0, &b, 1);
  return r <= 0 ? 0 : -ZV_LIBUSBERR;
}

zv_iface_t *new_table(LogSite site) {
  LOG_AS(site);
  zv_iface_t *t = static_cast<zv_iface_t *>(calloc(1, sizeof(zv_iface_t)));
  if (t == nullptr) LOGE("Could not allocate memory");
  return t;
}

}  // namespace zivra::legacy

namespace {

namespace l = zivra::legacy;
using l::Field;

int zv_ver2_set_normal() { return l::simple(l::kDeviceIn, 0, 0); }
int zv_ver2_format_config() { return l::simple(l::kDeviceIn, 3, 0, l::kFormatTimeoutMs); }
int zv_fw_ver2_reboot() { return l::simple(l::kEndpointIn, 6, 0); }
int zv_ver2_get_state() { return l::byte_of(l::kDeviceIn, 5, 1); }
int zv_ver2_clear_state() { return l::byte_of(l::kDeviceIn, 6, 1); }
int zv_ver2_set_interrupt(int timeout) { return zivra::gen4::wait_for_press(LOG_SITE, timeout); }
int zv_ver2_set_record(const char *user_input, int wait) { return l::set_record(LOG_SITE, user_input, wait); }
int zv_ver2_set_record_api(int mode, int modifier, int key, int wait) {
  (void)mode;
  return l::set_record_api(LOG_SITE, modifier, key, wait, true);
}
int zv_ver2_delete_buttons(const char *user_input) { return l::delete_buttons(LOG_SITE, user_input); }
int zv_ver2_get_sensitivity() { return l::get_field(Field::Sensitivity); }
int zv_ver2_get_interkey_delay() { return l::get_field(Field::InterkeyDelay); }
int zv_ver2_get_noise_cancel() { return l::get_field(Field::NoiseCancel); }
int zv_ver2_get_sleep_detect() { return l::get_field(Field::SleepDetect); }
int zv_ver2_set_sensitivity(int val) { return l::set_field(LOG_SITE, Field::Sensitivity, val); }
int zv_ver2_set_interkey_delay(int val) { return l::set_field(LOG_SITE, Field::InterkeyDelay, val); }
int zv_ver2_set_noise_cancel(int val) { return l::set_field(LOG_SITE, Field::NoiseCancel, val); }
int zv_ver2_set_sleep_detect(int val) { return l::set_sleep_detect(LOG_SITE, val); }
int zv_ver2_keys_remaining() { return l::keys_remaining(LOG_SITE); }
int zv_ver2_keys_recorded() { return l::keys_recorded(LOG_SITE); }
int zv_ver2_display_config() { return l::display_config(LOG_SITE); }
int zv_ver2_save_config(const char *loc) { return l::save_config(LOG_SITE, loc, "file (NULL) is invalid", 299); }
int zv_ver2_load_config(const char *user_file) { return l::load_config(LOG_SITE, user_file); }

int zv_ver2_delete_index(int index) {
  LOGI("going to delete key at index: %d", index);
  int size = l::get_size(kLogModule);
  if (size < 0) {
    LOGE("error getting size");
    return -1;
  }
  // A negative index would move bytes from before the first record.
  if (index < 0 || size < 6 * index + 6) {
    LOGE("index invalid");
    return -1;
  }
  uint8_t *mem = nullptr;
  if (l::read_memory(&mem, size, false) < 0) return -1;
  int destination = 5 + 6 * index;
  int source = destination + 6;
  LOGD("eep size: %d", size);
  LOGD("mem_size: %d", size - 5);
  LOGD("destination: %d", destination);
  LOGD("keysize: %d", 6);
  LOGD("source: %d", source);
  LOGD("bytes to move: %d", size - destination);
  // The last record may end exactly at the used size: nothing follows it.
  if (source < size) memmove(mem + destination, mem + source, static_cast<size_t>(size - source));
  int new_size = size - 6;
  mem[0] = static_cast<uint8_t>(new_size >> 8);
  mem[1] = static_cast<uint8_t>(new_size);
  LOGI("new size: %d", new_size);
  for (int a = 0; a < new_size; ++a) {
    l::bar(static_cast<size_t>(a) + 1, static_cast<size_t>(new_size));
    // A memory rewritten only in part is not a success.
    if (zv_eeprom_poke(static_cast<uint16_t>(a), mem[a]) < 0) {
      free(mem);
      return -ZV_LIBUSBERR;
    }
  }
  free(mem);
  return 0;
}

}  // namespace

extern "C" {

int zv_ver2_device_set_dfu(void) {
  int r = l::restart_into_bootloader();
  LOGD("waiting 500ms");
  fflush(stdout);
  usleep(l::kDfuPause);
  return r;
}

int zv_ver2_set_builtin_profile_support(int val) { return l::set_flag(LOG_SITE, 5, val); }
int zv_ver2_get_builtin_profile_support(void) { return l::get_flag(5); }

zv_iface_t *zv_fw_ver2_init(void) {
  zv_iface_t *t = l::new_table(LOG_SITE);
  if (t == nullptr) return nullptr;
  t->zv_reboot = zv_fw_ver2_reboot;
  t->zv_set_delete = l::set_delete;
  t->zv_set_record = zv_ver2_set_record;
  t->zv_set_record_api = zv_ver2_set_record_api;
  t->zv_set_normal = zv_ver2_set_normal;
  t->zv_set_interrupt = zv_ver2_set_interrupt;
  t->zv_delete_buttons = zv_ver2_delete_buttons;
  t->zv_set_noise_cancel = zv_ver2_set_noise_cancel;
  t->zv_get_noise_cancel = zv_ver2_get_noise_cancel;
  t->zv_set_sensitivity = zv_ver2_set_sensitivity;
  t->zv_get_sensitivity = zv_ver2_get_sensitivity;
  t->zv_set_interkey_delay = zv_ver2_set_interkey_delay;
  t->zv_get_interkey_delay = zv_ver2_get_interkey_delay;
  t->zv_get_sleep_detect = zv_ver2_get_sleep_detect;
  t->zv_set_sleep_detect = zv_ver2_set_sleep_detect;
  t->zv_get_state = zv_ver2_get_state;
  t->zv_clear_state = zv_ver2_clear_state;
  t->zv_display_config = zv_ver2_display_config;
  t->zv_format_config = zv_ver2_format_config;
  t->zv_save_config = zv_ver2_save_config;
  t->zv_load_config = zv_ver2_load_config;
  t->zv_keys_recorded = zv_ver2_keys_recorded;
  t->zv_keys_remaining = zv_ver2_keys_remaining;
  t->zv_device_set_dfu = zv_ver2_device_set_dfu;
  t->zv_eeprom_peek = l::eeprom_peek;
  t->zv_eeprom_poke = l::eeprom_poke;
  t->zv_fw_scm_hash = l::scm_hash;
  t->zv_delete_index = zv_ver2_delete_index;
  return t;
}

}  // extern "C"
