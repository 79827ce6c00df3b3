// What several generation-4 revisions share: the configuration image (reading,
// listing, saving, validating, converting, and the preparation every loader
// makes), the block loader, recording by key name, and the chunked raw-transmit
// upload. A revision's own file keeps only what that revision changed.
//
// The image operations are revision 4.0's and log as its module; the helpers
// that serve several revisions take the caller's LogSite and log as the caller.
#include <sys/time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "libzivra/firmware/gen4_rev.h"
#include "liblog/log.h"
#include "zivra/config.h"
#include "zivra/crc.h"
#include "zivra/file_opts.h"
#include "zivra/gen4_rev.h"
#include "zivra/pbar.h"
#include "zivra/translate.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_4.0");

namespace zivra::gen4 {

namespace {

constexpr uint32_t kCmdSize = 32;
// Longest key name the word buffer holds, its NUL excluded.
constexpr size_t kMaxKeyName = 255;
// Wait limits of the record/delete loop, in seconds.
constexpr int kMaxWait = 100;
constexpr useconds_t kPollInterval = 100000;

}  // namespace

int finish_record(int wait) { return wait != 0 ? zv_set_interrupt(wait) : 0; }

uint8_t record_report_id(int key) {
  // Legacy pseudo-usages 102..104 select the consumer, system and browser reports.
  return key >= 102 && key <= 104 ? static_cast<uint8_t>(key - 100) : 1;
}

// The record/delete wait: polls the public zv_get_state every 100 ms until the
// device leaves record or delete mode, for up to `timeout` seconds (0 or above
// 100: 100; negative: no limit). Generation 2 and 3 dongles wait the same way.
int wait_for_press(LogSite site, int timeout) {
  LOG_AS(site);
  // Any negative wait has no limit; an unsigned limit of all ones is never reached.
  uint64_t limit;
  if (timeout < 0)
    limit = UINT64_MAX;
  else if (timeout == 0 || timeout > kMaxWait)
    limit = static_cast<uint64_t>(kMaxWait) * 1000000u;
  else
    limit = static_cast<uint64_t>(timeout) * 1000000u;

  struct timeval start;
  gettimeofday(&start, nullptr);
  int state = ZV_STATE_RECORD;
  while (!time_has_elapsed_us(&start, limit)) {
    state = zv_get_state();
    if (state < 0) return state;
    if (state != ZV_STATE_RECORD && state != ZV_STATE_DELETE) break;
    usleep(kPollInterval);
  }
  // Still waiting when the limit ran out is a time-out too, even when the clock
  // reads exactly the limit.
  bool waiting = state == ZV_STATE_RECORD || state == ZV_STATE_DELETE;
  if (waiting || time_elapsed_us(&start) > limit) {
    LOGE("timeout");
    zv_set_normal();
    return -ZV_ETIMEOUT;
  }
  switch (state) {
    case ZV_STATE_DONE:
      return 0;
    case ZV_STATE_NO_SPACE:
      LOGE("Error: no space left on device");
      return -4;
    case ZV_STATE_EXISTS:
      LOGE("Error: button already exists");
      return -5;
    case ZV_STATE_NOT_FOUND:
      LOGE("Error: key not found");
      return -6;
    default:
      LOGE("Unknown error, contact support: %d", state);
      return state;
  }
}

const char *record_command(int mode) {
  switch (mode) {
    case 0: return "record";
    case 1: return "record_m";
    case 2: return "record_lp";
    default: return nullptr;
  }
}

int send_record(const char *cmd, uint8_t report_id, uint8_t modifier, uint8_t key) {
  uint8_t buf[kCmdSize] = {report_id, modifier, key};
  return _zv_send_msg(cmd, buf, sizeof buf);
}

int record_named(LogSite site, const char *cmd, const char *user_input, int wait) {
  LOG_AS(site);
  record_t r{};
  int found;
  if (user_input == nullptr || strnlen(user_input, kMaxKeyName + 1) > kMaxKeyName) {
    // Nothing that long names a key, and the word buffer would not hold it.
    found = -1;
  } else if (user_input[0] != '\0' && user_input[1] != '\0') {
    char word[kMaxKeyName + 1];
    strcpy(word, user_input);
    found = translate_word_v2(word, &r);
  } else {
    found = translate_v2(static_cast<unsigned char>(user_input[0]), &r);
  }
  if (found <= 0) {
    LOGE("Key does not exist");
    return -ZV_EINVAL;
  }
  LOGD("r_id: %d", r.report_id);
  LOGD("mod: %d", r.modifier);
  LOGD("key: %d", r.key);
  int res = send_record(cmd, r.report_id, r.modifier, r.key);
  if (res < 0) return res;
  return finish_record(wait);
}

namespace {

constexpr uint32_t kMagic = 0xDEADBEEF;

uint32_t get32(const uint8_t *p) {
  return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
         static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

void put32(uint8_t *p, uint32_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
  p[2] = static_cast<uint8_t>(v >> 16);
  p[3] = static_cast<uint8_t>(v >> 24);
}

void put16(uint8_t *p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}

void bar(size_t done, size_t total) {
  print_progress_bar(static_cast<float>(done), static_cast<float>(total));
}

}  // namespace

size_t whole_records(const uint8_t *img, size_t len) {
  if (img == nullptr || len < kRecordsOffset) return 0;
  size_t fit = (len - kRecordsOffset) / kRecordSize;
  size_t claimed = get32(img + 8);
  return claimed < fit ? claimed : fit;
}

uint32_t record_word(const uint8_t *img, size_t k, size_t field) {
  return get32(img + kRecordsOffset + k * kRecordSize + field);
}

void set_record_word(uint8_t *img, size_t k, size_t field, uint32_t v) {
  put32(img + kRecordsOffset + k * kRecordSize + field, v);
}

int load_prepare(LogSite site, const char *user_file, uint8_t **img, size_t *len) {
  LOG_AS(site);
  unsigned char *buf = nullptr;
  ssize_t n = file_to_buf(user_file, &buf, "rb");
  if (n < 0) {
    LOGE("could not open file");
    return -6;  // EBADF
  }
  size_t size = static_cast<size_t>(n);
  // The legacy layout is checked first: a file that satisfies it is legacy
  // even if it happens to start with the current magic.
  int legacy = valid_v1_config(buf, size);
  if (legacy != 1 && valid_v2_config(buf, size) != 1) {
    LOGE("invalid configuration file");
    free(buf);
    return -1;
  }
  if (legacy == 1) {
    ssize_t l = 0;
    unsigned char *conv = convert_config(buf, size, &l);
    free(buf);
    if (conv == nullptr) {
      LOGE("could not convert config file");
      return -1;
    }
    buf = conv;
    size = static_cast<size_t>(l);
  }
  // An image the device can not hold would fail part-way, leaving a half-written
  // configuration behind; refuse it before anything is sent.
  if (size > kMaxConfigImage) {
    LOGE("config length %zu exceeds the device maximum of %u", size, kMaxConfigImage);
    free(buf);
    return -1;
  }
  *img = buf;
  *len = size;
  return 0;
}

int save_config(LogSite site, const char *loc, uint8_t exch) {
  LOG_AS(site);
  if (loc == nullptr) {
    LOGE("File (NULL) is invalid");
    return -6;  // EBADF
  }
  char name[300];
  if (strlen(loc) > sizeof name - 1) {
    LOGE("file name too long");
    return -6;  // EBADF
  }
  strcpy(name, loc);
  LOGD("saving file %s", name);
  uint8_t *img = nullptr;
  int len = get_config(&img, exch, 1);
  if (len < 0) {
    LOGE("couldn't get config");
    return -1;
  }
  ssize_t w = buf_to_file(name, img, static_cast<size_t>(len), "wb");
  free(img);
  return w < 0 ? -6 : 0;
}

int zv_ver4_display_config() {
  uint8_t *img = nullptr;
  int len = get_config(&img, 32, 0);
  if (len < 0) {
    LOGE("couldn't get config");
    return -1;
  }
  translate_mem_v2(img, static_cast<size_t>(len));
  free(img);
  return 0;
}

int zv_ver4_save_config(const char *loc) { return save_config(LOG_SITE, loc, 32); }

// ---- the block loader of revisions 4.3 on ----
int load_blocks(LogSite site, const char *user_file, uint8_t exch) {
  LOG_AS(site);
  uint8_t *img = nullptr;
  size_t len = 0;
  int rc = load_prepare(site, user_file, &img, &len);
  if (rc < 0) return rc;
  // The block fills what is left of the exchange's payload (the packet less
  // the 12-byte word and status) after the address and count.
  const size_t block = exch - 12u - offsetof(cfg1_write_t, data);
  uint8_t buf[64];
  for (size_t off = 0; off < len; off += block) {
    size_t n = len - off < block ? len - off : block;
    print_progress_bar(static_cast<float>(off + 1), static_cast<float>(len));
    LOGD("addr: %d", static_cast<int>(off));
    LOGD("copy: %d", static_cast<int>(n));
    cfg1_write_t w = {static_cast<uint32_t>(off), static_cast<uint8_t>(n), {}};
    memcpy(w.data, img + off, n);
    memset(buf, 0, sizeof buf);
    memcpy(buf, &w, offsetof(cfg1_write_t, data) + n);
    if (_zv_send_msg("cfg1_write", buf, exch) < 0) {
      LOGE("invalid address you idiot");
      LOGE("failure loading config");
      free(img);
      return -1;
    }
  }
  print_progress_bar(static_cast<float>(len), static_cast<float>(len));
  free(img);
  return 0;
}


// ---- the raw-transmit upload of revisions 4.2, 4.7 and 4.10 ----
int send_chunks(const char *cmd, const uint8_t *data, size_t nbytes, uint8_t exch, size_t chunk) {
  uint8_t buf[64];
  for (size_t off = 0; off < nbytes; off += chunk) {
    size_t n = nbytes - off < chunk ? nbytes - off : chunk;
    memset(buf, 0, sizeof buf);
    memcpy(buf, data + off, n);
    int rc = _zv_send_msg(cmd, buf, exch);
    if (rc < 0) return rc;
  }
  return 0;
}

void fill_tran_set(uint8_t *set, uint16_t len, uint16_t ik, uint8_t repeat) {
  const ir_tran_set_t t = {static_cast<int16_t>(len), ik, repeat};
  memcpy(set, &t, sizeof t);
}

int upload_raw(LogSite site, uint8_t *set, uint8_t exch, const uint16_t *buf, uint16_t len, bool busy_reply) {
  LOG_AS(site);
  if (_zv_send_msg("irtranset", set, exch) < 0) return -12;
  int16_t ready;
  memcpy(&ready, set, 2);
  if (busy_reply && ready == 0) {
    LOGI("Transmission in progress");
    return -2;
  }
  // The byte count is kept in 16 bits, as the device counts it.
  uint16_t nbytes = static_cast<uint16_t>(2 * len);
  if (send_chunks("irtransraw", reinterpret_cast<const uint8_t *>(buf), nbytes, exch, exch - 12u) < 0) {
    LOGE("error sending data, check device log");
    return -1;
  }
  return 0;
}


}  // namespace zivra::gen4

namespace g = zivra::gen4;

extern "C" {

int get_config(uint8_t **config, uint8_t buf_size, uint8_t show_pbar) {
  if (buf_size != 32 && buf_size != 64) {
    LOGE("invalid buf size");
    return -1;
  }
  if (config == nullptr) {
    LOGE("invalid pointer to buffer");
    return -1;
  }
  uint8_t *xbuf = static_cast<uint8_t *>(calloc(buf_size, 1));
  if (xbuf == nullptr) {
    LOGE("can not allocate memory");
    return -1;
  }
  if (_zv_send_msg("cfg1_size", xbuf, buf_size) < 0) {
    LOGE("command error");
    free(xbuf);
    return -1;
  }
  uint32_t size = g::get32(xbuf);
  LOGD("config length: %d", static_cast<int>(size));
  if (size > g::kMaxConfigImage) {
    LOGE("config length %u exceeds the device maximum of %u", size, g::kMaxConfigImage);
    free(xbuf);
    return -1;
  }
  uint8_t *img = static_cast<uint8_t *>(malloc(size + 1));
  if (img == nullptr) {
    LOGE("could not allocate memory");
    free(xbuf);
    return -5;  // ENOMEM
  }
  memset(img, 0xFF, size);
  const uint32_t block = buf_size - 17u;
  for (uint32_t addr = 0; addr < size; addr += block) {
    uint32_t n = size - addr < block ? size - addr : block;
    LOGD("addr: %d", static_cast<int>(addr));
    LOGD("copy: %d", static_cast<int>(n));
    // cfg1_read_t: addr (uint32), len (uint32).
    memset(xbuf, 0, buf_size);
    g::put32(xbuf, addr);
    g::put32(xbuf + 4, n);
    if (_zv_send_msg("cfg1_read", xbuf, buf_size) < 0) {
      LOGE("invalid address you idiot");
      free(xbuf);
      free(img);
      return -1;
    }
    memcpy(img + addr, xbuf, n);
    if (show_pbar) g::bar(addr, size);
  }
  if (show_pbar) g::bar(size, size);
  free(xbuf);
  *config = img;
  return static_cast<int>(size);
}

int valid_v1_config(unsigned char *buf, size_t len) {
  if (buf == nullptr || len < 2) return -1;
  int stored = buf[0] << 8 | buf[1];
  if (static_cast<size_t>(stored) == len) {
    LOGI("found the first version of a config file");
    return 1;
  }
  LOGD("size of file: %zu does not match size in file: %d", len, stored);
  return -1;
}

int valid_v2_config(unsigned char *buf, size_t len) {
  if (buf == nullptr || len < g::kHeaderSize || g::get32(buf) != g::kMagic) {
    LOGE("not a valid configuration");
    return -1;
  }
  uint32_t calc = crc32_slow(buf + g::kHeaderSize, static_cast<uint32_t>(len - g::kHeaderSize), 0xFFFFFFFF);
  uint32_t stored = g::get32(buf + 12);
  LOGD("Calculated CRC: 0x%08X", calc);
  LOGD("Header CRC:     0x%08X", stored);
  if (calc != stored) {
    LOGE("CRC mismatch. Calculated: 0x%08X != Header: 0x%08X", calc, stored);
    return -1;
  }
  LOGI("found the second version of a config file");
  return 1;
}

unsigned char *convert_config(unsigned char *old, size_t len, ssize_t *l) {
  if (len == 5) {
    LOGE("configuration file is empty");
    return nullptr;
  }
  size_t area = len > 5 ? len - 5 : 0;
  if (old == nullptr || l == nullptr || area == 0 || area % 6 != 0) {
    LOGE("invalid configuration file: len %zu", area);
    return nullptr;
  }
  size_t count = area / 6;
  LOGD("configuration has %d keys", static_cast<int>(count));
  size_t nlen = g::kRecordsOffset + g::kRecordSize * count;
  *l = static_cast<ssize_t>(nlen);
  LOGD("allocating %zd bytes for new config", static_cast<ssize_t>(nlen));
  unsigned char *img = static_cast<unsigned char *>(malloc(nlen));
  if (img == nullptr) {
    LOGE("could not allocate memory");
    return nullptr;
  }
  memset(img, 0xFF, nlen);
  g::put32(img + 16, 0xFFFFFFFF);  // every built-in table on
  g::put32(img + 20, 15);          // timing
  g::put32(img + 24, 0);           // general
  for (size_t j = 0; j < count; ++j) {
    const unsigned char *src = old + 5 + 6 * j;
    unsigned char *rec = img + g::kRecordsOffset + g::kRecordSize * j;
    uint32_t hash = g::get32(src);
    uint8_t mod = src[4], key = src[5], rid = 1;
    // Legacy pseudo-usages 102..104 select the consumer, system and browser
    // reports; their usage is in the modifier byte.
    if (key >= 102 && key <= 104) {
      rid = static_cast<uint8_t>(key - 100);
      key = 0;
    }
    g::put32(rec, hash);
    g::put32(rec + g::kRecordTeOffset, 130);
    rec[13] = rid;
    rec[14] = mod;
    rec[15] = key;
    LOGD("hash: %X", hash);
    LOGD("te: %X", 130u);
    LOGD("mod: 0x%X", mod);
    LOGD("key: 0x%X", key);
    LOGD("report id: %d", rid);
  }
  uint32_t crc = crc32_slow(img + g::kHeaderSize, static_cast<uint32_t>(12 + g::kRecordSize * count), 0xFFFFFFFF);
  g::put32(img, g::kMagic);
  g::put16(img + 4, 1);
  g::put16(img + 6, 0);
  g::put32(img + 8, static_cast<uint32_t>(count));
  g::put32(img + 12, crc);
  return img;
}


}  // extern "C"
