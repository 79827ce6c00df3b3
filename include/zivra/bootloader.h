#ifndef ZIVRA_BOOTLOADER_H
#define ZIVRA_BOOTLOADER_H
/*
 * Generation-3 bootloaders: the table builders of revisions 3.0 to 3.3, the
 * upload of revision 3.0 and starting the application without a CRC check.
 * Firmware images begin with the header of zivra/app_info.h.
 */
#include <stddef.h>

#include "zivra/export.h"
#include "zivra/zivra.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Builders for bootloader 3.0, 3.1, 3.2 (the stage-2 bootloader) and 3.3; null
 * when the table can not be allocated. */
ZV_API zv_iface_t *zv_bl_ver3_init(void);
ZV_API zv_iface_t *zv_bl_ver3p1_init(void);
ZV_API zv_iface_t *zv_bl_ver3p2_init(void);
ZV_API zv_iface_t *zv_bl_ver3p3_init(void);

/* Programs `buf` (`len` bytes, a whole image) through a 3.0 bootloader in 64-byte
 * pages, reporting 0..100 to p_bar (may be null), and starts it. 0 or -1. The
 * header's update timestamp (and, for version 2, the test mark) is written into
 * buf in place. */
ZV_API int zv_upload_fw(unsigned char *buf, size_t len, void *priv, zv_progress_t p_bar);

/* Sends "enterapp" without checking the application first; the exchange result. */
ZV_API int zv_ver3_leave_bootloader(void);

#ifdef __cplusplus
}
#endif
#endif
