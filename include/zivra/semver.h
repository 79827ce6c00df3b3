#ifndef ZIVRA_SEMVER_H
#define ZIVRA_SEMVER_H
/*
 * Semantic versions major.minor.patch[-prerelease][+metadata]: parse, compare,
 * range tests, render, bump, clean and a numeric fingerprint.
 */
#include "zivra/export.h"

#ifdef __cplusplus
extern "C" {
#endif

/* A parsed version; metadata and prerelease are malloc'd copies (or null)
 * released by semver_free. */
typedef struct semver_version_s {
  int major;
  int minor;
  int patch;
  char *metadata;
  char *prerelease;
} semver_t;

/* A pre-release or metadata text split at ".": non-numeric parts joined in
 * `meta` (malloc'd, or null when there are none), numeric parts in `version`. */
struct metadata_s {
  char *meta;
  int version[50];
  int version_count;
};

/* Range operator characters. */
enum operators {
  SYMBOL_GT = '>',
  SYMBOL_LT = '<',
  SYMBOL_EQ = '=',
  SYMBOL_TF = '~',
  SYMBOL_CF = '^',
};

ZV_API int semver_parse(const char *str, semver_t *ver);
ZV_API int semver_parse_version(const char *str, semver_t *ver);
ZV_API int semver_parse_prerelease(char *str, struct metadata_s *ver);

ZV_API int semver_compare(semver_t x, semver_t y);
ZV_API int semver_compare_version(semver_t x, semver_t y);
ZV_API int semver_compare_metadata(semver_t x, semver_t y);

ZV_API int semver_gt(semver_t x, semver_t y);
ZV_API int semver_gte(semver_t x, semver_t y);
ZV_API int semver_lt(semver_t x, semver_t y);
ZV_API int semver_lte(semver_t x, semver_t y);
ZV_API int semver_eq(semver_t x, semver_t y);
ZV_API int semver_neq(semver_t x, semver_t y);

ZV_API int semver_satisfies(semver_t x, semver_t y, const char *op);
ZV_API int semver_satisfies_caret(semver_t x, semver_t y);
ZV_API int semver_satisfies_patch(semver_t x, semver_t y);

ZV_API void semver_render(semver_t *x, char *dest);
ZV_API void semver_bump(semver_t *x);
ZV_API void semver_bump_minor(semver_t *x);
ZV_API void semver_bump_patch(semver_t *x);
ZV_API void semver_free(semver_t *x);

ZV_API int semver_is_valid(const char *s);
ZV_API int semver_clean(char *s);
ZV_API int semver_numeric(semver_t *x);

#ifdef __cplusplus
}
#endif
#endif
