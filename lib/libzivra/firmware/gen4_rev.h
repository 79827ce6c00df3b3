// Pieces shared by the generation-4 revision modules: configuration image
// transfer, named recording with another command word, and chunked uploads.
// Internal to libzivra; nothing here is exported.
#pragma once
#include <cstddef>
#include <cstdint>

#include "liblog/log.h"

namespace zivra::gen4 {

// The device's configuration memory is far below this; a reported image length
// above it is treated as a broken reply rather than allocated.
inline constexpr uint32_t kMaxConfigImage = 64 * 1024;

// Image layout: 16-byte header, 12-byte settings block, 16-byte records.
inline constexpr size_t kHeaderSize = 16;
inline constexpr size_t kRecordsOffset = 28;
inline constexpr size_t kRecordSize = 16;
inline constexpr size_t kRecordTeOffset = 4;

// Number of records that lie wholly inside an image of `len` bytes, capped by
// the count its header claims.
size_t whole_records(const uint8_t *img, size_t len);
uint32_t record_word(const uint8_t *img, size_t k, size_t field);
void set_record_word(uint8_t *img, size_t k, size_t field, uint32_t v);

// Steps shared by every loader: read the file, validate it, convert a legacy
// image. On success *img is a malloc'd current image of *len bytes.
int load_prepare(LogSite site, const char *user_file, uint8_t **img, size_t *len);
// cfg1_write_t request: addr (uint32), len (uint8), then the block.
inline void fill_cfg1_write(uint8_t *buf, uint32_t addr, const uint8_t *src, uint8_t n) {
  for (int i = 0; i < 4; ++i) buf[i] = static_cast<uint8_t>(addr >> (8 * i));
  buf[4] = n;
  for (uint8_t i = 0; i < n; ++i) buf[5 + i] = src[i];
}
// The listing and the saver of revisions 4.0 to 4.4 (32-byte exchanges).
int zv_ver4_display_config();
int zv_ver4_save_config(const char *loc);
// Saves the device image to `loc`, reading it with `exch`-byte exchanges.
int save_config(LogSite site, const char *loc, uint8_t exch);

// Records the next remote button as the named key, sending `cmd`.
int record_named(LogSite site, const char *cmd, const char *user_input, int wait);
// Sends the 3-byte record_t {report_id, modifier, key} with `cmd` (32 bytes).
int send_record(const char *cmd, uint8_t report_id, uint8_t modifier, uint8_t key);

// Sends `nbytes` of `data` with `cmd`, min(remaining, chunk) bytes per
// exch-byte exchange. Returns 0, or the failed exchange's negative result.
int send_chunks(const char *cmd, const uint8_t *data, size_t nbytes, uint8_t exch, size_t chunk);

}  // namespace zivra::gen4
