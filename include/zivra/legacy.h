#ifndef ZIVRA_LEGACY_H
#define ZIVRA_LEGACY_H
/*
 * Dongles of the first hardware, reached over bulk USB: application firmware of
 * generations 1 to 3 and the generation-1 and -2 bootloaders. Their builders and
 * the operations a client may call directly.
 */
#include <stdint.h>

#include "zivra/export.h"
#include "zivra/zivra.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Builders: generation 1 (firmware 0.x and 1.x), 2.0, 2.1, 3.0, 3.9, bootloaders 1 and 2. */
ZV_API zv_iface_t *zv_fw_ver1_init(void);
ZV_API zv_iface_t *zv_fw_ver2_init(void);
ZV_API zv_iface_t *zv_fw_ver2p1_init(void);
ZV_API zv_iface_t *zv_fw_ver3p0_init(void);
ZV_API zv_iface_t *zv_fw_ver3p9_init(void);
ZV_API zv_iface_t *zv_bl_ver1_init(void);
ZV_API zv_iface_t *zv_bl_ver2_init(void);

/* Generation 1: no state request (always 0); the record/delete result arrives on
 * interrupt endpoint 0x83; recording by code without re-targeting. */
ZV_API int zv_ver1_get_state(void);
ZV_API int zv_ver1_set_interrupt(int timeout);
ZV_API int zv_ver1_set_record_api(int mode, int modifier, int key, int wait);
ZV_API int zv_ver1_device_set_dfu(void);
ZV_API int zv_ver1_save_config(const char *loc);

/* Generation 2: restart into the bootloader (0 when the dongle dropped off). */
ZV_API int zv_ver2_device_set_dfu(void);
/* Built-in profiles: 1 supported, 0 switched off, -16 on a failed read; set
 * takes 1 or 0 (else -8). */
ZV_API int zv_ver2_set_builtin_profile_support(int val);
ZV_API int zv_ver2_get_builtin_profile_support(void);

/* Bootloader 2: the bootloader's build hash, or (uint32_t)-16. */
ZV_API uint32_t zv_ver2_bl_scm_hash(void);

#ifdef __cplusplus
}
#endif
#endif
