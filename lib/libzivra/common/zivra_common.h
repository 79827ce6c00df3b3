// Version getters of the two transports, installed by the driver after an open,
// and the selection of a table for the transport a dongle was found on.
#pragma once
#include "zivra/zivra.h"

namespace zivra {

// determine_iface for a transport: over bulk USB (`bulk`) a version whose
// generation is reached over HID only has no table.
zv_iface_t *select_iface(int state, int major, int minor, bool bulk);

// HID: each sends "getversion"; -1 for a null device, 1 (1.0) when the command fails.
float transport_get_version(dev_t *dev);
int transport_major_version(dev_t *dev);
int transport_minor_version(dev_t *dev);
int transport_patch_version(dev_t *dev);

// Bulk USB: vendor control reads; -16 when the transfer fails.
float libusb_zv_version(dev_t *dev);
int libusb_major_version(dev_t *dev);
int libusb_minor_version(dev_t *dev);
int libusb_patch_version(dev_t *dev);

}  // namespace zivra
