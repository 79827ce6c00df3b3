// Configuration image of generation-4 dongles: reading it from the device,
// listing and saving it, validating and converting files, and the byte-wise
// loader of the first revisions.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "liblog/log.h"
#include "libzivra/firmware/gen4_rev.h"
#include "zivra/crc.h"
#include "zivra/file_opts.h"
#include "zivra/gen4_rev.h"
#include "zivra/pbar.h"
#include "zivra/translate.h"
#include "zivra/zivra.h"

LOG_MODULE("lib/libzivra/firmware/fw_4.0");

namespace zivra::gen4 {
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

int load_prepare(const char *user_file, uint8_t **img, size_t *len) {
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
  *img = buf;
  *len = size;
  return 0;
}

int save_config(const char *loc, uint8_t exch) {
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

}  // namespace zivra::gen4

namespace {

using namespace zivra::gen4;

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

int zv_ver4_save_config(const char *loc) { return save_config(loc, 32); }

}  // namespace

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
  uint32_t size = get32(xbuf);
  LOGD("config length: %d", static_cast<int>(size));
  if (size > kMaxConfigImage) {
    LOGE("config length %u exceeds the device maximum of %u", size, kMaxConfigImage);
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
    put32(xbuf, addr);
    put32(xbuf + 4, n);
    if (_zv_send_msg("cfg1_read", xbuf, buf_size) < 0) {
      LOGE("invalid address you idiot");
      free(xbuf);
      free(img);
      return -1;
    }
    memcpy(img + addr, xbuf, n);
    if (show_pbar) bar(addr, size);
  }
  if (show_pbar) bar(size, size);
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
  if (buf == nullptr || len < kHeaderSize || get32(buf) != kMagic) {
    LOGE("not a valid configuration");
    return -1;
  }
  uint32_t calc = crc32_slow(buf + kHeaderSize, static_cast<uint32_t>(len - kHeaderSize), 0xFFFFFFFF);
  uint32_t stored = get32(buf + 12);
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
  size_t nlen = kRecordsOffset + kRecordSize * count;
  *l = static_cast<ssize_t>(nlen);
  LOGD("allocating %zd bytes for new config", static_cast<ssize_t>(nlen));
  unsigned char *img = static_cast<unsigned char *>(malloc(nlen));
  if (img == nullptr) {
    LOGE("could not allocate memory");
    return nullptr;
  }
  memset(img, 0xFF, nlen);
  put32(img + 16, 0xFFFFFFFF);  // every built-in table on
  put32(img + 20, 15);          // timing
  put32(img + 24, 0);           // general
  for (size_t j = 0; j < count; ++j) {
    const unsigned char *src = old + 5 + 6 * j;
    unsigned char *rec = img + kRecordsOffset + kRecordSize * j;
    uint32_t hash = get32(src);
    uint8_t mod = src[4], key = src[5], rid = 1;
    // Legacy pseudo-usages 102..104 select the consumer, system and browser
    // reports; their usage is in the modifier byte.
    if (key >= 102 && key <= 104) {
      rid = static_cast<uint8_t>(key - 100);
      key = 0;
    }
    put32(rec, hash);
    put32(rec + kRecordTeOffset, 130);
    rec[13] = rid;
    rec[14] = mod;
    rec[15] = key;
    LOGD("hash: %X", hash);
    LOGD("te: %X", 130u);
    LOGD("mod: 0x%X", mod);
    LOGD("key: 0x%X", key);
    LOGD("report id: %d", rid);
  }
  uint32_t crc = crc32_slow(img + kHeaderSize, static_cast<uint32_t>(12 + kRecordSize * count), 0xFFFFFFFF);
  put32(img, kMagic);
  put16(img + 4, 1);
  put16(img + 6, 0);
  put32(img + 8, static_cast<uint32_t>(count));
  put32(img + 12, crc);
  return img;
}

int zv_ver4_load_config(const char *user_file) {
  uint8_t *img = nullptr;
  size_t len = 0;
  int rc = load_prepare(user_file, &img, &len);
  if (rc < 0) return rc;
  uint8_t xbuf[32];
  for (size_t i = 0; i < len; ++i) {
    bar(i + 1, len);
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
