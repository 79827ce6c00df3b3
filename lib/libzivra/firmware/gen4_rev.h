// Pieces shared by the generation-4 revision modules (gen4_shared.cpp):
// configuration image transfer, named recording with another command word,
// and chunked uploads.
// Internal to libzivra; nothing here is exported.
#pragma once
#include <bit>
#include <cstddef>
#include <cstdint>

#include "liblog/log.h"

namespace zivra::gen4 {

// Every multi-byte field on the wire is little-endian; the records below are
// copied to and from the packets as they lie in memory.
static_assert(std::endian::native == std::endian::little, "the wire records assume a little-endian host");

// Request of "cfg1_write": the block follows the count.
struct __attribute__((packed)) cfg1_write_t {
  uint32_t addr;
  uint8_t len;
  uint8_t data[47];  // the most a 64-byte exchange carries
};
// Reply of "versionx".
struct __attribute__((packed)) versionx_t {
  char branch[13];
  char dirty[13];
};
// Reply of "irhist".
struct __attribute__((packed)) ir_info_t {
  uint32_t last_hash;
};
// Request of "irtranset".
struct __attribute__((packed)) ir_tran_set_t {
  int16_t len;
  uint16_t ik;
  uint8_t repeat;
};
// Request of "rbset", reply of "rbget".
struct __attribute__((packed)) rb_settings_t {
  uint32_t enable;
  uint32_t rsvd0, rsvd1, rsvd2;
  uint8_t high_add;
  uint8_t low_add;
};
// Header of an IR packet input report.
struct __attribute__((packed)) h {
  uint8_t report_id;
  uint16_t sof;
  uint16_t elapsed_time;
};
static_assert(sizeof(cfg1_write_t) == 52 && sizeof(versionx_t) == 26 && sizeof(ir_tran_set_t) == 5 &&
              sizeof(rb_settings_t) == 18 && sizeof(h) == 5);

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
// Loads `user_file` into the device with "cfg1_write" in `exch`-byte exchanges
// (32 or 64), each carrying the largest block that fits: 15 or 47 bytes.
int load_blocks(LogSite site, const char *user_file, uint8_t exch);
// The listing and the saver of revisions 4.0 to 4.4 (32-byte exchanges).
int zv_ver4_display_config();
int zv_ver4_save_config(const char *loc);
// Saves the device image to `loc`, reading it with `exch`-byte exchanges.
int save_config(LogSite site, const char *loc, uint8_t exch);

// After a record request: wait for the press when asked, else let the device wait.
int finish_record(int wait);
// Waits for the pending record or delete to finish (the public zv_get_state
// polled every 100 ms); logs as `site`. 0, -4, -5, -6, -10 or a state error.
int wait_for_press(LogSite site, int timeout);
// Report of a numeric record: 102..104 name the consumer, system and browser
// reports (2..4), every other key the keyboard report (1).
uint8_t record_report_id(int key);
// Command word of a record mode: 0 plain, 1 macro step, 2 long press; null otherwise.
const char *record_command(int mode);
// Records the next remote button as the named key, sending `cmd`.
int record_named(LogSite site, const char *cmd, const char *user_input, int wait);
// Sends the 3-byte record_t {report_id, modifier, key} with `cmd` (32 bytes).
int send_record(const char *cmd, uint8_t report_id, uint8_t modifier, uint8_t key);

// Sends `nbytes` of `data` with `cmd`, min(remaining, chunk) bytes per
// exch-byte exchange. Returns 0, or the failed exchange's negative result.
int send_chunks(const char *cmd, const uint8_t *data, size_t nbytes, uint8_t exch, size_t chunk);

// The raw-transmit upload: "irtranset" with the ir_tran_set_t request already in
// `set` (`exch` bytes; the reply lands there too), then the `len` entries of
// `buf` with "irtransraw" in chunks of the exchange's payload less 12 bytes
// (20 or 52). With `busy_reply` a reply whose first int16 is 0 means the device
// is still transmitting: -2, nothing sent. Otherwise 0, -12 or -1.
int upload_raw(LogSite site, uint8_t *set, uint8_t exch, const uint16_t *buf, uint16_t len, bool busy_reply);
void fill_tran_set(uint8_t *set, uint16_t len, uint16_t ik, uint8_t repeat);

}  // namespace zivra::gen4
