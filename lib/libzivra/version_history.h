// Release-history hooks for the driver front end, which checks the open dongle,
// parses the client's version and reads the dongle's version first.
#pragma once
#include "zivra/list.h"
#include "zivra/semver.h"

namespace zivra {

// The selection for a dongle at `dev` and the named version `comp`: from the
// 4.x notes for a dongle opened over HID, else from the 3.x notes. &head or null.
struct list_head *ver_hist_select(semver_t dev, semver_t comp, bool hid);

// Writes a selection to standard output, oldest first; null prints nothing.
void print_ver_hist(struct list_head *list);

}  // namespace zivra
