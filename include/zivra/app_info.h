#ifndef ZIVRA_APP_INFO_H
#define ZIVRA_APP_INFO_H
/*
 * The firmware image header: the first bytes of every firmware image file, also
 * read back word by word from a running dongle. Little-endian and packed.
 */
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#endif

#define ZV_APP_SIGNATURE 0xBABECAFEu
#define ZV_APP_NAME_SIZE 30

typedef struct __attribute__((packed)) app_info_v1_t {
  uint32_t signature; /* ZV_APP_SIGNATURE */
  uint32_t header_version; /* 1 */
  uint32_t header_size;
  uint32_t app_crc;
  uint32_t app_size;
  uint16_t app_major_version;
  uint16_t app_minor_version;
  uint16_t app_patch_version;
  uint32_t app_scm_hash;
  uint16_t app_type_int;
  char app_name[ZV_APP_NAME_SIZE]; /* edition name (SKU) */
  char app_type[10];
  char build_machine[10];
  char build_arch[10];
  char build_branch[10];
  uint32_t build_timestamp;
  uint32_t update_timestamp;
} app_info_v1_t;

typedef struct __attribute__((packed)) app_info_v2_t {
  uint32_t signature; /* ZV_APP_SIGNATURE */
  uint32_t header_version; /* 2 */
  uint32_t header_size;
  uint32_t app_crc;
  uint32_t app_size;
  uint16_t app_major_version;
  uint16_t app_minor_version;
  uint16_t app_patch_version;
  uint32_t app_scm_hash;
  uint16_t app_type_int;
  char app_name[ZV_APP_NAME_SIZE];
  char app_type[10];
  char build_machine[10];
  char build_arch[10];
  char build_branch[10];
  uint8_t encrypted;
  uint8_t boot_flag; /* 0x55: "Okay", otherwise "Hold" */
  uint16_t you;
  uint32_t stupid;
  uint8_t idiot;
  uint8_t boot_flag2;
  uint32_t build_timestamp;
  uint32_t update_timestamp;
  uint8_t tested; /* 0: passed the manufacturing test */
} app_info_v2_t;

#ifdef __cplusplus
static_assert(sizeof(app_info_v1_t) == 110, "app_info_v1_t is 110 bytes");
static_assert(sizeof(app_info_v2_t) == 121, "app_info_v2_t is 121 bytes");
}
#else
_Static_assert(sizeof(app_info_v1_t) == 110, "app_info_v1_t is 110 bytes");
_Static_assert(sizeof(app_info_v2_t) == 121, "app_info_v2_t is 121 bytes");
#endif
#endif
