#ifndef ZIVRA_CRC_H
#define ZIVRA_CRC_H
/*
 * Bit-by-bit CRCs, most significant bit first, no reflection, no final XOR: a
 * result passed back in as the seed continues the CRC over a further buffer.
 * crc16_slow and crc32_slow move their register two bit positions per step; the
 * configuration image carries values computed this way.
 */
#include <stddef.h>
#include <stdint.h>

#include "zivra/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* CRC-8/SMBUS (polynomial 0x07, start 0) over the whole buffer. */
ZV_API uint8_t crc8_slower(const uint8_t *buf, size_t len);
/* Polynomial 0x07 from a caller-chosen start. */
ZV_API uint8_t crc8_slow(const uint8_t *data, uint32_t len, uint8_t crc);
/* Polynomial 0x1021, two bit positions per step. */
ZV_API uint16_t crc16_slow(const uint8_t *data, uint32_t len, uint16_t crc);
/* Polynomial 0x04C11DB7, two bit positions per step. */
ZV_API uint32_t crc32_slow(const uint8_t *data, uint32_t len, uint32_t crc);

#ifdef __cplusplus
}
#endif
#endif
