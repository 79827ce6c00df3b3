// Against the real hidapi and libusb-1.0 (no sim): with no dongle attached, and
// possibly no USB access at all, opening either transport returns null cleanly.
#include <gtest/gtest.h>

#include "zivra/logging.h"
#include "zivra/transport.h"

namespace {

TEST(RealLibraries, OpenWithoutDongleReturnsNull) {
  set_loglevel(0);
  libhid_priv h{0x20A0, 0x7FFE, -1};
  EXPECT_EQ(dev_open(DEV_TYPE_HID, &h), nullptr);
  libusb_priv u{};
  u.VID = 0x20A0;
  u.PID = 0x7FFE;
  EXPECT_EQ(dev_open(DEV_TYPE_LIBUSB, &u), nullptr);
  set_loglevel(2);
}

}  // namespace
