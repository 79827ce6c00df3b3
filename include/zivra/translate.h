#ifndef ZIVRA_TRANSLATE_H
#define ZIVRA_TRANSLATE_H
/*
 * Key names and characters to USB HID reports and back, and the "Recorded Keys"
 * listing of a configuration image. The _v1 functions serve generation-1 to -3
 * dongles (modifier + usage, pseudo-usages 102..104 for the other reports), the
 * _v2 functions generation 4 (record_t).
 */
#include <stddef.h>
#include <stdint.h>

#include "zivra/config.h"
#include "zivra/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* By character: 1 and *r filled, or -22 with *r zeroed and the usage text printed. */
ZV_API int translate_v2(int key, struct record_t *r);
/* By name (exact, case-sensitive): 1, or -22 as above. */
ZV_API int translate_word_v2(const char *word, struct record_t *r);
/* Prints the listing of a current image of `size` bytes; returns 0. */
ZV_API int translate_mem_v2(uint8_t *buffer, size_t size);

/* keyReport[0] = usage, keyReport[1] = modifier. By character: 1, or 0 when not found. */
ZV_API int translate_v1(int key, int *keyReport);
/* By name: 1, or -22 when not found. */
ZV_API int translate_word_v1(const char *word, int *keyReport);
/* Prints the listing of a legacy image of `size` bytes; returns 0. */
ZV_API int translate_mem_v1(uint8_t *buffer, size_t size);

#ifdef __cplusplus
}
#endif
#endif
