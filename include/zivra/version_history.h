#ifndef ZIVRA_VERSION_HISTORY_H
#define ZIVRA_VERSION_HISTORY_H
/*
 * Release notes of the dongle firmware and the selection of the releases between
 * two versions. The selection lives in the library-owned list `head`; walk it
 * from head.next back to &head and reach each entry with
 * ll_entry(node, fw_ver_hist, node). It stays valid until the next selection.
 */
#include "zivra/export.h"
#include "zivra/list.h"
#include "zivra/semver.h"

#ifdef __cplusplus
extern "C" {
#endif

/* One release: version text and its notes (" item\n - item\n..."). */
typedef struct ver_t {
  const char *v;
  const char *s;
} ver_t;

/* One selected release. */
typedef struct fw_ver_hist {
  const char *v;
  const char *s;
  ll_t node;
} fw_ver_hist;

/* The current selection; empty at load time. */
ZV_API extern ll_t head;

/* The releases after `dev` up to and including `comp` (major.minor.patch only),
 * oldest first: from the 3.x line (v1) or the 4.x line (v2). &head, or null. */
ZV_API struct list_head *zv_get_ver_hist_v1(semver_t dev, semver_t comp);
ZV_API struct list_head *zv_get_ver_hist_v2(semver_t dev, semver_t comp);

#ifdef __cplusplus
}
#endif
#endif
