#ifndef ZIVRA_PBAR_H
#define ZIVRA_PBAR_H
/* One-line text progress bar on standard output, redrawn in place. */
#include "zivra/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Draws "[====>    ] NN%\r" for `start` units done out of `end`; an `end` of 0
 * draws a complete bar. Callers print the final line feed. */
ZV_API void print_progress_bar(float start, float end);

#ifdef __cplusplus
}
#endif
#endif
