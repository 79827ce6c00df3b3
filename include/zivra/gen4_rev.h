#ifndef ZIVRA_GEN4_REV_H
#define ZIVRA_GEN4_REV_H
/*
 * Generation-4 dongles beyond the base revision: the builders of revisions 4.1
 * to 4.10, the configuration image (reading, validating, converting, loading),
 * recording variants, raw IR capture, and the IR transmission entry points.
 */
#include <stddef.h>
#include <stdint.h>
#include <sys/types.h>

#include "zivra/export.h"
#include "zivra/zivra.h"

#ifdef __cplusplus
extern "C" {
#endif

struct ir_packet;

/* Builders: the previous revision's table with this revision's slots set. */
ZV_API zv_iface_t *zv_fw_ver4p1_init(void);
ZV_API zv_iface_t *zv_fw_ver4p2_init(void);
ZV_API zv_iface_t *zv_fw_ver4p3_init(void);
ZV_API zv_iface_t *zv_fw_ver4p4_init(void);
ZV_API zv_iface_t *zv_fw_ver4p5_init(void);
ZV_API zv_iface_t *zv_fw_ver4p6_init(void);
ZV_API zv_iface_t *zv_fw_ver4p7_init(void);
ZV_API zv_iface_t *zv_fw_ver4p8_init(void);
ZV_API zv_iface_t *zv_fw_ver4p9_init(void);
ZV_API zv_iface_t *zv_fw_ver4p10_init(void);

/* Scratch tables of configuration normalising: distinct timing values and
 * how often each was seen (-1 marks an empty entry of nums). */
ZV_API extern int nums[100];
ZV_API extern int hits[100];

/* ---- configuration image ----------------------------------------------------- */

/* Reads the whole device image with buf_size-byte exchanges (32 or 64). Returns
 * its length with *config set to a malloc'd copy (length + 1 bytes), or a
 * negative result. Images above 64 KiB are refused. */
ZV_API int get_config(uint8_t **config, uint8_t buf_size, uint8_t show_pbar);
/* 1 if buf is a legacy image (its big-endian length word equals len), else -1. */
ZV_API int valid_v1_config(unsigned char *buf, size_t len);
/* 1 if buf is a current image whose CRC matches, else -1. */
ZV_API int valid_v2_config(unsigned char *buf, size_t len);
/* A legacy image converted to a current one (malloc'd, length in *l), or null. */
ZV_API unsigned char *convert_config(unsigned char *old, size_t len, ssize_t *l);
/* Writes a configuration file into a 4.0 to 4.2 dongle, one byte per exchange. */
ZV_API int zv_ver4_load_config(const char *user_file);

/* ---- recording ------------------------------------------------------------------ */

ZV_API int zv_ver4_set_record_lp(const char *user_input, int wait);
ZV_API int zv_ver4_set_record_macro(const char *user_input, int wait);

/* ---- raw IR capture ---------------------------------------------------------------- */

/* Adds one input report to *p: 1 capture complete, 0 nothing arrived or the
 * capture continues, -1 the device failed. */
ZV_API int zv_ver4_ir_packet_poll(zv_iface_t *dev, struct ir_packet *p);

/* ---- IR transmission ------------------------------------------------------------------ */

/* Sends up to 256 durations (mark first); the signal is brought into the upload
 * form first and the caller's array is left unchanged. */
ZV_API int zv_transmit_raw(uint16_t *buf, uint16_t len, uint16_t ik, uint8_t repeat);
/* Sends a parsed Pronto code: the intro once, then the repeat part rep times. */
ZV_API int zivra_send_pronto(uint16_t *buf, uint32_t length, uint8_t rep);
/* Stops a running transmission (two names for one request). */
ZV_API int zv_transmit_kill(void);
ZV_API int zv_ir_transmit_kill(void);

#ifdef __cplusplus
}
#endif
#endif
