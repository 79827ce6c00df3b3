#ifndef ZIVRA_FILE_OPTS_H
#define ZIVRA_FILE_OPTS_H
/*
 * Whole-file read and write. Results are byte counts or negated errno values:
 * -14 (EFAULT), -12 (ENOMEM), -9 (EBADF).
 */
#include <stddef.h>
#include <sys/types.h>

#include "zivra/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Reads the file at `loc` (opened with mode `ops`, normally "rb") into a new
 * malloc'd buffer of size + 1 bytes stored in *buf; returns the size. */
ZV_API ssize_t file_to_buf(const char *loc, unsigned char **buf, const char *ops);
/* Writes `len` bytes of `buf` to `loc` opened with mode `ops` (normally "wb");
 * returns `len`. With a "w" mode the old file is replaced only after a complete
 * write. */
ZV_API ssize_t buf_to_file(const char *loc, unsigned char *buf, size_t len, const char *ops);

#ifdef __cplusplus
}
#endif
#endif
