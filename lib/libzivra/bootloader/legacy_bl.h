// Steps the generation-1 and -2 bootloaders share when they program an image:
// checking the device information, the image and the upgrade mark, and the
// progress reports. Both log as the calling upload. Settings bytes, reboot and
// build hash are the application's requests (zivra::legacy). Internal to libzivra.
#pragma once
#include <cstddef>
#include <cstdint>

#include "liblog/log.h"
#include "zivra/zivra.h"

namespace zivra::legacy_bl {

inline constexpr size_t kPage = 128;

// Reads the device information (`info_len` bytes expected: 7 or 6), checks the
// page size, the room and the image length, and sets the upgrade mark.
// 0 when the pages may go, -1 when the device was not prepared.
int prepare(LogSite site, size_t info_len, size_t len);
// After page i of n went out (the callback's percentage, the bar).
void page_done(size_t i, size_t n, void *priv, zv_progress_t p_bar);
// After the last page.
void all_done(size_t n, void *priv, zv_progress_t p_bar);

}  // namespace zivra::legacy_bl
