#ifndef ZIVRA_CONFIG_H
#define ZIVRA_CONFIG_H
/*
 * Records of the generation-4 configuration image and of a recorded button's
 * report. All fields are little-endian and packed: these structs are laid over
 * image bytes and command payloads exactly as the dongle stores and sends them.
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

/* The report a recorded button sends: report_id 1 keyboard, 2 consumer control,
 * 3 system control, 4 browser keys. */
typedef struct __attribute__((packed)) record_t {
  uint8_t report_id;
  uint8_t modifier; /* modifier bits (report 1), usage low byte or bit mask (2..4) */
  uint8_t key;      /* keyboard usage (report 1), usage high byte or 0 (2..4) */
} record_t;

/* Image header, offset 0. */
typedef struct __attribute__((packed)) header_t {
  uint32_t magic; /* ZV_CONFIG_MAGIC */
  uint16_t major;
  uint16_t minor;
  uint32_t size; /* number of button records after the settings block */
  uint32_t crc;  /* crc32_slow(0xFFFFFFFF) over every byte from offset 16 to the end */
} header_t;

/* Settings block, offset 16. */
typedef struct __attribute__((packed)) settings_t {
  uint32_t rom_table; /* bit i set: built-in key table i (0..5) enabled */
  uint32_t timing;
  uint32_t general;
} settings_t;

/* One recorded button, 16 bytes, record k at offset 28 + 16 * k. */
typedef struct __attribute__((packed)) ir_pattern_t {
  uint32_t hash;
  uint32_t te;
  uint32_t next; /* 0xFFFFFFFF when not set */
  uint8_t lp;    /* 0xFF when not set */
  uint8_t report_id;
  uint8_t modifier;
  uint8_t key;
} ir_pattern_t;

#define ZV_CONFIG_MAGIC 0xDEADBEEFu
/* Offset of the first button record. */
#define ZV_CONFIG_RECORDS_OFFSET ((unsigned)(sizeof(header_t) + sizeof(settings_t)))

#ifdef __cplusplus
static_assert(sizeof(record_t) == 3, "record_t is 3 bytes");
static_assert(sizeof(header_t) == 16, "header_t is 16 bytes");
static_assert(sizeof(settings_t) == 12, "settings_t is 12 bytes");
static_assert(sizeof(ir_pattern_t) == 16, "ir_pattern_t is 16 bytes");
}
#else
_Static_assert(sizeof(record_t) == 3, "record_t is 3 bytes");
_Static_assert(sizeof(header_t) == 16, "header_t is 16 bytes");
_Static_assert(sizeof(settings_t) == 12, "settings_t is 12 bytes");
_Static_assert(sizeof(ir_pattern_t) == 16, "ir_pattern_t is 16 bytes");
#endif
#endif
