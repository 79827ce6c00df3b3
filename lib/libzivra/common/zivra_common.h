// Version getters of the two transports, installed by the driver after an open.
#pragma once
#include "zivra/zivra.h"

namespace zivra {

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
