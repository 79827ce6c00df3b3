// Operations of the vendor-request dongles (generations 1 to 3), shared by the
// generation-1 and generation-2 modules. Each generation names its operations
// itself; those that log take the caller's LogSite, so their lines carry the
// calling module and operation. Internal to libzivra.
#pragma once
#include <cstddef>
#include <cstdint>

#include "liblog/log.h"
#include "zivra/zivra.h"

namespace zivra::legacy {

inline constexpr unsigned kTimeoutMs = 5000;
inline constexpr unsigned kFormatTimeoutMs = 10000;
inline constexpr uint8_t kDeviceIn = 0xC0;    // vendor, device recipient, device to host
inline constexpr uint8_t kEndpointIn = 0xC2;  // vendor, endpoint recipient, device to host

// One vendor request answering `len` bytes into `reply` (may be null when len
// is 0). Returns the transfer's result.
int request(uint8_t type, uint8_t req, uint16_t value, uint16_t index, uint8_t *reply, uint16_t len,
            unsigned timeout = kTimeoutMs);
// A one-byte request: 0, or -16 when the transfer failed.
int simple(uint8_t type, uint8_t req, uint16_t value, unsigned timeout = kTimeoutMs);
// A one-byte request returning the byte, or -16.
int byte_of(uint8_t type, uint8_t req, uint16_t value);

int eeprom_peek(uint32_t address);
int eeprom_poke(uint32_t address, uint32_t data);
uint32_t scm_hash();
int set_delete(int wait);

// Settings fields of bytes 2 and 3.
enum class Field { Sensitivity, InterkeyDelay, NoiseCancel, SleepDetect };
int get_field(Field f);
int set_field(LogSite site, Field f, int val);
int set_sleep_detect(LogSite site, int val);
// Bit `bit` of byte 3 cleared means "supported": 1, 0, or -16.
int get_flag(int bit);
int set_flag(LogSite site, int bit, int val);

// Used bytes (bytes 0-1); logs under `module`'s get_size. -1 or -16 on failure.
int get_size(const char *module);
int keys_remaining(LogSite site);
int keys_recorded(LogSite site);

// Key name to usage and modifier; false (after E "Key does not exist") when the
// name has no row. A single character logs its report line; *word tells a name
// of several characters.
bool translate_key(LogSite site, const char *user_input, int *usage, int *modifier, bool *word);
int set_record(LogSite site, const char *user_input, int wait);
// Sends 0xC0/1; `retarget` moves 16-bit consumer usages to the browser report.
int set_record_api(LogSite site, int modifier, int key, int wait, bool retarget);
int delete_buttons(LogSite site, const char *user_input);

int display_config(LogSite site);
// `null_msg` is logged for a null name; names up to `max_name` characters fit.
int save_config(LogSite site, const char *loc, const char *null_msg, size_t max_name);
int load_config(LogSite site, const char *user_file);
// 0xC2/5: 0 when the dongle dropped off (or moved no data), -16 when it answered.
int restart_into_bootloader();

// A zeroed table, or null after E "Could not allocate memory".
zv_iface_t *new_table(LogSite site);

}  // namespace zivra::legacy

namespace zivra {
// Product variant in bits 1 and 2 of byte 3: 3 OEM, 2 standard, -1 unknown, -16.
int zv_ver2_product_type();
}  // namespace zivra
